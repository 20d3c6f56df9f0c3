#include "desktop_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include "settings.h"

namespace orvo {

namespace {
const char* const kService = "org.freedesktop.Notifications";
const char* const kPath = "/org/freedesktop/Notifications";
const char* const kInterface = "org.freedesktop.Notifications";
constexpr int kExpireMs = 10000;
}  // namespace

CDesktopNotifier::CDesktopNotifier(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(bus) {}

bool CDesktopNotifier::Enabled() { return Settings::Shared().ReadInt(kSystemSection, kNotifyKey, 1) != 0; }

bool CDesktopNotifier::Notify(const QString& summary, const QString& body) {
  if (!Enabled() || !bus_.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  QVariantMap hints;
  hints.insert("desktop-entry", QStringLiteral("org.orvo.Newsdesk"));
  hints.insert("category", QStringLiteral("transfer.complete"));
  // The body may carry markup on some servers: the texts are plain.
  call << QStringLiteral("ORVO Newsdesk") << lastId_ << QStringLiteral("org.orvo.Newsdesk") << summary
       << body.toHtmlEscaped() << QStringList() << hints << kExpireMs;
  // Asynchronous: a slow or absent server never holds up the window.
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kExpireMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    QDBusPendingReply<uint> reply = *w;
    if (reply.isValid()) lastId_ = reply.value();
    w->deleteLater();
  });
  ++sent_;
  return true;
}

}  // namespace orvo
