// The frame's lifetime rules in one process, with short windows: a server
// connection and client connections on a private bus.
#include "busframe.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingReply>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include "busharness.h"
#include "frame_classfactory_interface.h"
#include "frame_instance_interface.h"

namespace orvo {
namespace {

using testing::PrivateBus;
using testing::WaitUntil;

const QString kName = QStringLiteral("org.orvo.FrameTest");

class TestObject : public BusObject {};

ServerConfig ShortConfig() {
  ServerConfig config;
  config.busName = kName;
  config.className = QStringLiteral("FrameTest");
  config.makeObject = [] { return new TestObject; };
  config.idleExitMs = 300;
  config.exitPauseMs = 200;
  config.orphanGraceMs = 200;
  return config;
}

// Calls from this thread to a server on this thread: never block, pump.
template <typename Reply>
bool Finish(Reply& reply) {
  return WaitUntil([&] { return reply.isFinished(); }, 5000);
}

QString Create(QDBusConnection client, const QString& service = kName) {
  org::orvo::ClassFactory factory(service, QStringLiteral("/"), client);
  QDBusPendingReply<QDBusObjectPath> reply = factory.CreateInstance();
  if (!Finish(reply) || reply.isError()) return {};
  return reply.value().path();
}

bool Release(QDBusConnection client, const QString& path) {
  org::orvo::Instance instance(kName, path, client);
  QDBusPendingReply<> reply = instance.Release();
  return Finish(reply) && !reply.isError();
}

struct Running {
  explicit Running(PrivateBus& bus, ServerConfig config = ShortConfig())
      : server(std::move(config), bus.Connect("server")) {
    QObject::connect(&server, &BusServer::finished, [this](int code) { exitCode = code; });
    QString error;
    started = server.Start(&error);
    EXPECT_TRUE(started) << error.toStdString();
  }
  BusServer server;
  bool started = false;
  int exitCode = -1;
};

TEST(Frame, LocksKeepTheServerAndTheLastUnlockStartsTheWindow) {
  PrivateBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  Running run(bus);
  ASSERT_TRUE(run.started);
  QDBusConnection client = bus.Connect("client");

  const QString path = Create(client);
  ASSERT_EQ(path, QStringLiteral("/FrameTest/1"));
  EXPECT_EQ(run.server.lockCount(), 1);
  run.server.Lock();
  ASSERT_TRUE(Release(client, path));
  EXPECT_EQ(run.server.lockCount(), 1);
  EXPECT_EQ(run.server.objectCount(), 0);
  EXPECT_FALSE(Release(client, path)) << "a released object is gone from the bus";

  testing::Pump(800);
  EXPECT_EQ(run.exitCode, -1) << "a lock keeps the server";
  EXPECT_TRUE(bus.HasOwner(kName));

  QElapsedTimer clock;
  clock.start();
  run.server.Unlock();
  ASSERT_TRUE(WaitUntil([&] { return run.exitCode != -1; }, 5000));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_GE(clock.elapsed(), 300 + 200);
  EXPECT_FALSE(bus.HasOwner(kName));
}

TEST(Frame, AStoppingServerTurnsNewClientsAway) {
  PrivateBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  Running run(bus);
  ASSERT_TRUE(run.started);
  QDBusConnection client = bus.Connect("client");
  const QString unique = run.server.connection().baseService();
  ASSERT_FALSE(Create(client).isEmpty());

  run.server.Quit();
  EXPECT_FALSE(bus.HasOwner(kName)) << "the name goes first, so the bus can start a new server";
  EXPECT_EQ(run.server.objectCount(), 0);
  // A call that reached the old process anyway gets an error it can act on.
  org::orvo::ClassFactory factory(unique, QStringLiteral("/"), client);
  QDBusPendingReply<QDBusObjectPath> reply = factory.CreateInstance();
  ASSERT_TRUE(Finish(reply));
  ASSERT_TRUE(reply.isError());
  EXPECT_EQ(reply.error().name(), QLatin1String(kErrorServerStopping));
  EXPECT_TRUE(WaitUntil([&] { return run.exitCode == 0; }, 5000));
}

TEST(Frame, ObjectsOfAClientThatLeftAreReleasedOthersStay) {
  PrivateBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  Running run(bus);
  ASSERT_TRUE(run.started);
  QDBusConnection staying = bus.Connect("staying");
  {
    QDBusConnection leaving = bus.Connect("leaving");
    ASSERT_FALSE(Create(leaving).isEmpty());
    ASSERT_FALSE(Create(leaving).isEmpty());
  }
  const QString kept = Create(staying);
  ASSERT_FALSE(kept.isEmpty());
  EXPECT_EQ(run.server.lockCount(), 3);

  bus.Disconnect("leaving");
  ASSERT_TRUE(WaitUntil([&] { return run.server.objectCount() == 1; }, 5000));
  EXPECT_EQ(run.server.lockCount(), 1);
  testing::Pump(500);
  EXPECT_EQ(run.server.objectCount(), 1) << "the other client's object stays";
  EXPECT_EQ(run.exitCode, -1);
  EXPECT_TRUE(Release(staying, kept));
}

TEST(Frame, FixedObjectIsSharedAndOutlivesRelease) {
  PrivateBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  ServerConfig config = ShortConfig();
  config.fixedPath = QStringLiteral("/Only");
  config.shutdownMonitor = false;
  Running run(bus, config);
  ASSERT_TRUE(run.started);
  {
    QDBusConnection client = bus.Connect("client");
    EXPECT_EQ(Create(client), QStringLiteral("/Only"));
    EXPECT_EQ(Create(bus.Connect("other")), QStringLiteral("/Only"));
    EXPECT_TRUE(Release(client, QStringLiteral("/Only")));
  }
  bus.Disconnect("client");
  testing::Pump(800);
  EXPECT_EQ(run.server.objectCount(), 1);
  EXPECT_EQ(run.exitCode, -1) << "no shutdown monitor";
}

TEST(Frame, SecondServerForTheSameNameDoesNotStart) {
  PrivateBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  Running first(bus);
  ASSERT_TRUE(first.started);
  BusServer second(ShortConfig(), bus.Connect("second"));
  QString error;
  EXPECT_FALSE(second.Start(&error));
  EXPECT_TRUE(error.contains(QStringLiteral("already"))) << error.toStdString();
}

}  // namespace
}  // namespace orvo
