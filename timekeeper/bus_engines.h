// The engines as the service really reaches them: Gatherer and Bookbinder on
// the session bus, activated on demand, one object per run.
#pragma once

#include <QDBusConnection>
#include <QString>

#include "engines.h"

namespace orvo {

class BusEngineFactory : public EngineFactory {
 public:
  explicit BusEngineFactory(QDBusConnection connection) : connection_(std::move(connection)) {}

  // Asks the engine's server for a new object (the bus starts the server when
  // needed) and subscribes to its events.
  std::unique_ptr<Engine> Create(EngineKind kind, QString* error) override;

 private:
  QDBusConnection connection_;
};

// Bus names of the engines.
QString EngineBusName(EngineKind kind);

}  // namespace orvo
