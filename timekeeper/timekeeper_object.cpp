#include "timekeeper_object.h"

#include <QCoreApplication>

#include "bus_engines.h"
#include "runner.h"
#include "timekeeper_adaptor.h"

namespace orvo {

TimekeeperObject::TimekeeperObject(QObject* parent)
    : BusObject(parent),
      engines_(std::make_unique<BusEngineFactory>(QDBusConnection::sessionBus())),
      runner_(std::make_unique<Runner>(engines_.get(), Settings::Shared())) {
  new IOrvoRunnerAdaptor(this);
  new _IOrvoRunnerEventsAdaptor(this);
  connect(runner_.get(), &Runner::Complite, this, &TimekeeperObject::Complite);
  connect(runner_.get(), &Runner::OnProcessStatus, this, &TimekeeperObject::OnProcessStatus);
  connect(runner_.get(), &Runner::terminateRequested, this, [this] {
    if (server()) server()->Quit();
    else QCoreApplication::quit();
  });
  runner_->StartTimers();
}

// The runner goes first: it stops and releases the engines it holds.
TimekeeperObject::~TimekeeperObject() { runner_.reset(); }

int TimekeeperObject::GetStatus() { return runner_->GetStatus(); }
void TimekeeperObject::Start() { runner_->Start(); }
void TimekeeperObject::Stop() { runner_->Stop(); }
void TimekeeperObject::StartLitGen() { runner_->StartLitGen(); }
void TimekeeperObject::Terminate() { runner_->Terminate(); }

}  // namespace orvo
