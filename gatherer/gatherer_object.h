// Gatherer2, the gathering engine's object on the bus: org.orvo.IGatherer2
// with the events of org.orvo._IGatherer2Events (idl/gatherer.xml).
//
// The adaptor generated from idl/gatherer.xml includes this header and calls
// these slots, and relays these signals as the D-Bus events: keep the names
// and signatures as they are, and keep this header to Qt and the frame (put
// engine types behind a pointer).
#pragma once

#include <QString>

#include "busframe.h"

namespace orvo {

class GathererObject : public BusObject {
  Q_OBJECT
 public:
  // Run status passed to Complite.
  static constexpr int kRunSucceeded = 1;
  static constexpr int kRunFailed = 32;

  // A run's events go to the object that started it, and only it may stop
  // the run (or any object, once that one is gone).
  explicit GathererObject(QObject* parent = nullptr);
  ~GathererObject() override;

 public Q_SLOTS:
  // Both return at once; the run goes on from the event loop. A start while
  // a run is going, or a stop of another client's run, is answered with an
  // error (kErrorBusy, kErrorNotYourRun) and changes nothing.
  void StartProcess();
  void Stop();

 Q_SIGNALS:
  void Complite(int status);
  void OnProcessStatus(const QString& Status, int nID);
};

}  // namespace orvo
