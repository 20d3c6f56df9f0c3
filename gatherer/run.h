// The gathering run of one Gatherer process: start and stop requests, the run
// status, the gathering window that drives a run from one browser event or
// posted step to the next, and the two events the bus object passes on.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace orvo {

class GatheringWindow;
class HttpSession;

class GathererEngine : public QObject {
  Q_OBJECT

 public:
  // Reads PathDB once: the process connection opens that file from now on.
  explicit GathererEngine(QObject* parent = nullptr);
  ~GathererEngine() override;

  // 1 until a run fails; then 32 for every later run of this process.
  int runStatus() const { return runStatus_; }
  // True from a start request until the run has raised Complite or was stopped.
  bool running() const;
  // The program lowers its priority at each start, as a background download
  // should; tests leave it alone.
  void SetIdlePriority(bool on) { idlePriority_ = on; }
  // While the run waits (a slow page, images, the catalogue update), a
  // status saying so is raised after this much silence.
  void SetHeartbeatMs(int ms) { heartbeatMs_ = ms; }
  // How long an image server that did not answer is left alone in a run.
  void SetImageRetry(std::chrono::seconds after) { imageRetry_ = after; }
  // Waits until the items deleted by the last run have left the search
  // index (done on a thread of its own after each run).
  void WaitForIndexWork();

 public slots:
  // Both only post the request and return at once. A start while a run is
  // going (or about to) is refused: false, and the run goes on untouched.
  bool StartProcess();
  void Stop();

 signals:
  void OnProcessStatus(const QString& Status, int nID);
  void Complite(int status);

 private:
  friend class GatheringWindow;
  void HandleStart();
  void HandleStop();
  void ReportStatus(const std::string& text);
  void RaiseComplite();
  bool EventSourceAttached() const;
  void DropDeletedInBackground();
  void StopDropping();

  int runStatus_ = 1;
  bool idlePriority_ = false;
  bool startPending_ = false;  // accepted, not yet begun
  int heartbeatMs_ = 15000;
  std::chrono::seconds imageRetry_{120};
  std::chrono::steady_clock::time_point lastStatus_;
  std::string dbPath_;
  std::unique_ptr<HttpSession> images_;
  std::unique_ptr<GatheringWindow> window_;
  std::thread dropper_;
  std::atomic<bool> stopDropping_{false};
};

}  // namespace orvo
