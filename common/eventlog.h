// The event log (orvo_log.txt in the program folder): an append-only record
// for the user, three lines per message.
#pragma once

#include <ctime>
#include <string>

namespace orvo {

// The state folder of ResolveHomeFolders() + "orvo_log.txt".
std::string EventLogPath();

// Appends one record. The message is data, never a format. A log that cannot
// be opened loses the message silently: logging never fails its caller.
void WriteEventLog(const std::string& message);

// The same, into a given file (tests, tools).
void WriteEventLogTo(const std::string& path, const std::string& message);

// The record exactly as written, for a given time.
std::string FormatEventLogRecord(const std::string& message, std::time_t when);

}  // namespace orvo
