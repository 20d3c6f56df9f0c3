// A private D-Bus session bus for tests (target orvo_bus_testing).
//
// Every test that talks to an ORVO server runs it on a bus of its own: a
// dbus-daemon started for the test, with its own temporary folders, so no test
// touches the user's session bus or home and tests can run in parallel.
//
//   #include "busharness.h"
//   TEST(Gathering, ...) {
//     orvo::testing::PrivateBus bus({"Gatherer"});
//     ASSERT_TRUE(bus.ok()) << bus.error();
//     QDBusConnection client = bus.Connect("client");
//     QString error;
//     QDBusObjectPath path = orvo::CreateBusObject(client, "org.orvo.Gatherer2", &error);
//     org::orvo::IGatherer2 gatherer("org.orvo.Gatherer2", path.path(), client);
//     orvo::testing::SignalLog events(client, "org.orvo.Gatherer2", path.path(),
//                                     "org.orvo._IGatherer2Events");
//     gatherer.StartProcess().waitForFinished();
//     ASSERT_TRUE(events.WaitForCount(2, 5000));
//   }
//
// What it does:
// - Starts dbus-daemon (its own process group, killed with the test process
//   should that die) on a socket in a temporary folder. The daemon reads
//   activation files from <root>/data/dbus-1/services.
// - Gives the daemon, and so every server it activates, and every program the
//   test runs through Run()/Start() an environment of temporary folders:
//   HOME=<root>/home, XDG_DATA_HOME=<root>/data, ORVO_HOME=<root>/orvo (the
//   servers' program folder: ORVO.ini, orvo_log.txt), plus Options::env.
// - Registers Options::programs by running "<binDir>/<program> -RegServer",
//   exactly as a user does.
// - Tears everything down in its destructor, also after a failed assertion:
//   connections closed, programs started with Start() killed, the daemon and
//   every server it activated killed (one process group), folders removed.
//
// Needs a QCoreApplication; one is created on first use when the test program
// has none (gtest_main is fine). Create the bus on the main thread: the daemon
// is tied to the thread that started it.
//
// A server in the test's own process (BusServer on a Connect()ion) answers
// only while the test runs the event loop: call it asynchronously and wait
// with WaitUntil(), never with a blocking call.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QProcess;

namespace orvo::testing {

// Creates a QCoreApplication if the process has none (kept for the process).
void EnsureCoreApplication();

// Runs the event loop until `done` is true or `timeoutMs` has passed; returns `done()`.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

// Runs the event loop for `ms`.
void Pump(int ms);

// True while process `pid` exists and has not exited (a zombie counts as exited).
bool ProcessRunning(pid_t pid);

class PrivateBus {
 public:
  struct Options {
    // Programs in binDir to register ("Gatherer", "Bookbinder", "Timekeeper").
    std::vector<std::string> programs;
    // Extra environment for the daemon, the servers it starts and Run()/Start().
    std::map<std::string, std::string> env;
    // Folder of the built programs; empty: ORVO_BIN_DIR from the environment,
    // else the build's bin folder.
    std::string binDir;
  };

  PrivateBus();
  explicit PrivateBus(const Options& options);
  // The usual case: these programs registered, this extra environment.
  explicit PrivateBus(std::vector<std::string> programs, std::map<std::string, std::string> env = {});
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  const std::string& address() const { return address_; }
  const std::string& root() const { return root_; }
  std::string dataHome() const { return root_ + "/data"; }
  std::string serviceDir() const { return root_ + "/data/dbus-1/services"; }
  std::string orvoHome() const { return root_ + "/orvo"; }
  const std::string& binDir() const { return binDir_; }
  pid_t daemonPid() const { return daemonPid_; }
  // What the daemon and the servers it started wrote to stdout/stderr.
  std::string DaemonLog() const;

  // A connection of the test to this bus, by a name unique within the test
  // (each name is a separate client with its own unique bus name).
  QDBusConnection Connect(const QString& name);
  // Closes a connection (its client leaves the bus) once no copy of the
  // QDBusConnection is left: let the copies go out of scope first.
  void Disconnect(const QString& name);

  // The environment given to programs, as NAME=value lines.
  QStringList Environment() const;

  struct Result {
    int exitCode = -1;  // -1 when it crashed or timed out
    bool timedOut = false;
    std::string out, err;
  };
  // Runs a program to its end. `program` is a name in binDir, an absolute
  // path, or a command found in PATH (dbus-send).
  Result Run(const std::string& program, const std::vector<std::string>& args, int timeoutMs = 15000);
  // Starts a program in the background; it is killed at teardown if still running.
  QProcess* Start(const std::string& program, const std::vector<std::string>& args);

  // "<binDir>/<program> -RegServer" (and -UnregServer); true on exit code 0.
  bool Register(const std::string& program);
  bool Unregister(const std::string& program);

  // Process id of the owner of a bus name, or 0 when nobody owns it.
  pid_t OwnerPid(const QString& busName);
  bool HasOwner(const QString& busName);

  // Kills only the daemon (SIGKILL); servers started by it stay up.
  void KillDaemon();

 private:
  std::string Resolve(const std::string& program) const;
  void Setup(const Options& options);
  void TearDown();

  std::string error_;
  std::string root_;
  std::string binDir_;
  std::string address_;
  pid_t daemonPid_ = 0;
  std::map<std::string, std::string> env_;
  std::vector<QString> connections_;
  std::vector<std::unique_ptr<QProcess>> processes_;
  std::unique_ptr<QDBusConnection> control_;
};

// Records every signal that one sender raises, in arrival order.
class SignalLog : public QObject {
  Q_OBJECT
 public:
  struct Entry {
    QString path, interface, member;
    QVariantList args;
  };
  // Subscribes on `connection` to the signals of `interface` that `service`
  // (a well-known or unique name) raises on `path` (every path when empty).
  SignalLog(QDBusConnection connection, const QString& service, const QString& path, const QString& interface);
  ~SignalLog() override;

  const std::vector<Entry>& entries() const { return entries_; }
  // Member names in order ("OnProcessStatus", "Complite", ...).
  QStringList Members() const;
  bool WaitForCount(size_t count, int timeoutMs);

 private Q_SLOTS:
  void OnSignal(const QDBusMessage& message);

 private:
  QDBusConnection connection_;
  QString service_, path_, interface_;
  std::vector<Entry> entries_;
};

}  // namespace orvo::testing
