// The scheduling service's logic: the OrvoRunner object.
//
// Two ten-second timers check the "ParserSchedule" and "LitSchedule" sections
// and start Gatherer or Bookbinder when an entry falls due; clients start and
// stop runs by hand through the same steps. Every engine status is relayed as
// OnProcessStatus (source 0 for gathering, 1 for eBook generation, 50 for the
// stop message) and every end of a run as Complite (1 after gathering, 1024
// after eBook generation). Everything runs on the thread of the event loop;
// requests are queued and handled there, one at a time.
//
// An engine that stops answering (no event, and no answer to the service's
// probe calls, for the stall bound) would hold its schedule for ever: its run
// is ended, with a message, and the engine's process ended so that the next
// run starts a fresh one. A run whose engine was lost or stalled ends with the
// interrupted status, never with the completed one.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <mutex>

#include "due.h"
#include "engines.h"
#include "settings.h"

namespace orvo {

class Runner : public QObject {
  Q_OBJECT

 public:
  // Sources of OnProcessStatus and the statuses of Complite.
  static constexpr int kFromGathering = 0;
  static constexpr int kFromLitGen = 1;
  static constexpr int kFromStop = 50;
  static constexpr int kGatheringEnded = 1;
  static constexpr int kLitGenEnded = 1024;
  // The engine left, crashed or stalled before its own end: what the run
  // stored so far stays, but the run did not complete.
  static constexpr int kGatheringInterrupted = 2;
  static constexpr int kLitGenInterrupted = 1025;
  static constexpr int kScheduleIntervalMs = 10000;

  // How long an engine may stay silent: Download/StallTimeout seconds when
  // set, else twice the page time-out (ConnectTimeout, 0 meaning 300) and a
  // minute, since a healthy engine can sit that long in blocking requests.
  static int StallBoundSeconds(const Settings& settings);

  Runner(EngineFactory* factory, Settings settings, Clock clock = LocalNow, QObject* parent = nullptr);
  ~Runner() override;

  // Starts both schedule timers (the service does this once its object is on
  // the bus).
  void StartTimers(int intervalMs = kScheduleIntervalMs);

  // Leaving the service: stops the timers, stops and releases Gatherer and
  // releases Bookbinder.
  void Shutdown();

  // What one tick of a schedule timer does: when an entry of the engine's
  // section is due, stops that timer and starts the engine. A start that
  // fails restarts the timer, so one failure does not end the schedule.
  void CheckSchedule(EngineKind kind);

  bool TimerActive(EngineKind kind) const;
  bool LitGenRunning() const { return litGenRunning_; }

 public slots:
  // IOrvoRunner. Each returns at once; the work is queued to the loop.
  int GetStatus() const;  // 1 while gathering runs
  void Start();
  void Stop();
  void StartLitGen();
  void Terminate();

 signals:
  // _IOrvoRunnerEvents.
  void Complite(int status);
  void OnProcessStatus(const QString& bstrStatus, int from, int nID);
  // Terminate was called: the program leaves its loop.
  void terminateRequested();

 private:
  enum class End { kCompleted, kStopped, kInterrupted };
  void StartGathering();
  void EndGathering(End end);
  bool StartLitGenRun();
  void EndLitGen(End end);
  bool Create(EngineKind kind, std::unique_ptr<Engine>* engine);
  void OnGathererStatus(unsigned run, const QString& text, int nID);
  void OnLitGenStatus(unsigned run, const QString& text);
  QTimer& TimerOf(EngineKind kind) { return kind == EngineKind::kGatherer ? gatherTimer_ : litTimer_; }
  // A run began: its silence is measured from now, and the watch starts.
  void Watch(EngineKind kind);
  void OnWatchTick();
  void EndStalled(EngineKind kind);

  EngineFactory* factory_;
  Settings settings_;
  DueCheck parserDue_;
  DueCheck litDue_;
  QTimer gatherTimer_;
  QTimer litTimer_;
  // Watches the running engines for silence.
  QTimer watchTimer_;
  int stallBoundMs_ = 0;
  QElapsedTimer gatherSign_;  // since the last event or answer of Gatherer
  QElapsedTimer litSign_;

  // The service lock: held for each start and end step and each relay.
  std::recursive_mutex lock_;
  bool timersOn_ = false;  // between StartTimers and Shutdown
  bool gatheringRunning_ = false;
  bool litGenRunning_ = false;
  std::unique_ptr<Engine> gatherer_;
  std::unique_ptr<Engine> bookbinder_;
  // Each run gets a number; queued events of an earlier run are dropped.
  unsigned gatherRun_ = 0;
  unsigned litRun_ = 0;
};

}  // namespace orvo
