#include "gatherer_object.h"

#include <QTimer>

#include "eventlog.h"
#include "gatherer_adaptor.h"

namespace orvo {

namespace {
constexpr const char* kNotAvailable = "Gathering is not available yet in this version of Gatherer.";
}

GathererObject::GathererObject(QObject* parent) : BusObject(parent) {
  new IGatherer2Adaptor(this);
  new _IGatherer2EventsAdaptor(this);
}

void GathererObject::StartProcess() {
  // The reply goes out first; the run reports through events afterwards.
  QTimer::singleShot(0, this, [this] {
    WriteEventLog(kNotAvailable);
    emit OnProcessStatus(QString::fromUtf8(kNotAvailable), -1);
    emit Complite(kRunFailed);
  });
}

void GathererObject::Stop() {
  // No run can be going on: nothing to stop, and Stop raises no event.
  WriteEventLog("Stop: gathering is not available yet in this version of Gatherer.");
}

}  // namespace orvo
