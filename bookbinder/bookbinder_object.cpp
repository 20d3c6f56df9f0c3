#include "bookbinder_object.h"

#include <QTimer>

#include "bookbinder_adaptor.h"
#include "eventlog.h"

namespace orvo {

BookbinderObject::BookbinderObject(QObject* parent) : BusObject(parent) {
  new IOrvoConvertAdaptor(this);
  new _IOrvoConvertEventsAdaptor(this);
}

void BookbinderObject::Generate(int) {
  // One run per object: a later Generate starts nothing and raises nothing.
  if (started_) return;
  started_ = true;
  QTimer::singleShot(0, this, [this] {
    WriteEventLog("eBook generation is not available yet in this version of Bookbinder.");
    const char* failed = "Lit generation Failed";
    WriteEventLog(failed);
    emit OnProcessStatus(QString::fromUtf8(failed));
    emit Complite(1);
  });
}

}  // namespace orvo
