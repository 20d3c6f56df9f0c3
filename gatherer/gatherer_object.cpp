#include "gatherer_object.h"

#include <QCoreApplication>

#include "eventlog.h"
#include "gatherer_adaptor.h"
#include "run.h"

namespace orvo {

namespace {

// The process's engine and the object whose start began the current run.
// Runs and the run status belong to the process; the events of a run belong
// to the client that started it.
GathererEngine* g_engine = nullptr;
GathererObject* g_runOwner = nullptr;

GathererEngine& Engine() {
  if (!g_engine) {
    g_engine = new GathererEngine(QCoreApplication::instance());
    g_engine->SetIdlePriority(true);
    QObject::connect(g_engine, &QObject::destroyed, [] { g_engine = nullptr; });
  }
  return *g_engine;
}

}  // namespace

GathererObject::GathererObject(QObject* parent) : BusObject(parent) {
  new IGatherer2Adaptor(this);
  new _IGatherer2EventsAdaptor(this);
  GathererEngine& engine = Engine();
  connect(&engine, &GathererEngine::OnProcessStatus, this, [this](const QString& status, int id) {
    if (g_runOwner == this) emit OnProcessStatus(status, id);
  });
  connect(&engine, &GathererEngine::Complite, this, [this](int status) {
    if (g_runOwner == this) emit Complite(status);
  });
}

GathererObject::~GathererObject() {
  if (g_runOwner == this) g_runOwner = nullptr;
}

void GathererObject::StartProcess() {
  if (!Engine().StartProcess()) {
    // Told at once: this client's events would never come.
    if (calledFromDBus())
      sendErrorReply(kErrorBusy, QStringLiteral("A download is already running; this start request is refused."));
    return;
  }
  g_runOwner = this;
}

void GathererObject::Stop() {
  if (Engine().running() && g_runOwner && g_runOwner != this) {
    WriteEventLog("A stop request from a client that did not start the running download is ignored.");
    if (calledFromDBus())
      sendErrorReply(kErrorNotYourRun, QStringLiteral("The running download was started by another client."));
    return;
  }
  Engine().Stop();
}

}  // namespace orvo
