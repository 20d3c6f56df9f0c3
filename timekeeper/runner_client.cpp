#include "runner_client.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QTimer>

#include "eventlog.h"
#include "timekeeper_interface.h"

namespace orvo {

namespace {
const QString kRunnerName = QStringLiteral("org.orvo.OrvoRunner");
const QString kRunnerPath = QStringLiteral("/OrvoRunner");
constexpr int kFromGathering = 0;
constexpr int kFromLitGen = 1;
constexpr int kFromService = 50;
constexpr int kGatheringInterrupted = 2;
constexpr int kLitGenEnded = 1024;
constexpr int kLitGenInterrupted = 1025;
}  // namespace

bool TimekeeperAvailable(const QDBusConnection& bus) {
  if (!bus.isConnected()) return false;
  QDBusConnectionInterface* iface = bus.interface();
  if (iface->isServiceRegistered(kRunnerName).value()) return true;
  return iface->activatableServiceNames().value().contains(kRunnerName);
}

RunnerClient::RunnerClient(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {}

void RunnerClient::StopDownload() {
  org::orvo::IOrvoRunner runner(kRunnerName, kRunnerPath, bus_);
  runner.Stop();  // not waited for: its answer is the run's end
}

bool RunnerClient::Interrupt() {
  if (interruptedOnce_) return false;
  interruptedOnce_ = true;
  if (joined_) {
    if (leave_) leave_();
  } else {
    StopDownload();
  }
  return true;
}

RunnerOutcome RunnerClient::Run(RunnerJob job, const StatusFn& onStatus, int silenceMs) {
  RunnerOutcome outcome;
  const bool download = job == RunnerJob::kDownload;
  const QString engine = download ? QStringLiteral("Gatherer") : QStringLiteral("Bookbinder");

  // GetStatus starts the service when it does not run yet.
  {
    org::orvo::IOrvoRunner starter(kRunnerName, kRunnerPath, bus_);
    QDBusPendingReply<int> woken = starter.GetStatus();
    woken.waitForFinished();
    if (woken.isError()) {
      outcome.error = QStringLiteral("cannot reach Timekeeper: %1").arg(woken.error().message());
      return outcome;
    }
  }
  // Calls and events go to the process that owns the name now. On the
  // well-known name Qt would drop a just-started service's events until it
  // has handled that name's change of owner, which can come after them, and
  // the run's end would never be seen.
  const QString owner = bus_.interface()->serviceOwner(kRunnerName).value();
  if (owner.isEmpty()) {
    outcome.error = QStringLiteral("Timekeeper left the bus before the run started");
    return outcome;
  }
  org::orvo::IOrvoRunner runner(owner, kRunnerPath, bus_);
  org::orvo::_IOrvoRunnerEvents events(owner, kRunnerPath, bus_);
  QEventLoop loop;
  QTimer silence;
  silence.setSingleShot(true);
  silence.setInterval(silenceMs);
  bool done = false;
  auto finish = [&](const QString& error) {
    if (done) return;
    done = true;
    if (!error.isEmpty() && outcome.error.isEmpty()) outcome.error = error;
    outcome.completed = outcome.error.isEmpty();
    loop.quit();
  };

  connect(&events, &org::orvo::_IOrvoRunnerEvents::OnProcessStatus, &loop,
          [&](const QString& text, int from, int nID) {
            const bool mine = from == kFromService || (download ? from == kFromGathering : from == kFromLitGen);
            if (!mine) return;
            if (from == kFromService) {
              // Service messages name the engine they are about.
              const bool creationFailed = text.startsWith(QStringLiteral("Could not create instance"));
              if (creationFailed && !text.contains(engine)) return;
              if (creationFailed) outcome.error = text;
              if (download && text == QLatin1String("Download is stopped.")) outcome.stopped = true;
            }
            silence.start();
            if (onStatus) onStatus(text, from, nID);
          });
  connect(&events, &org::orvo::_IOrvoRunnerEvents::Complite, &loop, [&](int status) {
    if (download != (status < kLitGenEnded)) {
      silence.start();
      return;
    }
    outcome.interrupted = status == (download ? kGatheringInterrupted : kLitGenInterrupted);
    if (!download || outcome.interrupted) {
      finish({});
      return;
    }
    // A stop sends "Download is stopped." right after this Complite. The
    // service answers a call only after it, so once this answer is in, that
    // message has been delivered too, if there was one.
    auto* after = new QDBusPendingCallWatcher(runner.GetStatus(), &loop);
    connect(after, &QDBusPendingCallWatcher::finished, &loop, [&finish](QDBusPendingCallWatcher* w) {
      w->deleteLater();
      finish({});
    });
  });
  connect(&silence, &QTimer::timeout, &loop, [&] {
    finish(QStringLiteral("Timekeeper reported nothing for %1 seconds; the run may be stuck (see %2)")
               .arg(silenceMs / 1000)
               .arg(QString::fromStdString(EventLogPath())));
  });

  QDBusServiceWatcher watcher(owner, bus_, QDBusServiceWatcher::WatchForUnregistration);
  connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, &loop,
          [&] { finish(QStringLiteral("Timekeeper left the bus before the end of the run")); });

  // Asked again once subscribed: the service answers after every event it
  // sent before, so a download that ended in between is not followed.
  QDBusPendingReply<int> status = runner.GetStatus();
  status.waitForFinished();
  if (status.isError()) {
    outcome.error = QStringLiteral("cannot reach Timekeeper: %1").arg(status.error().message());
    return outcome;
  }

  QDBusPendingReply<> started;
  joined_ = false;
  interruptedOnce_ = false;
  if (download && (status.value() & 1)) {
    outcome.joined = joined_ = true;  // follow the download already running
    leave_ = [&] {
      outcome.left = true;
      finish({});
    };
  } else {
    started = download ? runner.Start() : runner.StartLitGen();
    started.waitForFinished();
    if (started.isError()) {
      outcome.error = QStringLiteral("Timekeeper refused the start: %1").arg(started.error().message());
      return outcome;
    }
  }
  silence.start();
  if (!done) loop.exec();
  leave_ = nullptr;
  if (outcome.left) outcome.completed = false;
  return outcome;
}

}  // namespace orvo
