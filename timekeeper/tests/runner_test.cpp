// The service logic against fake engines: what clients see, when engines are
// created and released, and what the schedule timers do.
#include "runner.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>

#include "test_support.h"

namespace orvo {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class FakeFactory;

class FakeEngine : public Engine {
 public:
  FakeEngine(FakeFactory* factory, EngineKind kind) : factory_(factory), kind_(kind) {}
  ~FakeEngine() override;
  bool Begin(QString* error) override;
  void Stop() override;
  void Probe() override;
  void EndProcess() override;

 private:
  FakeFactory* factory_;
  EngineKind kind_;
};

class FakeFactory : public EngineFactory {
 public:
  std::unique_ptr<Engine> Create(EngineKind kind, QString* error) override {
    ++attempts;
    if (failCreate) {
      *error = "org.freedesktop.DBus.Error.ServiceUnknown: not registered";
      return nullptr;
    }
    auto engine = std::make_unique<FakeEngine>(this, kind);
    Slot(kind) = engine.get();
    ++live;
    return engine;
  }
  FakeEngine*& Slot(EngineKind kind) { return kind == EngineKind::kGatherer ? gatherer : bookbinder; }

  bool failCreate = false;
  bool failBegin = false;
  bool answers = true;  // to the service's probes
  int probes = 0;
  int attempts = 0;
  int begins = 0;
  int stops = 0;
  int ends = 0;  // processes ended
  int live = 0;
  FakeEngine* gatherer = nullptr;
  FakeEngine* bookbinder = nullptr;
};

FakeEngine::~FakeEngine() {
  --factory_->live;
  factory_->Slot(kind_) = nullptr;
}
bool FakeEngine::Begin(QString* error) {
  ++factory_->begins;
  if (factory_->failBegin) *error = "no reply";
  return !factory_->failBegin;
}
void FakeEngine::Stop() { ++factory_->stops; }
void FakeEngine::EndProcess() { ++factory_->ends; }
void FakeEngine::Probe() {
  ++factory_->probes;
  if (factory_->answers) emit answered();
}

void Drain() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Every event a client sees, in order, as text.
struct Client {
  std::vector<std::string> events;
  explicit Client(Runner& r) {
    QObject::connect(&r, &Runner::Complite, [this](int s) { events.push_back("Complite " + std::to_string(s)); });
    QObject::connect(&r, &Runner::OnProcessStatus, [this](const QString& t, int from, int id) {
      events.push_back("Status " + t.toStdString() + " " + std::to_string(from) + " " + std::to_string(id));
    });
  }
};

class RunnerTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("ORVO_HOME", dir.path().c_str(), 1); }
  void TearDown() override { unsetenv("ORVO_HOME"); }
  std::string Log() { return ReadFile(dir.File("orvo_log.txt")); }

  TempDir dir;
  Settings settings{dir.File("ORVO.ini")};
  DateTime now = DateTime::At(2026, 12, 7, 8, 0, 10);
  FakeFactory factory;
  Runner runner{&factory, settings, [this] { return now; }};
  Client client{runner};
};

TEST_F(RunnerTest, GatheringRunRelaysStatusesAndEndsWithComplite) {
  runner.Start();
  EXPECT_EQ(factory.attempts, 0);  // queued, not done inside the call
  Drain();
  ASSERT_NE(factory.gatherer, nullptr);
  EXPECT_EQ(factory.begins, 1);
  EXPECT_EQ(runner.GetStatus(), 1);

  emit factory.gatherer->status("Checking for updates...", -1);
  emit factory.gatherer->status("Start download site: http://127.0.0.1/a", 3);
  emit factory.gatherer->complete(1);
  Drain();
  EXPECT_EQ(client.events, (std::vector<std::string>{"Status Checking for updates... 0 -1",
                                                     "Status Start download site: http://127.0.0.1/a 0 3",
                                                     "Complite 1"}));
  EXPECT_EQ(runner.GetStatus(), 0);
  EXPECT_EQ(factory.live, 0);  // released on completion
}

