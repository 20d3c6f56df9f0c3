#include "bookbinder_object.h"

#include "bookbinder_adaptor.h"
#include "generation_run.h"

namespace orvo {

BookbinderObject::BookbinderObject(QObject* parent) : BusObject(parent) {
  new IOrvoConvertAdaptor(this);
  new _IOrvoConvertEventsAdaptor(this);
}

BookbinderObject::~BookbinderObject() = default;

void BookbinderObject::Generate(int format) {
  // One run per object: a later Generate starts nothing and raises nothing.
  if (run_) return;
  run_ = std::make_unique<GenerationRun>();
  run_->setFormat(BookFormatFromCode(format));
  run_->setSendNow((format & kSendNowFlag) != 0);
  // The run reports on this thread; the events are its reports as they come.
  connect(run_.get(), &GenerationRun::statusChanged, this, &BookbinderObject::OnProcessStatus);
  connect(run_.get(), &GenerationRun::complete, this, &BookbinderObject::Complite);
  run_->start();
}

}  // namespace orvo
