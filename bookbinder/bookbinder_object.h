// OrvoConvert, the eBook generator's object on the bus: org.orvo.IOrvoConvert
// with the events of org.orvo._IOrvoConvertEvents (idl/bookbinder.xml).
//
// The adaptor generated from idl/bookbinder.xml includes this header and calls
// these slots, and relays these signals as the D-Bus events: keep the names
// and signatures as they are, and keep this header to Qt and the frame (put
// engine types behind a pointer).
#pragma once

#include <QString>

#include <memory>

#include "busframe.h"

namespace orvo {

class GenerationRun;

class BookbinderObject : public BusObject {
  Q_OBJECT
 public:
  explicit BookbinderObject(QObject* parent = nullptr);
  // A run still going is asked to stop after its volume and waited for.
  ~BookbinderObject() override;

 public Q_SLOTS:
  // Starts this object's one run and returns at once. The argument may ask
  // for a format (1 lit, 2 epub, 3 both); 0 or anything else: BookFormat.
  void Generate(int in0);

 Q_SIGNALS:
  // Always 1 at the end of a run; the outcome is the last status text.
  void Complite(int status);
  void OnProcessStatus(const QString& bstrStatus);

 private:
  std::unique_ptr<GenerationRun> run_;
};

}  // namespace orvo
