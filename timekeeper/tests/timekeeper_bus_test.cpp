// Timekeeper on a private bus, with the engines it starts through the bus: what
// a client of OrvoRunner sees, engines that cannot be created, the schedule
// timer, and the service command line.
#include <signal.h>

#include <QDBusPendingReply>
#include <QProcess>
#include <chrono>
#include <ctime>
#include <filesystem>

#include <gtest/gtest.h>

#include "busharness.h"
#include "runner_client.h"
#include "schedule.h"
#include "settings.h"
#include "test_support.h"
#include "timekeeper_interface.h"

namespace orvo {
namespace {

using testing::PrivateBus;
using testing::ProcessRunning;
using testing::Pump;
using testing::ReadFile;
using testing::SignalLog;
using testing::WaitUntil;
namespace fs = std::filesystem;

const QString kRunner = QStringLiteral("org.orvo.OrvoRunner");
const QString kPath = QStringLiteral("/OrvoRunner");
const QString kEvents = QStringLiteral("org.orvo._IOrvoRunnerEvents");

// A client of the service as the reader is one: the runner object and its events.
struct Client {
  explicit Client(PrivateBus& bus, const QString& name = QStringLiteral("client"))
      : connection(bus.Connect(name)), runner(kRunner, kPath, connection), events(connection, kRunner, kPath, kEvents) {}

  int Status() {
    QDBusPendingReply<int> reply = runner.GetStatus();
    reply.waitForFinished();
    EXPECT_FALSE(reply.isError()) << reply.error().message().toStdString();
    return reply.isError() ? -1 : reply.value();
  }
  // Index of the first Complite at or after `from`, or -1 when none came in time.
  int WaitForComplite(size_t from = 0, int timeoutMs = 30000) {
    int found = -1;
    WaitUntil(
        [&] {
          for (size_t i = from; i < events.entries().size(); ++i)
            if (events.entries()[i].member == QLatin1String("Complite")) return (found = static_cast<int>(i)) >= 0;
          return false;
        },
        timeoutMs);
    return found;
  }
  std::string Describe() const {
    std::string out;
    for (const auto& e : events.entries()) {
      out += e.member.toStdString();
      for (const auto& a : e.args) out += " [" + a.toString().toStdString() + "]";
      out += "\n";
    }
    return out;
  }

