#include "busframe.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QEvent>
#include <QMetaMethod>

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "eventlog.h"
#include "frame_classfactory_adaptor.h"
#include "frame_classfactory_interface.h"
#include "frame_instance_adaptor.h"
#include "frame_instance_interface.h"
#include "orvo_version.h"
#include "servercmd.h"

namespace orvo {

BusObject::BusObject(QObject* parent) : QObject(parent) {}

BusObject::~BusObject() = default;

void BusObject::Release() {
  if (server_) server_->ReleaseObject(this);
}

BusServer::BusServer(ServerConfig config, QDBusConnection connection)
    : config_(std::move(config)), connection_(std::move(connection)) {
  new ClassFactoryAdaptor(this);
  watcher_ = new QDBusServiceWatcher(this);
  watcher_->setConnection(connection_);
  watcher_->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
  connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, &BusServer::OnClientGone);

  idleTimer_.setSingleShot(true);
  idleTimer_.setTimerType(Qt::PreciseTimer);  // coarse timers may fire 5% early
  connect(&idleTimer_, &QTimer::timeout, this, [this] {
    if (locks_ == 0) Quit();
  });
  // A server whose bus has gone (the session ended) has nobody left to serve.
  busCheck_.setInterval(1000);
  connect(&busCheck_, &QTimer::timeout, this, &BusServer::CheckBus);
}

BusServer::~BusServer() {
  connection_.unregisterObject(QStringLiteral("/"));
  for (auto& [object, entry] : objects_) {
    connection_.unregisterObject(entry.path);
    delete object;
  }
  objects_.clear();
}

bool BusServer::Start(QString* error) {
  if (!connection_.isConnected()) {
    *error = QStringLiteral("cannot connect to the session bus (%1). Start the program from a desktop "
                            "session, or under dbus-run-session.")
                 .arg(connection_.lastError().message());
    return false;
  }
  // Objects first, then the name: a call queued by the bus for this name
  // arrives as soon as the name is ours and must find its object.
  if (!connection_.registerObject(QStringLiteral("/"), this, QDBusConnection::ExportAdaptors)) {
    *error = QStringLiteral("cannot register the root object on the bus.");
    return false;
  }
  if (!config_.fixedPath.isEmpty()) {
    BusObject* object = config_.makeObject ? config_.makeObject() : nullptr;
    if (!object) {
      *error = QStringLiteral("cannot create the object at %1.").arg(config_.fixedPath);
      return false;
    }
    if (RegisterObject(object, config_.fixedPath, error).isEmpty()) {
      delete object;
      return false;
    }
    fixed_ = object;
  }
  QDBusConnectionInterface* bus = connection_.interface();
  QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus->registerService(
      config_.busName, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
  if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
    *error = reply.isValid() ? QStringLiteral("the bus name %1 is already owned by another process: this "
                                              "server is running already, and its clients use that one.")
                                   .arg(config_.busName)
                             : QStringLiteral("cannot own the bus name %1 (%2).")
                                   .arg(config_.busName, reply.error().message());
    return false;
  }
  busCheck_.start();
  if (config_.shutdownMonitor && locks_ == 0) idleTimer_.start(config_.idleExitMs);
  return true;
}

QString BusServer::RegisterObject(BusObject* object, QString path, QString* error) {
  object->server_ = this;
  new InstanceAdaptor(object);
  if (!connection_.registerObject(path, object, QDBusConnection::ExportAdaptors)) {
    *error = QStringLiteral("cannot register an object at %1.").arg(path);
    return {};
  }
  Entry& entry = objects_[object];
  entry.path = path;
  Lock();
  return path;
}

void BusServer::ReplyError(const char* name, const QString& text) {
  if (calledFromDBus()) sendErrorReply(QString::fromLatin1(name), text);
}

QDBusObjectPath BusServer::CreateInstance() {
  if (stopping_) {
    ReplyError(kErrorServerStopping,
               QStringLiteral("%1 is shutting down; call again and the bus starts it anew.").arg(config_.busName));
    return {};
  }
  if (fixed_) return QDBusObjectPath(objects_[fixed_].path);

  BusObject* object = nullptr;
  std::string why;
  try {
    if (config_.makeObject) object = config_.makeObject();
  } catch (const std::exception& e) {
    why = std::string(": ") + e.what();
  }
  if (!object) {
    WriteEventLog("Could not create an object of " + config_.className.toStdString() + why);
    ReplyError(kErrorCreateFailed,
               QStringLiteral("%1 could not create its object; see %2.")
                   .arg(config_.busName, QString::fromStdString(EventLogPath())));
    return {};
  }
  QString error;
  const QString path = RegisterObject(object, QStringLiteral("/%1/%2").arg(config_.className).arg(++nextId_), &error);
  if (path.isEmpty()) {
    delete object;
    ReplyError(kErrorCreateFailed, error);
    return {};
  }
  WatchActivity(object);

  Entry& entry = objects_[object];
  if (calledFromDBus()) entry.creator = message().service();
  if (!entry.creator.isEmpty()) {
    watcher_->addWatchedService(entry.creator);
    // A client that left before we saw its call (a call without a reply) is gone already.
    if (!connection_.interface()->isServiceRegistered(entry.creator).value()) MakeOrphan(object, entry);
  }
  return QDBusObjectPath(path);
}

