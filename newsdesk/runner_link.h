// CRunnerLink: the reader's connection to the scheduling service's OrvoRunner
// object on the session bus. The reader never gathers news or builds eBooks
// itself; it asks the service and follows the service's relayed events.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <memory>

class QDBusServiceWatcher;

class OrgOrvoIOrvoRunnerInterface;
class OrgOrvo_IOrvoRunnerEventsInterface;

namespace orvo {

inline constexpr const char* kRunnerBusName = "org.orvo.OrvoRunner";

class CRunnerLink : public QObject {
  Q_OBJECT
 public:
  // Values of Complite and of the source of OnProcessStatus.
  static constexpr int kGatheringEnded = 1;
  // The engine was lost or stalled before the end of its run.
  static constexpr int kGatheringInterrupted = 2;
  static constexpr int kEbookEnded = 1024;
  static constexpr int kFromGathering = 0;
  static constexpr int kFromEbook = 1;
  static constexpr int kFromStop = 50;

  explicit CRunnerLink(QDBusConnection bus, QObject* parent = nullptr);
  ~CRunnerLink() override;

  // Another bus (tests); drops the current connection.
  void SetBus(QDBusConnection bus);
  QDBusConnection bus() const { return bus_; }

  // Reaches the service when not connected yet: asks for its object (the bus
  // starts the service when it is registered) and subscribes to its events.
  // False with a reason in `error` when the service cannot be reached.
  bool Connect(QString* error = nullptr);
  bool connected() const { return runner_ != nullptr; }
  void Disconnect();

  // Status bits of the service (bit 0: a download runs); -1 when the call fails.
  int GetStatus();
  // False when the call could not be delivered (the link is then dropped, so
  // the next command connects anew).
  bool Start();
  bool Stop();
  bool StartLitGen();

 signals:
  void Complite(int status);
  void OnProcessStatus(const QString& text, int from, int nID);
  // The service left the bus while connected.
  void serviceLost();

 private:
  bool Check(const QString& what, const QString& error);

  QDBusConnection bus_;
  std::unique_ptr<OrgOrvoIOrvoRunnerInterface> runner_;
  std::unique_ptr<OrgOrvo_IOrvoRunnerEventsInterface> events_;
  QDBusServiceWatcher* watcher_ = nullptr;
  QString lastError_;
};

}  // namespace orvo
