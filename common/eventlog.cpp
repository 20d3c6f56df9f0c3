#include "eventlog.h"

#include <fcntl.h>
#include <unistd.h>

#include "settings.h"
#include "text.h"

namespace orvo {

std::string EventLogPath() { return ResolveHomeFolders().state + "orvo_log.txt"; }

std::string FormatEventLogRecord(const std::string& message, std::time_t when) {
  const std::string stamp = FormatLocalTime(when, "%d.%m.%Y  %H:%M:%S");
  std::string record;
  record.reserve(message.size() + 80);
  record += "Date: ";
  record += stamp;
  record += " \nMessage: ";
  record += message;
  record += " \n-------------------------\n";
  return record;
}

void WriteEventLogTo(const std::string& path, const std::string& message) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  // One write() per record: O_APPEND makes concurrent records land whole.
  const std::string record = FormatEventLogRecord(message, std::time(nullptr));
  ssize_t n = ::write(fd, record.data(), record.size());
  (void)n;
  ::close(fd);
}

void WriteEventLog(const std::string& message) { WriteEventLogTo(EventLogPath(), message); }

}  // namespace orvo
