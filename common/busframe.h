// The frame shared by the ORVO servers (Gatherer, Bookbinder, Timekeeper) on
// the D-Bus session bus.
//
// A server owns one bus name (org.orvo.Gatherer2, ...). Its root object "/"
// implements org.orvo.ClassFactory: CreateInstance() makes a new object,
// registers it at /<ClassName>/<n> and returns that path. Every object also
// implements org.orvo.Instance: Release() destroys it. Objects raise their
// events as D-Bus signals on their own path; clients subscribe with a match
// rule (the generated proxies do that for them).
//
// Lifetime: the lock count is the number of live objects plus explicit
// Lock() calls. With the shutdown monitor on, the server exits 5 s after the
// count falls to 0 (a CreateInstance meanwhile keeps it alive), then pauses
// 1 s with its name already released before the process ends. A server
// started by the bus that never gets an object also exits after 5 s.
//
// An object whose creator leaves the bus (exits, crashes, is killed) is
// released once it has been idle for a grace period: no call to it and no
// event from it. The grace lets one-shot clients such as dbus-send, which
// leave the bus after every call, drive an object by hand.
//
// Writing a server:
//   class GathererObject : public orvo::BusObject { ... signals, slots ... };
//   // its constructor attaches the adaptors generated from idl/gatherer.xml
//   int main(int argc, char** argv) {
//     orvo::ServerProgram p;
//     p.name = "Gatherer"; ...
//     p.config.makeObject = [] { return new orvo::GathererObject; };
//     return orvo::RunServerProgram(argc, argv, p);
//   }
#pragma once

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QDBusServiceWatcher;

namespace orvo {

class BusServer;

// Error names the frame replies with.
inline constexpr const char* kErrorServerStopping = "org.orvo.Error.ServerStopping";
inline constexpr const char* kErrorCreateFailed = "org.orvo.Error.CreateFailed";
// An engine that runs one job at a time refuses a second start, and a stop
// from a client other than the one whose job it is.
inline constexpr const char* kErrorBusy = "org.orvo.Error.Busy";
inline constexpr const char* kErrorNotYourRun = "org.orvo.Error.NotYourRun";

// Base of every object a server makes. Subclasses declare the interface's
// methods as public slots and its events as signals, and attach the generated
// adaptors in their constructor. The object lives on the main thread.
class BusObject : public QObject, protected QDBusContext {
  Q_OBJECT
 public:
  explicit BusObject(QObject* parent = nullptr);
  ~BusObject() override;

  // The server that made this object; null when made outside a server
  // (engine tests).
  BusServer* server() const { return server_; }

 public Q_SLOTS:
  // org.orvo.Instance.Release.
  void Release();

 private:
  friend class BusServer;
  BusServer* server_ = nullptr;
};

struct ServerConfig {
  QString busName;    // "org.orvo.Gatherer2"
  QString className;  // "Gatherer2": objects are made at /Gatherer2/1, /Gatherer2/2, ...
  // When set, the server makes one object at this path when it starts, and
  // CreateInstance returns that path; Release of it is ignored.
  QString fixedPath;
  bool shutdownMonitor = true;
  std::function<BusObject*()> makeObject;

  int idleExitMs = 5000;   // count at 0 this long: exit
  int exitPauseMs = 1000;  // name released, then this pause, then the process ends
  int orphanGraceMs = 60000;
};

// The running server: root object, objects, lock count, shutdown.
class BusServer : public QObject, protected QDBusContext {
  Q_OBJECT
 public:
  explicit BusServer(ServerConfig config, QDBusConnection connection = QDBusConnection::sessionBus());
  ~BusServer() override;

  // Registers "/", the fixed object if any, and then the bus name. False with
  // a message for the user when the bus is unreachable or the name is taken.
  bool Start(QString* error);

  const ServerConfig& config() const { return config_; }
  QDBusConnection connection() const { return connection_; }
  int lockCount() const { return locks_; }
  int objectCount() const { return static_cast<int>(objects_.size()); }
  BusObject* fixedObject() const { return fixed_; }
  bool stopping() const { return stopping_; }

  // An extra lock that keeps the process alive (work that must finish).
  void Lock();
  void Unlock();

  // Orderly end: the name is released, objects are dropped, and after the
  // pause finished() is emitted.
  void Quit();

  // Destroys an object as if its client had called Release.
  void ReleaseObject(BusObject* object);

 public Q_SLOTS:
  // org.orvo.ClassFactory.CreateInstance.
  QDBusObjectPath CreateInstance();

 Q_SIGNALS:
  // The server has shut down (exit code 0) or lost its bus (exit code 1).
  void finished(int exitCode);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private Q_SLOTS:
  void OnClientGone(const QString& uniqueName);
  void OnObjectActivity();
  void CheckBus();

 private:
  struct Entry {
    QString path;
    QString creator;  // unique bus name; empty when unknown
    std::unique_ptr<QTimer> orphanTimer;  // running while the creator is gone
  };

  QString RegisterObject(BusObject* object, QString path, QString* error);
  void WatchActivity(BusObject* object);
  void Touch(BusObject* object);
  void MakeOrphan(BusObject* object, Entry& entry);
  void Drop(std::map<BusObject*, Entry>::iterator it);
  void Finish(int exitCode);
  void ReplyError(const char* name, const QString& text);

  ServerConfig config_;
  QDBusConnection connection_;
  QDBusServiceWatcher* watcher_ = nullptr;
  std::map<BusObject*, Entry> objects_;
  BusObject* fixed_ = nullptr;
  int locks_ = 0;
  quint64 nextId_ = 0;
  bool stopping_ = false;
  bool finished_ = false;
  QTimer idleTimer_;
  QTimer busCheck_;
};

// What a server program tells the frame about itself.
struct ServerProgram {
  std::string name;     // "Gatherer"
  std::string summary;  // one line for --help
  std::string moreHelp;  // the program's own switches, for --help (lines ending in "\n")
  ServerConfig config;
  // The program's own command-line words besides RegServer/UnregServer.
  std::vector<std::string> extraWords;
  // Called for one of extraWords; returns the exit code.
  std::function<int(const std::string& word)> onExtraWord;
  // Makes the application object the server runs in; empty: a QCoreApplication.
  std::function<std::unique_ptr<QCoreApplication>(int& argc, char** argv)> makeApplication;
};

// The whole program: --help, -RegServer, -UnregServer, or run as a server
// until the frame says it is done. Returns the process exit code.
// ORVO_ORPHAN_GRACE_MS in the environment overrides config.orphanGraceMs.
int RunServerProgram(int argc, char** argv, ServerProgram program);

// Client side: asks the server behind `busName` for a new object and returns
// its path. The bus starts the server when needed; a server that is just
// stopping is asked once more (the bus then starts a new one). On failure the
// path is empty and `error` says why.
QDBusObjectPath CreateBusObject(const QDBusConnection& connection, const QString& busName, QString* error);

// Client side: Release() on an object; false with `error` on failure.
bool ReleaseBusObject(const QDBusConnection& connection, const QString& busName, const QString& path,
                      QString* error);

}  // namespace orvo
