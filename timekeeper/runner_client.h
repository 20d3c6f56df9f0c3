// A client of the scheduling service, for programs that start runs by hand
// through it (`orvo download`, `orvo generate`): start a download or an eBook
// generation through OrvoRunner and follow its relayed events to its end.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>

namespace orvo {

// Whether Timekeeper serves this bus: it runs now, or the bus can start it
// (it is registered).
bool TimekeeperAvailable(const QDBusConnection& bus);

enum class RunnerJob { kDownload, kLitGen };

struct RunnerOutcome {
  bool completed = false;    // the run's Complite arrived
  bool stopped = false;      // ... after "Download is stopped."
  bool interrupted = false;  // ... saying the engine was lost or stalled first
  bool joined = false;       // a download was already running; this followed it
  bool left = false;         // this client left a run it had joined (Interrupt)
  QString error;           // why it did not run or did not end, when it failed
};

class RunnerClient : public QObject {
  Q_OBJECT

 public:
  explicit RunnerClient(QDBusConnection bus, QObject* parent = nullptr);

  using StatusFn = std::function<void(const QString& text, int from, int nID)>;

  // Starts the job through the service, or follows a download that already
  // runs, and runs the event loop until its Complite arrives. Fails when the
  // service cannot create the engine, leaves the bus, or says nothing for
  // `silenceMs`. Every status of the job is passed to `onStatus`.
  RunnerOutcome Run(RunnerJob job, const StatusFn& onStatus, int silenceMs);

  // Asks the service to stop the download (Ctrl+C in a command).
  void StopDownload();

  // Ctrl+C during Run: a run this client started is stopped (Run returns at
  // its end); one it joined is left to whoever started it, and Run returns
  // at once. Once per run; true when this call did something.
  bool Interrupt();

 private:
  QDBusConnection bus_;
  bool joined_ = false;
  bool interruptedOnce_ = false;
  std::function<void()> leave_;  // set while Run follows a joined download
};

}  // namespace orvo
