// The three servers on a private bus: activation, stock clients, lifetime,
// events and the command line, each test on a bus of its own.
#include <signal.h>

#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QFile>
#include <QProcess>

#include <chrono>
#include <filesystem>
#include <regex>

#include <gtest/gtest.h>

#include "bookbinder_interface.h"
#include "busframe.h"
#include "busharness.h"
#include "frame_classfactory_interface.h"
#include "frame_instance_interface.h"
#include "gatherer_interface.h"
#include "test_support.h"
#include "timekeeper_interface.h"

namespace orvo {
namespace {

using testing::PrivateBus;
using testing::ProcessRunning;
using testing::Pump;
using testing::SignalLog;
using testing::WaitUntil;
namespace fs = std::filesystem;

const QString kGatherer = QStringLiteral("org.orvo.Gatherer2");
const QString kBookbinder = QStringLiteral("org.orvo.OrvoConvert");
const QString kTimekeeper = QStringLiteral("org.orvo.OrvoRunner");
const QString kGathererEvents = QStringLiteral("org.orvo._IGatherer2Events");
constexpr const char* kUnknownService = "org.freedesktop.DBus.Error.ServiceUnknown";
constexpr const char* kUnknownObject = "org.freedesktop.DBus.Error.UnknownObject";

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

QString Create(QDBusConnection connection, const QString& busName) {
  QString error;
  QDBusObjectPath path = CreateBusObject(connection, busName, &error);
  EXPECT_FALSE(path.path().isEmpty()) << error.toStdString();
  return path.path();
}

void Release(QDBusConnection connection, const QString& busName, const QString& path) {
  QString error;
  EXPECT_TRUE(ReleaseBusObject(connection, busName, path, &error)) << error.toStdString();
}

// Error name of a call of IGatherer2.Stop on `path`, empty when it succeeded.
QString StopError(QDBusConnection connection, const QString& path) {
  org::orvo::IGatherer2 gatherer(kGatherer, path, connection);
  QDBusPendingReply<> reply = gatherer.Stop();
  reply.waitForFinished();
  return reply.isError() ? reply.error().name() : QString();
}

// Whether the server lists the object, asked without touching the object itself.
bool ObjectListed(QDBusConnection connection, const QString& path) {
  const int slash = path.lastIndexOf('/');
  QDBusMessage call = QDBusMessage::createMethodCall(kGatherer, path.left(slash),
                                                     QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                                     QStringLiteral("Introspect"));
  QDBusMessage reply = connection.call(call);
  const QString xml = reply.arguments().value(0).toString();
  return xml.contains(QStringLiteral("<node name=\"%1\"").arg(path.mid(slash + 1)));
}

std::string ReadLine(QProcess* process, int timeoutMs) {
  WaitUntil([&] { return process->canReadLine() || process->state() == QProcess::NotRunning; }, timeoutMs);
  return process->readLine().trimmed().toStdString();
}

TEST(Activation, StartsOnDemandAndIsUnknownOnceUnregistered) {
  PrivateBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  QDBusConnection client = bus.Connect("client");
  org::orvo::ClassFactory factory(kGatherer, QStringLiteral("/"), client);

  QDBusPendingReply<QDBusObjectPath> reply = factory.CreateInstance();
  reply.waitForFinished();
  ASSERT_TRUE(reply.isError());
  EXPECT_EQ(reply.error().name().toStdString(), kUnknownService);

  ASSERT_TRUE(bus.Register("Gatherer"));
  EXPECT_FALSE(bus.HasOwner(kGatherer)) << "registration must not start the server";
  reply = factory.CreateInstance();
  reply.waitForFinished();
  ASSERT_FALSE(reply.isError()) << reply.error().message().toStdString() << bus.DaemonLog();
  const QString path = reply.value().path();
  EXPECT_TRUE(path.startsWith(QStringLiteral("/Gatherer2/"))) << path.toStdString();
  const pid_t pid = bus.OwnerPid(kGatherer);
  EXPECT_GT(pid, 0);
  EXPECT_EQ(StopError(client, path), QString());
  Release(client, kGatherer, path);

  ASSERT_TRUE(bus.Unregister("Gatherer"));
  EXPECT_FALSE(fs::exists(bus.serviceDir() + "/org.orvo.Gatherer2.service"));
  ::kill(pid, SIGKILL);
  ASSERT_TRUE(WaitUntil([&] { return !bus.HasOwner(kGatherer); }, 5000));
  reply = factory.CreateInstance();
  reply.waitForFinished();
  ASSERT_TRUE(reply.isError());
  EXPECT_EQ(reply.error().name().toStdString(), kUnknownService);
}

TEST(Activation, DbusSendDrivesAServerByHand) {
  PrivateBus bus({"Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  const std::string dest = "--dest=org.orvo.Gatherer2";

  PrivateBus::Result r =
      bus.Run("dbus-send", {"--session", "--print-reply", dest, "/", "org.orvo.ClassFactory.CreateInstance"});
  ASSERT_EQ(r.exitCode, 0) << r.err << bus.DaemonLog();
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex("object path \"(/Gatherer2/[0-9]+)\""))) << r.out;
  const std::string path = m[1];

  // dbus-send has left the bus already: the object must still be there.
  SignalLog events(bus.Connect("listener"), kGatherer, QString::fromStdString(path), kGathererEvents);
  r = bus.Run("dbus-send", {"--session", "--print-reply", dest, path, "org.orvo.IGatherer2.StartProcess"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_TRUE(events.WaitForCount(2, 5000));
  EXPECT_EQ(events.Members(), QStringList({"OnProcessStatus", "Complite"}));
  EXPECT_EQ(events.entries()[0].interface, QStringLiteral("org.orvo._IGatherer2Events"));
  EXPECT_EQ(events.entries()[0].args.value(1).toInt(), -1);
  EXPECT_EQ(events.entries()[1].args.value(0).toInt(), 32) << "a run that cannot run must not report success";
  // The server runs in the program folder the registration named.
  // (Without ORVO.ini there is no database: the run fails and says so there.)
  EXPECT_FALSE(testing::ReadFile(bus.orvoHome() + "/orvo_log.txt").empty());

  r = bus.Run("dbus-send", {"--session", "--print-reply", dest, path, "org.orvo.Instance.Release"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  r = bus.Run("dbus-send", {"--session", "--print-reply", dest, path, "org.orvo.Instance.Release"});
  EXPECT_NE(r.exitCode, 0) << "a released object must be gone";
}

TEST(Activation, ProgramPathWithSpacesAndQuotes) {
  PrivateBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  const std::string dir = bus.root() + "/my 'odd' folder";
  fs::create_directories(dir);
  fs::copy_file(bus.binDir() + "/Gatherer", dir + "/Gatherer");
  PrivateBus::Result r = bus.Run(dir + "/Gatherer", {"-RegServer"});
  ASSERT_EQ(r.exitCode, 0) << r.err;

  QDBusConnection client = bus.Connect("client");
  const QString path = Create(client, kGatherer);
  ASSERT_FALSE(path.isEmpty()) << bus.DaemonLog();
  const pid_t pid = bus.OwnerPid(kGatherer);
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/exe").string(), dir + "/Gatherer");
}

TEST(Lifetime, ExitsAboutSixSecondsAfterTheLastRelease) {
  PrivateBus bus({"Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  QDBusConnection client = bus.Connect("client");
  const QString path = Create(client, kGatherer);
  const pid_t pid = bus.OwnerPid(kGatherer);
  ASSERT_GT(pid, 0);

  Release(client, kGatherer, path);
  const auto released = Clock::now();
  ASSERT_TRUE(WaitUntil([&] { return !bus.HasOwner(kGatherer); }, 12000));
  const double nameGone = SecondsSince(released);
  ASSERT_TRUE(WaitUntil([&] { return !ProcessRunning(pid); }, 12000));
  const double exited = SecondsSince(released);
  EXPECT_GE(nameGone, 4.5);
  EXPECT_GE(exited, 4.5);
  EXPECT_LE(exited, 9.0);
  EXPECT_GE(exited - nameGone, 0.8) << "the pause after the name is released";
}

TEST(Lifetime, NewObjectWithinTheWindowKeepsTheServer) {
  PrivateBus bus({"Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  QDBusConnection client = bus.Connect("client");
  const QString first = Create(client, kGatherer);
  const pid_t pid = bus.OwnerPid(kGatherer);
  Release(client, kGatherer, first);
  const auto released = Clock::now();

  Pump(3000);
  const QString second = Create(client, kGatherer);
  EXPECT_NE(second, first);
  EXPECT_EQ(bus.OwnerPid(kGatherer), pid) << "the same process must serve the new object";
  while (SecondsSince(released) < 7.5) Pump(100);
  EXPECT_TRUE(ProcessRunning(pid));
  EXPECT_EQ(StopError(client, second), QString());

  Release(client, kGatherer, second);
  const auto released2 = Clock::now();
  ASSERT_TRUE(WaitUntil([&] { return !ProcessRunning(pid); }, 12000));
  EXPECT_GE(SecondsSince(released2), 4.5);
  EXPECT_LE(SecondsSince(released2), 9.0);
}

TEST(Lifetime, KilledClientDoesNotKeepTheServerAlive) {
  PrivateBus bus({"Gatherer"}, {{"ORVO_ORPHAN_GRACE_MS", "1000"}});
  ASSERT_TRUE(bus.ok()) << bus.error();
  QProcess* holder = bus.Start(BUS_CLIENT, {"create", "org.orvo.Gatherer2"});
  const QString path = QString::fromStdString(ReadLine(holder, 10000));
  ASSERT_TRUE(path.startsWith(QStringLiteral("/Gatherer2/"))) << path.toStdString() << bus.DaemonLog();
  const pid_t pid = bus.OwnerPid(kGatherer);
  QDBusConnection client = bus.Connect("client");

  // While its creator is on the bus, an idle object stays.
  Pump(1600);
  EXPECT_EQ(StopError(client, path), QString());

  holder->kill();
  holder->waitForFinished(5000);
  // Calls keep an object whose creator is gone (a user driving it by hand).
  const auto killed = Clock::now();
  auto idle = killed;
  while (SecondsSince(killed) < 2.0) {
    Pump(300);
    EXPECT_EQ(StopError(client, path), QString());
    idle = Clock::now();
  }
  EXPECT_TRUE(ObjectListed(client, path));
  ASSERT_TRUE(WaitUntil([&] { return !ObjectListed(client, path); }, 5000));
  EXPECT_GE(SecondsSince(idle), 0.9);
  EXPECT_EQ(StopError(client, path), kUnknownObject);
  ASSERT_TRUE(WaitUntil([&] { return !ProcessRunning(pid); }, 12000));
  EXPECT_GE(SecondsSince(idle), 1.0 + 4.5);
  EXPECT_LE(SecondsSince(idle), 1.0 + 9.0);
}

TEST(Lifetime, ServerStartedWithoutAnObjectExits) {
  PrivateBus bus({"Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  QDBusConnection client = bus.Connect("client");
  // Any call activates the server; this one makes no object.
  QDBusMessage call = QDBusMessage::createMethodCall(kGatherer, QStringLiteral("/"),
                                                     QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
  QDBusMessage reply = client.call(call);
  ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
  const auto started = Clock::now();
  const pid_t pid = bus.OwnerPid(kGatherer);
  ASSERT_TRUE(WaitUntil([&] { return !ProcessRunning(pid); }, 12000));
  EXPECT_GE(SecondsSince(started), 4.5);
  EXPECT_LE(SecondsSince(started), 9.0);
}

TEST(Events, EverySubscriberGetsThemInOrderAndAVanishedOneStopsNobody) {
  PrivateBus bus({"Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  QDBusConnection creator = bus.Connect("creator");
  const QString path = Create(creator, kGatherer);

  // Subscriber 1 through the generated proxy, 2 through a plain match, 3 in
  // a process that is killed half-way.
  QStringList first;
  org::orvo::_IGatherer2Events proxy(kGatherer, path, bus.Connect("first"));
  QObject::connect(&proxy, &org::orvo::_IGatherer2Events::OnProcessStatus, [&](const QString& status, int nID) {
    first << QStringLiteral("OnProcessStatus %1 %2").arg(status).arg(nID);
  });
  QObject::connect(&proxy, &org::orvo::_IGatherer2Events::Complite,
                   [&](int status) { first << QStringLiteral("Complite %1").arg(status); });
  SignalLog second(bus.Connect("second"), kGatherer, path, kGathererEvents);
  QProcess* third = bus.Start(BUS_CLIENT, {"subscribe", "org.orvo.Gatherer2", path.toStdString(), "org.orvo._IGatherer2Events"});
  ASSERT_EQ(ReadLine(third, 10000), "ready");

  org::orvo::IGatherer2 gatherer(kGatherer, path, creator);
  gatherer.StartProcess().waitForFinished();
  ASSERT_TRUE(WaitUntil([&] { return first.size() == 2 && second.entries().size() == 2; }, 5000));
  EXPECT_TRUE(first[0].startsWith(QStringLiteral("OnProcessStatus "))) << first[0].toStdString();
  EXPECT_TRUE(first[0].endsWith(QStringLiteral(" -1")));
  EXPECT_EQ(first[1], QStringLiteral("Complite 32"));
  EXPECT_EQ(second.Members(), QStringList({"OnProcessStatus", "Complite"}));
  EXPECT_EQ(ReadLine(third, 5000).rfind("OnProcessStatus ", 0), 0u);
  EXPECT_EQ(ReadLine(third, 5000), "Complite 32");

  third->kill();
  third->waitForFinished(5000);
  gatherer.StartProcess().waitForFinished();
  ASSERT_TRUE(WaitUntil([&] { return first.size() == 4 && second.entries().size() == 4; }, 5000));
  EXPECT_EQ(first[3], QStringLiteral("Complite 32"));
  EXPECT_EQ(second.Members(), QStringList({"OnProcessStatus", "Complite", "OnProcessStatus", "Complite"}));
  // Events are raised on the object's own path only.
  for (const auto& e : second.entries()) EXPECT_EQ(e.path, path);
}

TEST(Servers, TimekeeperHasOneObjectNoShutdownMonitorAndTerminates) {
  PrivateBus bus({"Timekeeper"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  QDBusConnection client = bus.Connect("client");
  EXPECT_EQ(Create(client, kTimekeeper), QStringLiteral("/OrvoRunner"));
  EXPECT_EQ(Create(bus.Connect("other"), kTimekeeper), QStringLiteral("/OrvoRunner"));
  const pid_t pid = bus.OwnerPid(kTimekeeper);

  org::orvo::IOrvoRunner runner(kTimekeeper, QStringLiteral("/OrvoRunner"), client);
  QDBusPendingReply<int> status = runner.GetStatus();
  status.waitForFinished();
  ASSERT_FALSE(status.isError());
  EXPECT_EQ(status.value(), 0);

  SignalLog events(client, kTimekeeper, QStringLiteral("/OrvoRunner"), QStringLiteral("org.orvo._IOrvoRunnerEvents"));
  runner.Stop().waitForFinished();
  ASSERT_TRUE(events.WaitForCount(2, 5000));
  EXPECT_EQ(events.Members(), QStringList({"Complite", "OnProcessStatus"}));
  EXPECT_EQ(events.entries()[0].args, QVariantList({1}));
  EXPECT_EQ(events.entries()[1].args, QVariantList({QStringLiteral("Download is stopped."), 50, -1}));

  // Release does not end the service, nor does time without objects.
  Release(client, kTimekeeper, QStringLiteral("/OrvoRunner"));
  Pump(6500);
  EXPECT_TRUE(ProcessRunning(pid));
  status = runner.GetStatus();
  status.waitForFinished();
  EXPECT_FALSE(status.isError());

  QDBusPendingReply<> done = runner.Terminate();
  done.waitForFinished();
  EXPECT_FALSE(done.isError()) << done.error().message().toStdString();
  EXPECT_TRUE(WaitUntil([&] { return !ProcessRunning(pid); }, 5000));
}

TEST(Servers, BookbinderGeneratesOncePerObject) {
  PrivateBus bus({"Bookbinder"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  QDBusConnection client = bus.Connect("client");
  const QString path = Create(client, kBookbinder);
  SignalLog events(client, kBookbinder, path, QStringLiteral("org.orvo._IOrvoConvertEvents"));
  org::orvo::IOrvoConvert convert(kBookbinder, path, client);
  convert.Generate(0).waitForFinished();
  // No database here: the run starts, fails and completes.
  ASSERT_TRUE(events.WaitForCount(3, 15000));
  EXPECT_EQ(events.Members(), QStringList({"OnProcessStatus", "OnProcessStatus", "Complite"}));
  EXPECT_EQ(events.entries()[0].args, QVariantList({QStringLiteral("*.lit files generation started")}));
  EXPECT_EQ(events.entries()[1].args, QVariantList({QStringLiteral("Lit generation Failed")}));
  EXPECT_EQ(events.entries()[2].args, QVariantList({1}));

  QDBusPendingReply<> again = convert.Generate(0);
  again.waitForFinished();
  EXPECT_FALSE(again.isError());
  Pump(500);
  EXPECT_EQ(events.entries().size(), 3u) << "a second Generate on one object starts nothing";
}

TEST(CommandLine, SwitchesAsUsersTypeThem) {
  PrivateBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  const std::string file = bus.serviceDir() + "/org.orvo.Gatherer2.service";

  PrivateBus::Result r = bus.Run("Gatherer", {"-regserver"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(testing::ReadFile(file).find("Exec=/usr/bin/env ORVO_HOME=" + bus.orvoHome() + " " + bus.binDir() +
                                         "/Gatherer\n"),
            std::string::npos)
      << testing::ReadFile(file);
  r = bus.Run("Gatherer", {"-UNREGSERVER"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_FALSE(fs::exists(file));
  r = bus.Run("Gatherer", {"/RegServer"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::exists(file));
  r = bus.Run("Gatherer", {"/unregserver"});
  EXPECT_FALSE(fs::exists(file));

  // Not a switch: the program runs as a server.
  for (const std::vector<std::string>& args : {std::vector<std::string>{"RegServer"},
                                               std::vector<std::string>{"/RegServer", "extra"}}) {
    QProcess* server = bus.Start("Gatherer", args);
    EXPECT_TRUE(WaitUntil([&] { return bus.HasOwner(kGatherer); }, 5000)) << args[0];
    EXPECT_FALSE(fs::exists(file)) << args[0];
    server->kill();
    server->waitForFinished(5000);
    EXPECT_NE(server->readAllStandardError().indexOf("running as a server"), -1);
    ASSERT_TRUE(WaitUntil([&] { return !bus.HasOwner(kGatherer); }, 5000));
  }
}

TEST(CommandLine, HelpAndASecondInstance) {
  PrivateBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  for (const char* program : {"Gatherer", "Bookbinder", "Timekeeper"}) {
    PrivateBus::Result r = bus.Run(program, {"--help"});
    EXPECT_EQ(r.exitCode, 0) << program;
    EXPECT_EQ(r.out.rfind(std::string("Usage: ") + program, 0), 0u) << r.out;
    EXPECT_NE(r.out.find("-RegServer"), std::string::npos);
  }
  EXPECT_FALSE(bus.HasOwner(kGatherer)) << "--help must not start a server";

  QProcess* server = bus.Start("Gatherer", {});
  ASSERT_TRUE(WaitUntil([&] { return bus.HasOwner(kGatherer); }, 5000));
  PrivateBus::Result second = bus.Run("Gatherer", {});
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_NE(second.err.find("already"), std::string::npos) << second.err;
  EXPECT_EQ(server->state(), QProcess::Running);
}

TEST(CommandLine, ServerEndsWhenItsBusIsGone) {
  PrivateBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  QProcess* server = bus.Start("Timekeeper", {});
  ASSERT_TRUE(WaitUntil([&] { return bus.HasOwner(kTimekeeper); }, 5000));
  bus.KillDaemon();
  ASSERT_TRUE(server->waitForFinished(5000)) << "a server without its bus must not linger";
  EXPECT_EQ(server->exitCode(), 1);
}

}  // namespace
}  // namespace orvo