void BusServer::WatchActivity(BusObject* object) {
  // Calls reach the object as meta-call events; its own signals are its events.
  object->installEventFilter(this);
  const QMetaObject* meta = object->metaObject();
  const QMetaMethod activity = metaObject()->method(metaObject()->indexOfSlot("OnObjectActivity()"));
  for (int i = BusObject::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
    const QMetaMethod m = meta->method(i);
    if (m.methodType() == QMetaMethod::Signal) connect(object, m, this, activity);
  }
}

bool BusServer::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MetaCall) Touch(static_cast<BusObject*>(watched));
  return QObject::eventFilter(watched, event);
}

void BusServer::OnObjectActivity() { Touch(static_cast<BusObject*>(sender())); }

void BusServer::Touch(BusObject* object) {
  auto it = objects_.find(object);
  if (it != objects_.end() && it->second.orphanTimer) it->second.orphanTimer->start(config_.orphanGraceMs);
}

void BusServer::MakeOrphan(BusObject* object, Entry& entry) {
  if (entry.orphanTimer) return;
  entry.orphanTimer = std::make_unique<QTimer>();
  entry.orphanTimer->setSingleShot(true);
  connect(entry.orphanTimer.get(), &QTimer::timeout, this, [this, object] {
    auto it = objects_.find(object);
    if (it == objects_.end()) return;
    WriteEventLog(config_.busName.toStdString() + ": released " + it->second.path.toStdString() +
                  ", whose client has left the bus");
    ReleaseObject(object);
  });
  entry.orphanTimer->start(config_.orphanGraceMs);
}

void BusServer::OnClientGone(const QString& uniqueName) {
  watcher_->removeWatchedService(uniqueName);
  for (auto& [object, entry] : objects_) {
    if (entry.creator == uniqueName) MakeOrphan(object, entry);
  }
}

void BusServer::Drop(std::map<BusObject*, Entry>::iterator it) {
  BusObject* object = it->first;
  connection_.unregisterObject(it->second.path);
  object->removeEventFilter(this);
  disconnect(object, nullptr, this, nullptr);
  if (QTimer* timer = it->second.orphanTimer.release()) {
    // It may be the timer whose timeout brought us here.
    timer->stop();
    timer->disconnect();
    timer->deleteLater();
  }
  objects_.erase(it);
  // Not deleted here: Release arrives through a call on the object itself.
  object->deleteLater();
}

void BusServer::ReleaseObject(BusObject* object) {
  if (object == fixed_) return;  // lives as long as the server
  auto it = objects_.find(object);
  if (it == objects_.end()) return;
  Drop(it);
  Unlock();
}

void BusServer::Lock() {
  ++locks_;
  idleTimer_.stop();
}

void BusServer::Unlock() {
  if (locks_ > 0) --locks_;
  if (locks_ == 0 && config_.shutdownMonitor && !stopping_) idleTimer_.start(config_.idleExitMs);
}

void BusServer::Quit() {
  if (stopping_) return;
  stopping_ = true;
  idleTimer_.stop();
  // Name first: from now on the bus starts a new server for new clients.
  connection_.interface()->unregisterService(config_.busName);
  while (!objects_.empty()) Drop(objects_.begin());
  fixed_ = nullptr;
  locks_ = 0;
  QTimer::singleShot(config_.exitPauseMs, Qt::PreciseTimer, this, [this] { Finish(0); });
}

void BusServer::CheckBus() {
  if (connection_.isConnected()) return;
  WriteEventLog(config_.busName.toStdString() + ": lost the session bus; the server exits.");
  Finish(1);
}

void BusServer::Finish(int exitCode) {
  if (finished_) return;
  finished_ = true;
  busCheck_.stop();
  idleTimer_.stop();
  emit finished(exitCode);
}