  QDBusConnection connection;
  org::orvo::IOrvoRunner runner;
  SignalLog events;
};

std::string LogOf(PrivateBus& bus) { return ReadFile(bus.orvoHome() + "/orvo_log.txt"); }

TEST(TimekeeperBus, StartRelaysTheGatheringRunAndItsEnd) {
  PrivateBus bus({"Timekeeper", "Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  Client client(bus);
  EXPECT_EQ(client.Status(), 0);
  client.runner.Start().waitForFinished();
  const int end = client.WaitForComplite();
  ASSERT_GE(end, 1) << client.Describe() << bus.DaemonLog();
  const auto& entries = client.events.entries();
  EXPECT_EQ(entries[end].args, QVariantList({1}));
  // Every status before the end is the engine's, relayed with source 0.
  for (int i = 0; i < end; ++i) {
    EXPECT_EQ(entries[i].member, QStringLiteral("OnProcessStatus"));
    EXPECT_EQ(entries[i].args.value(1).toInt(), 0) << client.Describe();
  }
  EXPECT_TRUE(WaitUntil([&] { return client.Status() == 0; }, 5000));
}

TEST(TimekeeperBus, StopGivesCompliteThenTheStopMessage) {
  PrivateBus bus({"Timekeeper"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  Client client(bus);
  client.runner.Stop().waitForFinished();
  ASSERT_TRUE(client.events.WaitForCount(2, 10000)) << client.Describe();
  EXPECT_EQ(client.events.Members(), QStringList({"Complite", "OnProcessStatus"}));
  EXPECT_EQ(client.events.entries()[0].args, QVariantList({1}));
  EXPECT_EQ(client.events.entries()[1].args, QVariantList({QStringLiteral("Download is stopped."), 50, -1}));
}

TEST(TimekeeperBus, UnregisteredEngineIsLoggedAndALaterStartTriesAgain) {
  PrivateBus bus({"Timekeeper"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  Client client(bus);
  client.runner.Start().waitForFinished();
  ASSERT_GE(client.WaitForComplite(), 0) << client.Describe();
  EXPECT_NE(LogOf(bus).find("Could not create instance. Error in CreateInstance of Gatherer"), std::string::npos)
      << LogOf(bus);
  EXPECT_EQ(client.Status(), 0);

  // Registered now: the next Start reaches it.
  ASSERT_TRUE(bus.Register("Gatherer"));
  const size_t before = client.events.entries().size();
  client.runner.Start().waitForFinished();
  const int end = client.WaitForComplite(before);
  ASSERT_GT(end, static_cast<int>(before)) << client.Describe();
  EXPECT_EQ(client.events.entries()[before].args.value(1).toInt(), 0) << client.Describe();

  // The same for eBook generation, which ends with 1024.
  const size_t lit = client.events.entries().size();
  client.runner.StartLitGen().waitForFinished();
  const int litEnd = client.WaitForComplite(lit);
  ASSERT_GE(litEnd, 0) << client.Describe();
  EXPECT_EQ(client.events.entries()[litEnd].args, QVariantList({1024}));
  EXPECT_NE(LogOf(bus).find("Could not create instance. Error in CreateInstance of Bookbinder"), std::string::npos);
}

TEST(TimekeeperBus, LitGenRelaysWithSourceOneAndEndsWith1024) {
  PrivateBus bus({"Timekeeper", "Bookbinder"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  Client client(bus);
  client.runner.StartLitGen().waitForFinished();
  const int end = client.WaitForComplite();
  ASSERT_GE(end, 1) << client.Describe();
  EXPECT_EQ(client.events.entries()[end].args, QVariantList({1024}));
  for (int i = 0; i < end; ++i)
    EXPECT_EQ(client.events.entries()[i].args.value(1).toInt(), 1) << client.Describe();
  EXPECT_EQ(client.events.entries()[0].args.value(2).toInt(), -1);
}

TEST(TimekeeperBus, DueScheduleStartsTheEngineOnceAMinute) {
  PrivateBus bus({"Timekeeper", "Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  // Every check inside the window matches (step under a minute); the stamp
  // keeps it to one start in the minute.
  const std::time_t now = std::time(nullptr);
  ScheduleEntry entry;
  entry.key = "Schedule0";
  entry.kind = kRoutinely;
  entry.start = DateTime::FromTime(now - 3600);
  entry.till = DateTime::FromTime(now + 3600);
  entry.every = DateTime::TimeOfDay(0, 0, 30);
  if (entry.till->SecondsOfDay() < entry.start->SecondsOfDay()) GTEST_SKIP() << "too close to midnight";
  Settings settings(bus.orvoHome() + "/ORVO.ini");
  ASSERT_TRUE(WriteSchedules(settings, kParserScheduleSection, {entry}));

  Client client(bus);
  EXPECT_GE(client.Status(), 0);  // activates the service; its timer checks every 10 s
  ASSERT_GE(client.WaitForComplite(0, 40000), 0) << client.Describe() << LogOf(bus);
  auto stamp = ParseScheduleStamp(settings.ReadText(kParserScheduleSection, "Schedule0"));
  ASSERT_TRUE(stamp);
  EXPECT_LE(std::abs(static_cast<long>(*stamp->ToTime() - std::time(nullptr))), 120);
}

TEST(TimekeeperBus, TerminateEndsTheService) {
  PrivateBus bus({"Timekeeper"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  Client client(bus);
  EXPECT_EQ(client.Status(), 0);
  const pid_t pid = bus.OwnerPid(kRunner);
  ASSERT_GT(pid, 0);
  client.runner.Terminate().waitForFinished();
  EXPECT_TRUE(WaitUntil([&] { return !ProcessRunning(pid); }, 10000));
}

TEST(TimekeeperBus, SignalsStartADownloadAndStopTheService) {
  PrivateBus bus({"Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  QProcess* server = bus.Start("Timekeeper", {});
  ASSERT_TRUE(WaitUntil([&] { return bus.HasOwner(kRunner); }, 5000));
  Client client(bus);
  const pid_t pid = static_cast<pid_t>(server->processId());
  ::kill(pid, SIGUSR1);  // the service's own "start gathering" control
  ASSERT_GE(client.WaitForComplite(), 0) << client.Describe();

  ::kill(pid, SIGTERM);
  ASSERT_TRUE(server->waitForFinished(10000));
  EXPECT_EQ(server->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(server->exitCode(), 0);
  const QString out = QString::fromUtf8(server->readAllStandardOutput());
  EXPECT_TRUE(out.contains("Service started\n")) << out.toStdString();
  EXPECT_TRUE(out.contains("Service stopped\n")) << out.toStdString();
}

// -Service and -UnregServer. systemd cannot run here: a `systemctl` script on
// PATH answers as a session without a user manager does.
TEST(TimekeeperBus, ServiceSwitchWritesTheUnitAndUnregServerUndoesIt) {
  testing::TempDir fakeBin;
  testing::WriteFile(fakeBin.File("systemctl"),
                     "#!/bin/sh\necho \"$@\" >> " + fakeBin.File("calls") +
                         "\necho 'Failed to connect to bus: No medium found' >&2\nexit 1\n");
  fs::permissions(fakeBin.File("systemctl"), fs::perms::owner_all);
  const char* path = std::getenv("PATH");
  PrivateBus bus(std::vector<std::string>{}, {{"PATH", fakeBin.path() + ":" + (path ? path : "/usr/bin:/bin")}});
  ASSERT_TRUE(bus.ok()) << bus.error();
  const std::string unit = bus.root() + "/config/systemd/user/orvo-timekeeper.service";
  const std::string activation = bus.serviceDir() + "/org.orvo.OrvoRunner.service";

  PrivateBus::Result r = bus.Run("Timekeeper", {"-Service"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("not reachable"), std::string::npos) << r.out;
  EXPECT_NE(ReadFile(unit).find("BusName=org.orvo.OrvoRunner"), std::string::npos);
  EXPECT_NE(ReadFile(unit).find("Environment=ORVO_HOME=" + bus.orvoHome()), std::string::npos) << ReadFile(unit);
  EXPECT_NE(ReadFile(activation).find("SystemdService=orvo-timekeeper.service"), std::string::npos)
      << ReadFile(activation);

  // Without systemd the bus starts it itself from the activation file.
  Client client(bus);
  EXPECT_EQ(client.Status(), 0);
  const pid_t pid = bus.OwnerPid(kRunner);
  ASSERT_GT(pid, 0);

  r = bus.Run("Timekeeper", {"-UnregServer"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("terminate"), std::string::npos) << r.out;
  EXPECT_TRUE(WaitUntil([&] { return !ProcessRunning(pid); }, 10000));
  EXPECT_FALSE(fs::exists(unit));
  EXPECT_FALSE(fs::exists(activation));
  EXPECT_NE(ReadFile(fakeBin.File("calls")).find("--user disable --now orvo-timekeeper.service"), std::string::npos);
}

TEST(TimekeeperBus, UnregServerWithNothingRunningPrintsOnlyItsOwnLines) {
  PrivateBus bus({"Timekeeper"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  ASSERT_FALSE(bus.HasOwner(kRunner));
  PrivateBus::Result r = bus.Run("Timekeeper", {"-UnregServer"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("unregistered org.orvo.OrvoRunner"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("terminate"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");
  // Nothing registered either.
  r = bus.Run("Timekeeper", {"-UnregServer"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("nothing to do"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(bus.HasOwner(kRunner)) << "unregistering must not start the service";
}

// The client that `orvo download` and `orvo generate` use.
TEST(RunnerClientBus, DownloadThroughTheServiceEndsWithItsComplite) {
  PrivateBus bus({"Timekeeper", "Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  QDBusConnection connection = bus.Connect("orvo");
  EXPECT_TRUE(TimekeeperAvailable(connection));
  RunnerClient client(connection);
  std::vector<int> sources;
  RunnerOutcome outcome =
      client.Run(RunnerJob::kDownload, [&](const QString&, int from, int) { sources.push_back(from); }, 30000);
  EXPECT_TRUE(outcome.completed) << outcome.error.toStdString();
  ASSERT_FALSE(sources.empty());
  for (int from : sources) EXPECT_EQ(from, 0);
}

TEST(RunnerClientBus, EngineThatCannotBeCreatedIsAFailure) {
  PrivateBus bus({"Timekeeper"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  RunnerClient client(bus.Connect("orvo"));
  RunnerOutcome outcome = client.Run(RunnerJob::kLitGen, {}, 30000);
  EXPECT_FALSE(outcome.completed);
  EXPECT_TRUE(outcome.error.contains("Could not create instance")) << outcome.error.toStdString();
  EXPECT_TRUE(outcome.error.contains("Bookbinder")) << outcome.error.toStdString();
}

TEST(RunnerClientBus, GenerationThroughTheServiceSeesOnlyItsOwnEvents) {
  PrivateBus bus({"Timekeeper", "Bookbinder"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  RunnerClient client(bus.Connect("orvo"));
  std::vector<int> sources;
  RunnerOutcome outcome =
      client.Run(RunnerJob::kLitGen, [&](const QString&, int from, int) { sources.push_back(from); }, 30000);
  EXPECT_TRUE(outcome.completed) << outcome.error.toStdString();
  ASSERT_FALSE(sources.empty());
  for (int from : sources) EXPECT_EQ(from, 1);
}

TEST(RunnerClientBus, NothingRegisteredIsNotAvailable) {
  PrivateBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  EXPECT_FALSE(TimekeeperAvailable(bus.Connect("orvo")));
}

}  // namespace
}  // namespace orvo
