// When a schedule entry falls due.
//
// Timekeeper checks each schedule section every ten seconds. The first entry
// whose kind and times match the current minute decides; its last-start stamp
// keeps it from starting the same engine twice within that minute, however
// often the section is checked and however quickly the engine finishes.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "schedule.h"
#include "settings.h"

namespace orvo {

// The current local date and time. Injected, so tests never wait for minutes.
using Clock = std::function<DateTime()>;
// Where the check's messages go (the event log).
using Logger = std::function<void(const std::string& message)>;
DateTime LocalNow();

// Whether the entry's kind and times match `now`, without the guard:
//   Once       year, month, day, hour and minute
//   Daily      hour and minute
//   Weekly     day of the week (1 Sunday ... 7 Saturday; Monday for a day out
//              of range), hour and minute
//   Monthly    day of the month (the last day in a month without it), hour
//              and minute
//   Routinely  inside the window (strictly after "from", strictly before
//              "till"; a "till" before "from" runs across midnight) on a
//              minute reached from "from" in steps of "every"; an interval
//              under one minute matches at every check
//   any other, and an entry that cannot be read: never
bool ScheduleMatches(const ScheduleEntry& entry, const DateTime& now);

// Whether a start stamped at `stamp` was in the minute of `now`.
bool SameMinute(const DateTime& stamp, const DateTime& now);

// The due check of one section.
class DueCheck {
 public:
  DueCheck(Settings settings, std::string section, Clock clock = LocalNow, Logger log = {});

  // Re-reads the section. When the first matching entry has not been started
  // in this minute, stamps it and returns its key; otherwise nullopt. An
  // entry that cannot be read is logged the first time it is seen; a stamp
  // that cannot be written is logged too.
  std::optional<std::string> Check();

  const std::string& section() const { return section_; }

 private:
  Settings settings_;
  std::string section_;
  Clock clock_;
  Logger log_;
  std::set<std::string> reported_;  // "key=value" of unreadable entries logged
  // Starts this process made, by key. The guard also consults them, so an
  // ini file that cannot be written still gives one start a minute.
  std::map<std::string, DateTime> started_;
};

}  // namespace orvo
