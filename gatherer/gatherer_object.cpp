#include "gatherer_object.h"

#include <QCoreApplication>

#include "gatherer_adaptor.h"
#include "run.h"

namespace orvo {

namespace {

// The process's engine and its current event source. Runs and the run status
// belong to the process, not to one object.
GathererEngine* g_engine = nullptr;
GathererObject* g_source = nullptr;
QMetaObject::Connection g_statusLink;
QMetaObject::Connection g_compliteLink;

GathererEngine& Engine() {
  if (!g_engine) {
    g_engine = new GathererEngine(QCoreApplication::instance());
    g_engine->SetIdlePriority(true);
    QObject::connect(g_engine, &QObject::destroyed, [] { g_engine = nullptr; });
  }
  return *g_engine;
}

void Detach() {
  QObject::disconnect(g_statusLink);
  QObject::disconnect(g_compliteLink);
  g_source = nullptr;
}

}  // namespace

GathererObject::GathererObject(QObject* parent) : BusObject(parent) {
  new IGatherer2Adaptor(this);
  new _IGatherer2EventsAdaptor(this);
  GathererEngine& engine = Engine();
  Detach();
  g_statusLink = connect(&engine, &GathererEngine::OnProcessStatus, this, &GathererObject::OnProcessStatus);
  g_compliteLink = connect(&engine, &GathererEngine::Complite, this, &GathererObject::Complite);
  g_source = this;
}

GathererObject::~GathererObject() {
  if (g_source == this) Detach();
}

void GathererObject::StartProcess() { Engine().StartProcess(); }

void GathererObject::Stop() { Engine().Stop(); }

}  // namespace orvo
