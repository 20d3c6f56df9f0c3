// How Timekeeper reaches the two engines it runs.
//
// The service logic only needs to create an engine, start it, stop it, hear
// its statuses and its completion, and let it go. Behind this interface the
// program activates Gatherer and Bookbinder on the bus; tests put fakes here.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

namespace orvo {

enum class EngineKind { kGatherer, kBookbinder };

const char* EngineName(EngineKind kind);  // "Gatherer", "Bookbinder"

// One engine instance, held for one run. Destroying it unsubscribes from its
// events and releases the instance.
class Engine : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;
  ~Engine() override = default;

  // StartProcess for Gatherer, Generate(0) for Bookbinder. False, with the
  // reason, when the engine would not take the call.
  virtual bool Begin(QString* error) = 0;
  // Asks the engine to end its run early (Gatherer's Stop).
  virtual void Stop() = 0;
  // Asks the engine for a sign of life: a call it must answer, not waited
  // for. answered() follows when it does. One that cannot be asked never
  // answers, and only its events show it is alive.
  virtual void Probe() {}
  // Ends the engine's process (it stalled): asked to terminate now, killed
  // after a grace period if still there. Logs what it did.
  virtual void EndProcess() {}

 signals:
  // The engine's OnProcessStatus. nID is -1 for Bookbinder.
  void status(const QString& text, int nID);
  // The engine's Complite.
  void complete(int status);
  // The engine went away without completing (its process ended or crashed).
  void lost(const QString& reason);
  // The engine answered a Probe().
  void answered();
};

class EngineFactory {
 public:
  virtual ~EngineFactory() = default;
  // A new, subscribed instance; nullptr with the reason when the engine
  // cannot be created.
  virtual std::unique_ptr<Engine> Create(EngineKind kind, QString* error) = 0;
};

}  // namespace orvo
