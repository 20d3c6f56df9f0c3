#include "removable_drives.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QVariantMap>

#include <map>

namespace orvo {

namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");
constexpr int kCallTimeoutMs = 5000;

using Interfaces = std::map<QString, QVariantMap>;

// GetManagedObjects' a{oa{sa{sv}}}.
std::map<QString, Interfaces> ManagedObjects(const QDBusArgument& arg) {
  std::map<QString, Interfaces> objects;
  arg.beginMap();
  while (!arg.atEnd()) {
    QDBusObjectPath path;
    arg.beginMapEntry();
    arg >> path;
    Interfaces& interfaces = objects[path.path()];
    arg.beginMap();
    while (!arg.atEnd()) {
      QString name;
      QVariantMap properties;
      arg.beginMapEntry();
      arg >> name >> properties;
      arg.endMapEntry();
      interfaces[name] = properties;
    }
    arg.endMap();
    arg.endMapEntry();
  }
  arg.endMap();
  return objects;
}

// MountPoints' aay: NUL-terminated byte strings.
std::vector<std::string> MountPoints(const QVariant& value) {
  std::vector<std::string> points;
  if (!value.canConvert<QDBusArgument>()) return points;
  const QDBusArgument arg = value.value<QDBusArgument>();
  arg.beginArray();
  while (!arg.atEnd()) {
    QByteArray bytes;
    arg >> bytes;
    std::string point = bytes.toStdString();
    while (!point.empty() && point.back() == '\0') point.pop_back();
    while (point.size() > 1 && point.back() == '/') point.pop_back();
    if (!point.empty()) points.push_back(point);
  }
  arg.endArray();
  return points;
}

bool Removable(const QVariantMap& drive) {
  return drive.value(QStringLiteral("Removable")).toBool() || drive.value(QStringLiteral("MediaRemovable")).toBool() ||
         drive.value(QStringLiteral("Ejectable")).toBool() ||
         drive.value(QStringLiteral("ConnectionBus")).toString() == QLatin1String("usb");
}

}  // namespace

std::vector<MountedDrive> UDisksDrives::MountedRemovableDrives(std::string* error) {
  if (!bus_.isConnected()) {
    *error = "no system bus (" + bus_.lastError().message().toStdString() + ")";
    return {};
  }
  QDBusMessage call = QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/UDisks2"),
                                                     QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                                     QStringLiteral("GetManagedObjects"));
  QDBusMessage reply = bus_.call(call, QDBus::Block, kCallTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty() ||
      !reply.arguments().first().canConvert<QDBusArgument>()) {
    *error = "UDisks2 does not answer (" + reply.errorMessage().toStdString() + "); is udisks2 installed and running?";
    return {};
  }
  const std::map<QString, Interfaces> objects = ManagedObjects(reply.arguments().first().value<QDBusArgument>());
  std::vector<MountedDrive> drives;
  for (const auto& [path, interfaces] : objects) {
    auto fs = interfaces.find(kFilesystem), block = interfaces.find(kBlock);
    if (fs == interfaces.end() || block == interfaces.end()) continue;
    const QVariantMap& b = block->second;
    if (b.value(QStringLiteral("HintSystem")).toBool() || b.value(QStringLiteral("HintIgnore")).toBool()) continue;
    const QString drivePath = b.value(QStringLiteral("Drive")).value<QDBusObjectPath>().path();
    auto drive = objects.find(drivePath);
    if (drive == objects.end()) continue;
    auto d = drive->second.find(kDrive);
    if (d == drive->second.end() || !Removable(d->second)) continue;
    for (const std::string& point : MountPoints(fs->second.value(QStringLiteral("MountPoints"))))
      drives.push_back(MountedDrive{point, b.value(QStringLiteral("IdLabel")).toString().toStdString()});
  }
  return drives;
}

}  // namespace orvo