TEST_F(RunnerTest, StartDuringARunDoesNothing) {
  runner.Start();
  Drain();
  runner.Start();
  runner.Start();
  Drain();
  EXPECT_EQ(factory.attempts, 1);
  EXPECT_EQ(factory.begins, 1);
  EXPECT_EQ(runner.GetStatus(), 1);
  EXPECT_TRUE(client.events.empty());
}

TEST_F(RunnerTest, StopEndsTheRunThenSaysSo) {
  runner.Start();
  Drain();
  runner.Stop();
  Drain();
  EXPECT_EQ(factory.stops, 1);
  EXPECT_EQ(factory.live, 0);
  EXPECT_EQ(client.events, (std::vector<std::string>{"Complite 1", "Status Download is stopped. 50 -1"}));
  EXPECT_EQ(runner.GetStatus(), 0);
}

TEST_F(RunnerTest, EventsOfAnEndedRunAreDropped) {
  runner.Start();
  Drain();
  FakeEngine* first = factory.gatherer;
  // The stop is handled first; what the engine raised meanwhile is still
  // queued when the next run has started.
  runner.Stop();
  emit first->status("late", 1);
  emit first->complete(1);
  runner.Start();
  Drain();
  ASSERT_NE(factory.gatherer, nullptr);
  EXPECT_EQ(runner.GetStatus(), 1);  // the old Complite did not end the new run
  EXPECT_EQ(client.events, (std::vector<std::string>{"Complite 1", "Status Download is stopped. 50 -1"}));
}

TEST_F(RunnerTest, StopWithNothingRunningStillAnswers) {
  runner.Stop();
  Drain();
  EXPECT_EQ(client.events, (std::vector<std::string>{"Complite 1", "Status Download is stopped. 50 -1"}));
}

TEST_F(RunnerTest, FailedCreationIsLoggedAndALaterStartTriesAgain) {
  factory.failCreate = true;
  runner.Start();
  Drain();
  EXPECT_EQ(runner.GetStatus(), 0);
  EXPECT_NE(Log().find("Could not create instance. Error in CreateInstance of Gatherer: "
                       "org.freedesktop.DBus.Error.ServiceUnknown"),
            std::string::npos);
  ASSERT_EQ(client.events.size(), 2u);  // the client that asked is not left waiting
  EXPECT_EQ(client.events[1], "Complite 1");

  factory.failCreate = false;
  runner.Start();
  Drain();
  EXPECT_EQ(factory.attempts, 2);
  EXPECT_EQ(runner.GetStatus(), 1);
}

TEST_F(RunnerTest, EngineThatRefusesToBeginIsReleased) {
  factory.failBegin = true;
  runner.Start();
  Drain();
  EXPECT_EQ(runner.GetStatus(), 0);
  EXPECT_EQ(factory.live, 0);
  EXPECT_EQ(client.events, (std::vector<std::string>{"Complite 2"}));
  EXPECT_NE(Log().find("Could not start the download in Gatherer: no reply"), std::string::npos);
}

TEST_F(RunnerTest, EngineThatVanishesEndsTheRun) {
  runner.Start();
  Drain();
  emit factory.gatherer->lost("the process ended");
  Drain();
  EXPECT_EQ(runner.GetStatus(), 0);
  EXPECT_EQ(factory.live, 0);
  EXPECT_EQ(client.events, (std::vector<std::string>{"Complite 2"}));  // interrupted, not completed
  EXPECT_NE(Log().find("Gatherer ended without completing its run: the process ended"), std::string::npos);
}

TEST_F(RunnerTest, StallBoundComesFromTheSettings) {
  EXPECT_EQ(Runner::StallBoundSeconds(settings), 660);  // ConnectTimeout 0 means 300
  settings.WriteInt(kDownloadSection, "ConnectTimeout", 30);
  EXPECT_EQ(Runner::StallBoundSeconds(settings), 120);
  settings.WriteInt(kDownloadSection, "StallTimeout", 5);
  EXPECT_EQ(Runner::StallBoundSeconds(settings), 5);
}

