#include "runner_link.h"

#include <QDBusPendingReply>
#include <QDBusServiceWatcher>

#include "busframe.h"
#include "timekeeper_interface.h"

namespace orvo {

namespace {
// The service answers at once; the work happens on its own loop.
constexpr int kCallTimeoutMs = 10000;
}  // namespace

CRunnerLink::CRunnerLink(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {}

CRunnerLink::~CRunnerLink() { Disconnect(); }

void CRunnerLink::SetBus(QDBusConnection bus) {
  Disconnect();
  bus_ = std::move(bus);
}

bool CRunnerLink::Connect(QString* error) {
  if (runner_) return true;
  QString why;
  if (!bus_.isConnected()) {
    why = tr("no session bus: %1").arg(bus_.lastError().message());
  } else {
    // The object of the service is one fixed path; asking the factory also
    // starts the service when the bus knows how to.
    QDBusObjectPath path = CreateBusObject(bus_, kRunnerBusName, &why);
    if (!path.path().isEmpty()) {
      runner_ = std::make_unique<OrgOrvoIOrvoRunnerInterface>(kRunnerBusName, path.path(), bus_);
      runner_->setTimeout(kCallTimeoutMs);
      events_ = std::make_unique<OrgOrvo_IOrvoRunnerEventsInterface>(kRunnerBusName, path.path(), bus_);
      connect(events_.get(), &OrgOrvo_IOrvoRunnerEventsInterface::Complite, this, &CRunnerLink::Complite);
      connect(events_.get(), &OrgOrvo_IOrvoRunnerEventsInterface::OnProcessStatus, this,
              &CRunnerLink::OnProcessStatus);
      watcher_ = new QDBusServiceWatcher(kRunnerBusName, bus_, QDBusServiceWatcher::WatchForUnregistration, this);
      connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        Disconnect();
        emit serviceLost();
      });
    }
  }
  lastError_ = why;
  if (error) *error = why;
  return runner_ != nullptr;
}

void CRunnerLink::Disconnect() {
  events_.reset();
  runner_.reset();
  if (watcher_) {
    // Also called from the watcher's own signal.
    watcher_->disconnect(this);
    watcher_->deleteLater();
    watcher_ = nullptr;
  }
}

bool CRunnerLink::Check(const QString& /*what*/, const QString& error) {
  if (error.isEmpty()) return true;
  lastError_ = error;
  Disconnect();
  return false;
}

int CRunnerLink::GetStatus() {
  if (!runner_) return -1;
  QDBusPendingReply<int> reply = runner_->GetStatus();
  reply.waitForFinished();
  if (!Check("GetStatus", reply.isError() ? reply.error().message() : QString())) return -1;
  return reply.value();
}

bool CRunnerLink::Start() {
  if (!runner_) return false;
  QDBusPendingReply<> reply = runner_->Start();
  reply.waitForFinished();
  return Check("Start", reply.isError() ? reply.error().message() : QString());
}

bool CRunnerLink::Stop() {
  if (!runner_) return false;
  QDBusPendingReply<> reply = runner_->Stop();
  reply.waitForFinished();
  return Check("Stop", reply.isError() ? reply.error().message() : QString());
}

bool CRunnerLink::StartLitGen() {
  if (!runner_) return false;
  QDBusPendingReply<> reply = runner_->StartLitGen();
  reply.waitForFinished();
  return Check("StartLitGen", reply.isError() ? reply.error().message() : QString());
}

}  // namespace orvo
