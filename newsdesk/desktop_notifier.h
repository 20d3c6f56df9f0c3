// CDesktopNotifier: tells the desktop's notification server (the
// org.freedesktop.Notifications service on the session bus) that a run has
// brought something new. Best effort: without a server nothing is shown, and
// nothing waits for an answer.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace orvo {

inline constexpr const char* kNotifyKey = "Notify";  // main section; 0 turns notifications off

class CDesktopNotifier : public QObject {
  Q_OBJECT
 public:
  explicit CDesktopNotifier(QDBusConnection bus, QObject* parent = nullptr);
  void SetBus(QDBusConnection bus) { bus_ = bus; }

  // Whether the setting allows notifications (read at every call, like every key).
  static bool Enabled();
  // Sends one notification unless the setting is off; false when nothing was sent.
  bool Notify(const QString& summary, const QString& body);
  int sent() const { return sent_; }

 private:
  QDBusConnection bus_;
  uint lastId_ = 0;  // a newer notification replaces the last one
  int sent_ = 0;
};

}  // namespace orvo