TEST_F(RunnerTest, SilentEngineEndsTheRunWithAMessageAndIsReleased) {
  settings.WriteInt(kDownloadSection, "StallTimeout", 1);
  factory.answers = false;
  runner.Start();
  Drain();
  ASSERT_EQ(runner.GetStatus(), 1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !client.events.empty(); }, 10000));
  Drain();
  ASSERT_EQ(client.events.size(), 2u);
  EXPECT_EQ(client.events[0].rfind("Status Gatherer has not answered for 1 seconds: the download is ended", 0), 0u)
      << client.events[0];
  EXPECT_EQ(client.events[0].substr(client.events[0].size() - 6), " 50 -1");
  EXPECT_EQ(client.events[1], "Complite 2");
  EXPECT_EQ(runner.GetStatus(), 0);
  EXPECT_EQ(factory.live, 0);
  EXPECT_EQ(factory.stops, 1);
  EXPECT_EQ(factory.ends, 1);  // its process, which would keep the bus name
  EXPECT_GT(factory.probes, 0);
  EXPECT_NE(Log().find("Gatherer has not answered for 1 seconds"), std::string::npos);

  // The next start gets a new engine.
  factory.answers = true;
  runner.Start();
  Drain();
  EXPECT_EQ(factory.live, 1);
  EXPECT_EQ(runner.GetStatus(), 1);
}

TEST_F(RunnerTest, EngineThatAnswersIsKeptThroughLongSilences) {
  settings.WriteInt(kDownloadSection, "StallTimeout", 2);
  runner.Start();
  Drain();
  QTest::qWait(5000);  // no event for more than twice the bound, but every probe answered
  EXPECT_EQ(runner.GetStatus(), 1);
  EXPECT_TRUE(client.events.empty());
  EXPECT_GE(factory.probes, 4);
  // Then it stops answering.
  factory.answers = false;
  ASSERT_TRUE(QTest::qWaitFor([&] { return runner.GetStatus() == 0; }, 10000));
  Drain();
  EXPECT_EQ(client.events.back(), "Complite 2");
}

TEST_F(RunnerTest, SilentBookbinderEndsItsRunWith1025) {
  settings.WriteInt(kDownloadSection, "StallTimeout", 1);
  factory.answers = false;
  runner.StartLitGen();
  Drain();
  ASSERT_TRUE(runner.LitGenRunning());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !runner.LitGenRunning(); }, 10000));
  Drain();
  ASSERT_EQ(client.events.size(), 2u);
  EXPECT_EQ(client.events[0].rfind("Status Bookbinder has not answered for 1 seconds: the eBook generation", 0), 0u)
      << client.events[0];
  EXPECT_EQ(client.events[1], "Complite 1025");
  EXPECT_EQ(factory.live, 0);
  EXPECT_EQ(factory.ends, 1);
}

TEST_F(RunnerTest, LitGenRunRelaysWithSourceOneAndEndsWith1024) {
  runner.StartLitGen();
  Drain();
  ASSERT_NE(factory.bookbinder, nullptr);
  EXPECT_TRUE(runner.LitGenRunning());
  EXPECT_EQ(runner.GetStatus(), 0);  // GetStatus is about gathering only
  runner.StartLitGen();
  Drain();
  EXPECT_EQ(factory.attempts, 1);

  emit factory.bookbinder->status("Volume 1 written", 42);
  emit factory.bookbinder->complete(0);
  Drain();
  EXPECT_EQ(client.events, (std::vector<std::string>{"Status Volume 1 written 1 -1", "Complite 1024"}));
  EXPECT_FALSE(runner.LitGenRunning());
  EXPECT_EQ(factory.live, 0);
}

TEST_F(RunnerTest, GatheringAndLitGenRunSideBySide) {
  runner.Start();
  runner.StartLitGen();
  Drain();
  ASSERT_TRUE(factory.gatherer && factory.bookbinder);
  emit factory.bookbinder->status("lit", -1);
  emit factory.gatherer->status("news", 5);
  emit factory.bookbinder->complete(0);
  Drain();
  EXPECT_EQ(client.events, (std::vector<std::string>{"Status lit 1 -1", "Status news 0 5", "Complite 1024"}));
  EXPECT_EQ(runner.GetStatus(), 1);
}

