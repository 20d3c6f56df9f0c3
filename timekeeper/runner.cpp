#include "runner.h"

#include <algorithm>

#include "eventlog.h"

namespace orvo {

const char* EngineName(EngineKind kind) { return kind == EngineKind::kGatherer ? "Gatherer" : "Bookbinder"; }

namespace {
const char kStoppedText[] = "Download is stopped.";
}

Runner::Runner(EngineFactory* factory, Settings settings, Clock clock, QObject* parent)
    : QObject(parent),
      factory_(factory),
      settings_(settings),
      parserDue_(settings, kParserScheduleSection, clock),
      litDue_(settings, kLitScheduleSection, clock) {
  connect(&gatherTimer_, &QTimer::timeout, this, [this] { CheckSchedule(EngineKind::kGatherer); });
  connect(&litTimer_, &QTimer::timeout, this, [this] { CheckSchedule(EngineKind::kBookbinder); });
  connect(&watchTimer_, &QTimer::timeout, this, &Runner::OnWatchTick);
}

int Runner::StallBoundSeconds(const Settings& settings) {
  const int own = settings.ReadIntChecked(kDownloadSection, "StallTimeout", 0);
  if (own > 0) return std::min(own, 2 * kMaxConnectTimeout + 60);
  return 2 * ReadConnectTimeout(settings) + 60;
}

void Runner::Watch(EngineKind kind) {
  stallBoundMs_ = StallBoundSeconds(settings_) * 1000;
  (kind == EngineKind::kGatherer ? gatherSign_ : litSign_).start();
  // Several probes within the bound, so one lost answer does not count.
  watchTimer_.setInterval(std::clamp(stallBoundMs_ / 4, 100, 10000));
  if (!watchTimer_.isActive()) watchTimer_.start();
}

void Runner::OnWatchTick() {
  std::lock_guard guard(lock_);
  if (gatheringRunning_ && gatherer_) {
    if (gatherSign_.elapsed() >= stallBoundMs_) EndStalled(EngineKind::kGatherer);
    else gatherer_->Probe();
  }
  if (litGenRunning_ && bookbinder_) {
    if (litSign_.elapsed() >= stallBoundMs_) EndStalled(EngineKind::kBookbinder);
    else bookbinder_->Probe();
  }
  if (!gatheringRunning_ && !litGenRunning_) watchTimer_.stop();
}

void Runner::EndStalled(EngineKind kind) {
  const bool gathering = kind == EngineKind::kGatherer;
  const std::string message = std::string(EngineName(kind)) + " has not answered for " +
                              std::to_string(stallBoundMs_ / 1000) + " seconds: the " +
                              (gathering ? "download" : "eBook generation") +
                              " is ended and the engine released. The next " +
                              (gathering ? "download" : "generation") + " starts a new one.";
  WriteEventLog(message);
  // Before the end, so a client that leaves at Complite has seen why.
  emit OnProcessStatus(QString::fromStdString(message), kFromStop, -1);
  // A stopped or wedged process would keep its bus name, and every later
  // run would find it instead of a fresh one.
  Engine* engine = gathering ? gatherer_.get() : bookbinder_.get();
  if (engine) engine->EndProcess();
  if (gathering) EndGathering(End::kInterrupted);
  else EndLitGen(End::kInterrupted);
}

Runner::~Runner() { Shutdown(); }

void Runner::StartTimers(int intervalMs) {
  std::lock_guard guard(lock_);
  timersOn_ = true;
  gatherTimer_.setInterval(intervalMs);
  litTimer_.setInterval(intervalMs);
  gatherTimer_.start();
  litTimer_.start();
}

void Runner::Shutdown() {
  std::lock_guard guard(lock_);
  timersOn_ = false;
  gatherTimer_.stop();
  litTimer_.stop();
  watchTimer_.stop();
  if (gatherer_) {
    gatherer_->disconnect(this);
    gatherer_->Stop();
    gatherer_.reset();
  }
  gatheringRunning_ = false;
  if (bookbinder_) {
    bookbinder_->disconnect(this);
    bookbinder_.reset();
  }
  litGenRunning_ = false;
}

bool Runner::TimerActive(EngineKind kind) const {
  return kind == EngineKind::kGatherer ? gatherTimer_.isActive() : litTimer_.isActive();
}

void Runner::CheckSchedule(EngineKind kind) {
  std::lock_guard guard(lock_);
  DueCheck& due = kind == EngineKind::kGatherer ? parserDue_ : litDue_;
  if (!due.Check()) return;
  QTimer& timer = TimerOf(kind);
  timer.stop();
  if (kind == EngineKind::kGatherer) {
    StartGathering();
    // Only the end of a run restarts the timer; a start that never began
    // would otherwise end every later scheduled download.
    if (!gatheringRunning_ && timersOn_) timer.start();
  } else {
    StartLitGenRun();
    if (!litGenRunning_ && timersOn_) timer.start();
  }
}

int Runner::GetStatus() const { return gatheringRunning_ ? 1 : 0; }

void Runner::Start() {
  QMetaObject::invokeMethod(this, [this] { StartGathering(); }, Qt::QueuedConnection);
}

void Runner::Stop() {
  QMetaObject::invokeMethod(this, [this] { EndGathering(End::kStopped); }, Qt::QueuedConnection);
}

void Runner::StartLitGen() {
  QMetaObject::invokeMethod(this, [this] { StartLitGenRun(); }, Qt::QueuedConnection);
}

void Runner::Terminate() {
  QMetaObject::invokeMethod(this, [this] { emit terminateRequested(); }, Qt::QueuedConnection);
}

bool Runner::Create(EngineKind kind, std::unique_ptr<Engine>* engine) {
  QString error;
  *engine = factory_->Create(kind, &error);
  if (*engine) return true;
  std::string message =
      "Could not create instance. Error in CreateInstance of " + std::string(EngineName(kind)) + ": " + error.toStdString();
  WriteEventLog(message);
  // Tell the clients too: one that started this run waits for its end.
  emit OnProcessStatus(QString::fromStdString(message), kFromStop, -1);
  emit Complite(kind == EngineKind::kGatherer ? kGatheringEnded : kLitGenEnded);
  return false;
}

void Runner::StartGathering() {
  std::lock_guard guard(lock_);
  if (gatheringRunning_) return;
  if (!gatherer_ && !Create(EngineKind::kGatherer, &gatherer_)) return;
  gatheringRunning_ = true;
  const unsigned run = ++gatherRun_;
  connect(gatherer_.get(), &Engine::status, this,
          [this, run](const QString& text, int nID) { OnGathererStatus(run, text, nID); }, Qt::QueuedConnection);
  connect(gatherer_.get(), &Engine::complete, this,
          [this, run](int) {
            if (run == gatherRun_ && gatheringRunning_) EndGathering(End::kCompleted);
          },
          Qt::QueuedConnection);
  connect(gatherer_.get(), &Engine::lost, this,
          [this, run](const QString& reason) {
            if (run != gatherRun_ || !gatheringRunning_) return;
            WriteEventLog("Gatherer ended without completing its run: " + reason.toStdString());
            EndGathering(End::kInterrupted);
          },
          Qt::QueuedConnection);
  connect(gatherer_.get(), &Engine::answered, this, [this, run] {
    if (run == gatherRun_) gatherSign_.restart();
  });
  Watch(EngineKind::kGatherer);
  QString error;
  if (!gatherer_->Begin(&error)) {
    WriteEventLog("Could not start the download in Gatherer: " + error.toStdString());
    EndGathering(End::kInterrupted);
  }
}

void Runner::EndGathering(End end) {
  std::lock_guard guard(lock_);
  if (gatherer_) {
    gatherer_->disconnect(this);
    gatherer_->Stop();
    gatherer_.reset();
  }
  gatheringRunning_ = false;
  ++gatherRun_;
  emit Complite(end == End::kInterrupted ? kGatheringInterrupted : kGatheringEnded);
  if (timersOn_) gatherTimer_.start();
  if (end == End::kStopped) emit OnProcessStatus(QString::fromUtf8(kStoppedText), kFromStop, -1);
}

void Runner::OnGathererStatus(unsigned run, const QString& text, int nID) {
  std::lock_guard guard(lock_);
  if (run != gatherRun_ || !gatheringRunning_) return;
  gatherSign_.restart();
  emit OnProcessStatus(text, kFromGathering, nID);
}

bool Runner::StartLitGenRun() {
  std::lock_guard guard(lock_);
  if (litGenRunning_ || bookbinder_) return false;
  if (!Create(EngineKind::kBookbinder, &bookbinder_)) return false;
  litGenRunning_ = true;
  const unsigned run = ++litRun_;
  connect(bookbinder_.get(), &Engine::status, this,
          [this, run](const QString& text, int) { OnLitGenStatus(run, text); }, Qt::QueuedConnection);
  connect(bookbinder_.get(), &Engine::complete, this,
          [this, run](int) {
            if (run == litRun_ && litGenRunning_) EndLitGen(End::kCompleted);
          },
          Qt::QueuedConnection);
  connect(bookbinder_.get(), &Engine::lost, this,
          [this, run](const QString& reason) {
            if (run != litRun_ || !litGenRunning_) return;
            WriteEventLog("Bookbinder ended without completing its run: " + reason.toStdString());
            EndLitGen(End::kInterrupted);
          },
          Qt::QueuedConnection);
  connect(bookbinder_.get(), &Engine::answered, this, [this, run] {
    if (run == litRun_) litSign_.restart();
  });
  Watch(EngineKind::kBookbinder);
  QString error;
  if (!bookbinder_->Begin(&error)) {
    WriteEventLog("Could not start the eBook generation in Bookbinder: " + error.toStdString());
    EndLitGen(End::kInterrupted);
    return false;
  }
  return true;
}

void Runner::EndLitGen(End end) {
  std::lock_guard guard(lock_);
  emit Complite(end == End::kInterrupted ? kLitGenInterrupted : kLitGenEnded);
  if (bookbinder_) {
    bookbinder_->disconnect(this);
    bookbinder_.reset();
  }
  litGenRunning_ = false;
  ++litRun_;
  if (timersOn_) litTimer_.start();
}

void Runner::OnLitGenStatus(unsigned run, const QString& text) {
  std::lock_guard guard(lock_);
  if (run != litRun_ || !litGenRunning_) return;
  litSign_.restart();
  emit OnProcessStatus(text, kFromLitGen, -1);
}

}  // namespace orvo