namespace {

void PrintHelp(const ServerProgram& p) {
  const std::string name = p.name;
  std::printf(
      "Usage: %s [-RegServer | -UnregServer | --help]\n"
      "\n"
      "%s\n"
      "Without a switch it runs as the D-Bus service %s on the session bus.\n"
      "\n"
      "  -RegServer    register with the session bus, so that it starts %s on demand\n"
      "                (writes %s)\n"
      "  -UnregServer  remove that registration\n"
      "  --help        show this text\n"
      "  --version     print the version\n"
      "%s"
      "\n"
      "A switch starts with \"-\" or \"/\", in any letter case, and counts only as the\n"
      "last thing on the command line.\n",
      name.c_str(), p.summary.c_str(), p.config.busName.toStdString().c_str(), name.c_str(),
      ActivationFilePath(p.config.busName.toStdString()).c_str(), p.moreHelp.c_str());
  if (p.config.shutdownMonitor) {
    std::printf(
        "\nAs a server it exits %d seconds after its last object is released. An object whose\n"
        "client has left the bus is released after %d seconds without calls or events.\n",
        p.config.idleExitMs / 1000, p.config.orphanGraceMs / 1000);
  }
  std::printf(
      "\nEnvironment:\n"
      "  ORVO_HOME             program folder (ORVO.ini, orvo_log.txt); kept in the registration\n"
      "  ORVO_DATABASE         news database, over ORVO.ini's; kept in the registration (a\n"
      "                        password is refused there: put it in ~/.pgpass)\n"
      "  XDG_DATA_HOME         where the registration goes (default ~/.local/share)\n"
      "  ORVO_ORPHAN_GRACE_MS  grace for objects whose client has left the bus\n"
      "\nTry it:\n"
      "  dbus-send --session --print-reply --dest=%s / org.orvo.ClassFactory.CreateInstance\n",
      p.config.busName.toStdString().c_str());
}

}  // namespace

int RunServerProgram(int argc, char** argv, ServerProgram program) {
  if (const char* grace = std::getenv("ORVO_ORPHAN_GRACE_MS"); grace && *grace) {
    char* end = nullptr;
    long ms = std::strtol(grace, &end, 10);
    if (*end == '\0' && ms >= 0 && ms <= 24L * 3600 * 1000) program.config.orphanGraceMs = static_cast<int>(ms);
    else std::fprintf(stderr, "%s: ignoring ORVO_ORPHAN_GRACE_MS=\"%s\": not a number of milliseconds\n",
                      program.name.c_str(), grace);
  }

  const std::string line = JoinCommandLine(argc, argv);
  const ServerCommand cmd = ParseServerCommand(line, program.extraWords);
  const std::string busName = program.config.busName.toStdString();
  switch (cmd.kind) {
    case ServerSwitch::kHelp:
      PrintHelp(program);
      return 0;
    case ServerSwitch::kVersion:
      std::printf("%s %s\n", program.name.c_str(), kVersion);
      return 0;
    case ServerSwitch::kRegServer:
    case ServerSwitch::kUnregServer: {
      const CommandResult r = cmd.kind == ServerSwitch::kRegServer
                                  ? RegisterServer(program.name, busName, ExecutablePath())
                                  : UnregisterServer(program.name, busName);
      std::fprintf(r.exitCode == 0 ? stdout : stderr, "%s\n", r.message.c_str());
      return r.exitCode;
    }
    case ServerSwitch::kOther:
      if (program.onExtraWord) return program.onExtraWord(cmd.word);
      break;
    case ServerSwitch::kNone:
      if (!line.empty()) {
        std::fprintf(stderr, "%s: no switch recognised in \"%s\"; running as a server (see --help)\n",
                     program.name.c_str(), line.c_str());
      }
      break;
  }

  std::unique_ptr<QCoreApplication> application =
      program.makeApplication ? program.makeApplication(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
  QCoreApplication& app = *application;
  BusServer server(program.config);
  QString error;
  if (!server.Start(&error)) {
    WriteEventLog("InitFailure");
    std::fprintf(stderr, "%s: %s\n", program.name.c_str(), error.toLocal8Bit().constData());
    return 1;
  }
  QObject::connect(&server, &BusServer::finished, &app, [&app](int code) { app.exit(code); });
  return app.exec();
}

QDBusObjectPath CreateBusObject(const QDBusConnection& connection, const QString& busName, QString* error) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    org::orvo::ClassFactory factory(busName, QStringLiteral("/"), connection);
    QDBusPendingReply<QDBusObjectPath> reply = factory.CreateInstance();
    reply.waitForFinished();
    if (!reply.isError()) return reply.value();
    if (reply.error().name() == QLatin1String(kErrorServerStopping)) continue;
    if (error) *error = reply.error().message();
    return {};
  }
  if (error) *error = QStringLiteral("%1 keeps shutting down; try again later.").arg(busName);
  return {};
}

bool ReleaseBusObject(const QDBusConnection& connection, const QString& busName, const QString& path,
                      QString* error) {
  org::orvo::Instance instance(busName, path, connection);
  QDBusPendingReply<> reply = instance.Release();
  reply.waitForFinished();
  if (reply.isError() && error) *error = reply.error().message();
  return !reply.isError();
}

}  // namespace orvo
