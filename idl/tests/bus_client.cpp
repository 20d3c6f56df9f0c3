// A client process for the server tests, one that can be killed while it
// holds an object or listens to events.
//   bus_client create <bus name>            prints the new object's path, then waits
//   bus_client subscribe <bus name> <path> <interface>
//                                           prints "ready", then one line per signal
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

#include <cstdio>

#include "busframe.h"

namespace {

class Printer : public QObject {
  Q_OBJECT
 public Q_SLOTS:
  void OnSignal(const QDBusMessage& message) {
    std::string line = message.member().toStdString();
    for (const QVariant& arg : message.arguments()) line += " " + arg.toString().toStdString();
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (args.size() == 3 && args[1] == "create") {
    QString error;
    const QDBusObjectPath path = orvo::CreateBusObject(bus, args[2], &error);
    if (path.path().isEmpty()) {
      std::fprintf(stderr, "bus_client: %s\n", error.toLocal8Bit().constData());
      return 1;
    }
    std::printf("%s\n", path.path().toLocal8Bit().constData());
    std::fflush(stdout);
    return app.exec();
  }
  if (args.size() == 5 && args[1] == "subscribe") {
    Printer printer;
    if (!bus.connect(args[2], args[3], args[4], QString(), &printer, SLOT(OnSignal(QDBusMessage)))) {
      std::fprintf(stderr, "bus_client: cannot subscribe\n");
      return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
  }
  std::fprintf(stderr, "usage: bus_client create <bus name> | subscribe <bus name> <path> <interface>\n");
  return 2;
}

#include "bus_client.moc"
