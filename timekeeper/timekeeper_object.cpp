#include "timekeeper_object.h"

#include <QTimer>

#include "eventlog.h"
#include "timekeeper_adaptor.h"

namespace orvo {

TimekeeperObject::TimekeeperObject(QObject* parent) : BusObject(parent) {
  new IOrvoRunnerAdaptor(this);
  new _IOrvoRunnerEventsAdaptor(this);
}

int TimekeeperObject::GetStatus() { return 0; }

void TimekeeperObject::Start() {
  QTimer::singleShot(0, this, [this] {
    const char* text = "Starting a download is not available yet in this version of Timekeeper.";
    WriteEventLog(text);
    emit OnProcessStatus(QString::fromUtf8(text), kFromGathering, -1);
    emit Complite(kGatheringEnded);
  });
}

void TimekeeperObject::Stop() {
  // Nothing runs, so stopping ends nothing; the reader still learns that the
  // download is over.
  QTimer::singleShot(0, this, [this] {
    emit Complite(kGatheringEnded);
    emit OnProcessStatus(QStringLiteral("Download is stopped."), kFromStop, -1);
  });
}

void TimekeeperObject::StartLitGen() {
  QTimer::singleShot(0, this, [this] {
    const char* text = "Starting eBook generation is not available yet in this version of Timekeeper.";
    WriteEventLog(text);
    emit OnProcessStatus(QString::fromUtf8(text), kFromEbook, -1);
    emit Complite(kEbookEnded);
  });
}

void TimekeeperObject::Terminate() {
  if (server()) server()->Quit();
}

}  // namespace orvo
