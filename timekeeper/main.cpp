// Timekeeper: the scheduling service. One object at /OrvoRunner on the session
// bus (org.orvo.OrvoRunner) that starts Gatherer and Bookbinder when their
// schedules fall due or a client asks, and relays their events. It runs until
// it is told to Terminate, or stopped as a service.
#include <sys/signalfd.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QPointer>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "busframe.h"
#include "eventlog.h"
#include "orvo_version.h"
#include "servercmd.h"
#include "service.h"
#include "timekeeper_object.h"

namespace {

using namespace orvo;

const char kBusName[] = "org.orvo.OrvoRunner";
const char kServiceWord[] = "Service";

void PrintHelp() {
  std::printf(
      "Usage: Timekeeper [-RegServer | -Service | -UnregServer | --help]\n"
      "\n"
      "ORVO scheduling service: starts downloads and eBook generation when their\n"
      "schedules (sections ParserSchedule and LitSchedule of ORVO.ini) fall due, and\n"
      "lets the reader and `orvo` start and stop them by hand.\n"
      "Without a switch it runs as the D-Bus service %s on the session bus\n"
      "until it is told to Terminate or receives SIGTERM.\n"
      "\n"
      "  -RegServer    register with the session bus, so that it starts Timekeeper on\n"
      "                demand (writes %s)\n"
      "  -Service      register as above, and install, enable and start the systemd\n"
      "                user unit %s (writes %s), so Timekeeper runs\n"
      "                from login on and downloads on schedule without the reader\n"
      "  -UnregServer  tell a running Timekeeper to Terminate, stop and remove the unit\n"
      "                and the registration\n"
      "  --help        show this text\n"
      "  --version     print the version\n"
      "\n"
      "A switch starts with \"-\" or \"/\", in any letter case, and counts only as the\n"
      "last thing on the command line.\n"
      "\n"
      "While it runs: SIGTERM or SIGINT stops it (stopping a download in progress),\n"
      "SIGUSR1 starts a download and SIGUSR2 an eBook generation.\n"
      "\n"
      "Environment:\n"
      "  ORVO_HOME     program folder (ORVO.ini, orvo_log.txt); kept in the registration\n"
      "  ORVO_SERVICE  1 when started by the unit: messages go to the journal\n",
      kBusName, ActivationFilePath(kBusName).c_str(), kServiceUnitName, ServiceUnitPath().c_str());
}

std::string OrvoHome() {
  const char* home = std::getenv("ORVO_HOME");
  return home ? home : "";
}

int Report(int code, const std::string& message) {
  if (!message.empty()) std::fprintf(code == 0 ? stdout : stderr, "%s\n", message.c_str());
  return code;
}

// Writes the activation file that hands the bus name to the systemd unit, so
// a client's call starts the unit rather than a second Timekeeper.
CommandResult RegisterForUnit() {
  const std::string path = ActivationFilePath(kBusName);
  std::string text = ActivationFileText(kBusName, ExecutablePath(), OrvoHome());
  if (!text.empty() && text.back() != '\n') text += '\n';
  text += std::string("SystemdService=") + kServiceUnitName + "\n";
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  std::string error;
  if (!WriteFileAtomically(path, text, &error)) return {1, "Couldn't create service: " + error};
  return {0, "Registered Timekeeper with the session bus for the unit (" + path + ")."};
}

// Asks a running Timekeeper to leave, without starting one to do so.
void TerminateRunning() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  // Only an owner of the name can be told anything. Asking first also keeps
  // the error reply for a missing owner, and the warnings Qt prints while
  // taking it apart, out of the common case.
  QDBusReply<bool> owned = bus.interface()->isServiceRegistered(QString::fromLatin1(kBusName));
  if (!owned.isValid() || !owned.value()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(kBusName, "/OrvoRunner", "org.orvo.IOrvoRunner", "Terminate");
  call.setAutoStartService(false);
  QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
  if (reply.type() == QDBusMessage::ReplyMessage) std::printf("Told the running Timekeeper to terminate.\n");
}

int Unregister(int argc, char** argv) {
  {
    QCoreApplication app(argc, argv);
    if (!RunningAsService()) TerminateRunning();
  }
  ServiceStep removed = RemoveServiceUnit(ExecutablePath());
  if (!removed.message.empty()) Report(removed.exitCode, removed.message);
  CommandResult r = UnregisterServer("Timekeeper", kBusName);
  Report(r.exitCode, r.message);
  return removed.exitCode ? removed.exitCode : r.exitCode;
}

// SIGTERM and SIGINT (the service's stop), SIGUSR1 and SIGUSR2 (its two own
// controls) are read on the main thread from a signalfd.
class ControlSignals {
 public:
  bool Install() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2}) sigaddset(&set, s);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return false;
    fd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    return fd_ >= 0;
  }
  int fd() const { return fd_; }
  int Next() {
    signalfd_siginfo info;
    if (read(fd_, &info, sizeof info) != sizeof info) return 0;
    return static_cast<int>(info.ssi_signo);
  }

 private:
  int fd_ = -1;
};