TEST_F(RunnerTest, FailedLitGenCreationLeavesItFreeToRetry) {
  factory.failCreate = true;
  runner.StartLitGen();
  Drain();
  EXPECT_FALSE(runner.LitGenRunning());
  EXPECT_EQ(client.events.back(), "Complite 1024");
  factory.failCreate = false;
  runner.StartLitGen();
  Drain();
  EXPECT_TRUE(runner.LitGenRunning());
}

TEST_F(RunnerTest, ScheduledRunStopsItsTimerUntilTheRunEnds) {
  WriteFile(settings.path(), "[ParserSchedule]\nSchedule0=1|08:00:00|\n[LitSchedule]\nSchedule0=1|20:00:00|\n");
  runner.StartTimers(60 * 60 * 1000);  // long enough never to fire by itself here
  runner.CheckSchedule(EngineKind::kBookbinder);
  EXPECT_EQ(factory.attempts, 0);  // nothing due in LitSchedule
  runner.CheckSchedule(EngineKind::kGatherer);
  EXPECT_EQ(factory.begins, 1);
  EXPECT_FALSE(runner.TimerActive(EngineKind::kGatherer));
  EXPECT_TRUE(runner.TimerActive(EngineKind::kBookbinder));
  EXPECT_EQ(runner.GetStatus(), 1);

  // The engine finishes within the minute: the timer runs again, and the
  // stamp keeps the entry from starting twice.
  emit factory.gatherer->complete(1);
  Drain();
  EXPECT_TRUE(runner.TimerActive(EngineKind::kGatherer));
  now.second = 40;
  runner.CheckSchedule(EngineKind::kGatherer);
  EXPECT_EQ(factory.begins, 1);
  EXPECT_EQ(settings.ReadText(kParserScheduleSection, "Schedule0"), "1|08:00:00|2026-12-07 08:00:10");
}

TEST_F(RunnerTest, ScheduledStartThatFailsKeepsTheTimerRunning) {
  WriteFile(settings.path(), "[LitSchedule]\nSchedule0=4|07:00:00|09:00:00|00:01:00|\n");
  factory.failCreate = true;
  runner.StartTimers(60 * 60 * 1000);
  runner.CheckSchedule(EngineKind::kBookbinder);
  EXPECT_EQ(factory.attempts, 1);
  EXPECT_TRUE(runner.TimerActive(EngineKind::kBookbinder));
  // The next minute it tries again.
  factory.failCreate = false;
  now.minute = 1;
  runner.CheckSchedule(EngineKind::kBookbinder);
  EXPECT_EQ(factory.attempts, 2);
  EXPECT_TRUE(runner.LitGenRunning());
  EXPECT_FALSE(runner.TimerActive(EngineKind::kBookbinder));
}

TEST_F(RunnerTest, TimerFiresTheCheckByItself) {
  WriteFile(settings.path(), "[ParserSchedule]\nSchedule0=1|08:00:00|\n");
  runner.StartTimers(20);
  ASSERT_TRUE(QTest::qWaitFor([this] { return factory.begins > 0; }, 10000));
  EXPECT_FALSE(runner.TimerActive(EngineKind::kGatherer));
  emit factory.gatherer->complete(1);
  QTest::qWait(200);  // the timer ticks on; the rest of the minute starts nothing
  EXPECT_TRUE(runner.TimerActive(EngineKind::kGatherer));
  EXPECT_EQ(factory.begins, 1);
}

TEST_F(RunnerTest, ShutdownStopsAndReleasesTheEngines) {
  runner.StartTimers();
  runner.Start();
  runner.StartLitGen();
  Drain();
  runner.Shutdown();
  EXPECT_EQ(factory.stops, 1);
  EXPECT_EQ(factory.live, 0);
  EXPECT_FALSE(runner.TimerActive(EngineKind::kGatherer));
  EXPECT_FALSE(runner.TimerActive(EngineKind::kBookbinder));
}

TEST_F(RunnerTest, TerminateAsksTheProgramToLeave) {
  QSignalSpy spy(&runner, &Runner::terminateRequested);
  runner.Terminate();
  EXPECT_EQ(spy.count(), 0);
  Drain();
  EXPECT_EQ(spy.count(), 1);
}

}  // namespace
}  // namespace orvo

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
