#include "bus_engines.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>

#include "bookbinder_interface.h"
#include "busframe.h"
#include "eventlog.h"
#include "frame_instance_interface.h"
#include "gatherer_interface.h"

namespace orvo {

QString EngineBusName(EngineKind kind) {
  return kind == EngineKind::kGatherer ? QStringLiteral("org.orvo.Gatherer2") : QStringLiteral("org.orvo.OrvoConvert");
}

namespace {

constexpr int kTermGraceMs = 5000;

// SIGTERM now (with SIGCONT, so a stopped process can act on it), SIGKILL
// after the grace period if the process is still there. Through a pidfd, so
// a pid reused meanwhile is never hit.
bool SendSignal(int pidfd, int sig) { return ::syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0) == 0; }

void EndEngineProcess(const char* engine, pid_t pid) {
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) return;  // already gone
  const std::string who = std::string(engine) + " (process " + std::to_string(pid) + ")";
  SendSignal(fd, SIGTERM);
  SendSignal(fd, SIGCONT);
  WriteEventLog(who + " was asked to end (SIGTERM).");
  QTimer::singleShot(kTermGraceMs, QCoreApplication::instance(), [fd, who] {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) == 0 && SendSignal(fd, SIGKILL))
      WriteEventLog(who + " did not end within " + std::to_string(kTermGraceMs / 1000) +
                    " s of SIGTERM and was killed (SIGKILL).");
    ::close(fd);
  });
}

// One engine object on the bus. Calls and events go to the process that made
// the object (its unique name), never to whichever process owns the
// well-known name later.
class BusEngine : public Engine {
 public:
  BusEngine(const QDBusConnection& connection, EngineKind kind, const QString& owner, const QString& path)
      : connection_(connection), kind_(kind), owner_(owner), path_(path) {
    if (kind == EngineKind::kGatherer) {
      gatherer_ = new org::orvo::IGatherer2(owner, path, connection, this);
      auto* events = new org::orvo::_IGatherer2Events(owner, path, connection, this);
      connect(events, &org::orvo::_IGatherer2Events::Complite, this, &Engine::complete);
      connect(events, &org::orvo::_IGatherer2Events::OnProcessStatus, this, &Engine::status);
    } else {
      bookbinder_ = new org::orvo::IOrvoConvert(owner, path, connection, this);
      auto* events = new org::orvo::_IOrvoConvertEvents(owner, path, connection, this);
      connect(events, &org::orvo::_IOrvoConvertEvents::Complite, this, &Engine::complete);
      connect(events, &org::orvo::_IOrvoConvertEvents::OnProcessStatus, this,
              [this](const QString& text) { emit status(text, -1); });
    }
    auto* watcher = new QDBusServiceWatcher(owner, connection, QDBusServiceWatcher::WatchForUnregistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
      emit lost(QStringLiteral("%1 left the bus").arg(EngineName(kind_)));
    });
  }

  ~BusEngine() override {
    // Not waited for: an engine busy in a long request must not hold up the
    // service. The bus delivers it after any Stop sent before.
    org::orvo::Instance(owner_, path_, connection_).Release();
  }

  bool Begin(QString* error) override {
    QDBusPendingReply<> reply = gatherer_ ? gatherer_->StartProcess() : bookbinder_->Generate(0);
    reply.waitForFinished();
    if (!reply.isError()) return true;
    *error = reply.error().name() + QStringLiteral(": ") + reply.error().message();
    return false;
  }

  void Stop() override {
    if (gatherer_) gatherer_->Stop();  // not waited for, as Release
  }

  void EndProcess() override {
    // The pid the bus knows for the process that made our object.
    QDBusReply<uint> pid = connection_.interface()->servicePid(owner_);
    if (pid.isValid() && pid.value() > 0) EndEngineProcess(EngineName(kind_), static_cast<pid_t>(pid.value()));
  }

  // Any object on the bus answers Introspect, and it is answered on the
  // engine's main thread, where its run works: a stopped or wedged engine
  // does not answer. One call at a time.
  void Probe() override {
    if (probing_) return;
    probing_ = true;
    QDBusMessage call = QDBusMessage::createMethodCall(owner_, path_, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                                       QStringLiteral("Introspect"));
    auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
      probing_ = false;
      const bool ok = !w->isError();
      w->deleteLater();
      if (ok) emit answered();
    });
  }

 private:
  QDBusConnection connection_;
  EngineKind kind_;
  QString owner_;
  QString path_;
  org::orvo::IGatherer2* gatherer_ = nullptr;
  org::orvo::IOrvoConvert* bookbinder_ = nullptr;
  bool probing_ = false;
};

}  // namespace

std::unique_ptr<Engine> BusEngineFactory::Create(EngineKind kind, QString* error) {
  const QString name = EngineBusName(kind);
  QString why;
  const QDBusObjectPath path = CreateBusObject(connection_, name, &why);
  if (path.path().isEmpty()) {
    *error = why.isEmpty() ? QStringLiteral("no object from %1").arg(name) : why;
    return nullptr;
  }
  QDBusReply<QString> owner = connection_.interface()->serviceOwner(name);
  if (!owner.isValid()) {
    *error = QStringLiteral("%1 left the bus right after creating the object").arg(name);
    return nullptr;
  }
  return std::make_unique<BusEngine>(connection_, kind, owner.value(), path.path());
}

}  // namespace orvo