int RunService(int argc, char** argv) {
  ControlSignals controls;
  // Before any thread exists, so every thread keeps the signals blocked.
  const bool haveControls = controls.Install();

  QCoreApplication app(argc, argv);
  ServerConfig config;
  config.busName = kBusName;
  config.className = "OrvoRunner";
  config.fixedPath = "/OrvoRunner";
  config.shutdownMonitor = false;
  config.makeObject = [] { return new TimekeeperObject; };
  BusServer server(config);
  QString error;
  if (!server.Start(&error)) {
    WriteEventLog("InitFailure");
    std::fprintf(stderr, "Timekeeper: %s\n", error.toLocal8Bit().constData());
    return 1;
  }
  QObject::connect(&server, &BusServer::finished, &app, [&app](int code) { app.exit(code); });
  // Gone once the server quits; a late signal then finds nothing to start.
  QPointer<TimekeeperObject> object = static_cast<TimekeeperObject*>(server.fixedObject());

  std::unique_ptr<QSocketNotifier> notifier;
  if (haveControls) {
    notifier = std::make_unique<QSocketNotifier>(controls.fd(), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &app, [&] {
      for (int sig = controls.Next(); sig; sig = controls.Next()) {
        if (sig == SIGUSR1) {
          if (object) object->Start();
        } else if (sig == SIGUSR2) {
          if (object) object->StartLitGen();
        } else {
          server.Quit();  // releases the object, which stops a download in progress
        }
      }
    });
  }
  ServiceMessage("Service started");
  const int code = app.exec();
  ServiceMessage("Service stopped");
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string line = JoinCommandLine(argc, argv);
  const ServerCommand cmd = ParseServerCommand(line, {kServiceWord});
  switch (cmd.kind) {
    case ServerSwitch::kHelp:
      PrintHelp();
      return 0;
    case ServerSwitch::kVersion:
      std::printf("Timekeeper %s\n", kVersion);
      return 0;
    case ServerSwitch::kRegServer: {
      // A plain registration replaces an earlier service installation.
      ServiceStep removed = RemoveServiceUnit();
      if (!removed.message.empty()) Report(removed.exitCode, removed.message);
      CommandResult r = RegisterServer("Timekeeper", kBusName, ExecutablePath(), false);
      return Report(r.exitCode, r.message);
    }
    case ServerSwitch::kOther: {  // "Service"
      // An installed copy's packaged unit comes with its activation file.
      if (OrvoHome().empty() && !PackagedServiceUnit(ExecutablePath()).empty()) {
        ServiceStep installed = InstallServiceUnit(ExecutablePath(), "");
        return Report(installed.exitCode, installed.message);
      }
      CommandResult r = RegisterForUnit();
      Report(r.exitCode, r.message);
      if (r.exitCode != 0) return r.exitCode;
      ServiceStep installed = InstallServiceUnit(ExecutablePath(), OrvoHome());
      return Report(installed.exitCode, installed.message);
    }
    case ServerSwitch::kUnregServer:
      return Unregister(argc, argv);
    case ServerSwitch::kNone:
      if (!line.empty())
        std::fprintf(stderr, "Timekeeper: no switch recognised in \"%s\"; running as a server (see --help)\n",
                     line.c_str());
      break;
  }
  return RunService(argc, argv);
}
