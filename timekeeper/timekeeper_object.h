// OrvoRunner, the scheduling service's one object on the bus (/OrvoRunner):
// org.orvo.IOrvoRunner with the events of org.orvo._IOrvoRunnerEvents
// (idl/timekeeper.xml).
//
// The adaptor generated from idl/timekeeper.xml includes this header and calls
// these slots, and relays these signals as the D-Bus events: keep the names
// and signatures as they are, and keep this header to Qt and the frame. The
// service's logic is the Runner (runner.h) behind it.
#pragma once

#include <QString>
#include <memory>

#include "busframe.h"

namespace orvo {

class EngineFactory;
class Runner;

class TimekeeperObject : public BusObject {
  Q_OBJECT
 public:
  // Values of Complite and of the `from` argument of OnProcessStatus.
  static constexpr int kGatheringEnded = 1;
  static constexpr int kEbookEnded = 1024;
  static constexpr int kFromGathering = 0;
  static constexpr int kFromEbook = 1;
  static constexpr int kFromStop = 50;

  // Reaches the engines on the session bus and starts the schedule timers.
  explicit TimekeeperObject(QObject* parent = nullptr);
  ~TimekeeperObject() override;

  Runner& runner() { return *runner_; }

 public Q_SLOTS:
  int GetStatus();  // 1 while gathering runs
  void Start();
  void Stop();
  void StartLitGen();
  void Terminate();

 Q_SIGNALS:
  void Complite(int status);
  void OnProcessStatus(const QString& bstrStatus, int from, int nID);

 private:
  std::unique_ptr<EngineFactory> engines_;
  std::unique_ptr<Runner> runner_;
};

}  // namespace orvo
