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
#include <string>

#include "schedule.h"
#include "settings.h"

namespace orvo {

// The current local date and time. Injected, so tests never wait for minutes.
using Clock = std::function<DateTime()>;
DateTime LocalNow();

// Whether the entry's kind and times match `now`, without the guard:
//   Once       year, month, day, hour and minute
//   Daily      hour and minute
//   Weekly     day of the week (1 Sunday ... 7 Saturday), hour and minute
//   Monthly    day of the month, hour and minute
//   Routinely  inside the window (strictly after "from", strictly before
//              "till") on a minute reached from "from" in steps of "every";
//              an interval under one minute matches at every check
//   any other  never
bool ScheduleMatches(const ScheduleEntry& entry, const DateTime& now);

// Whether a start stamped at `stamp` was in the minute of `now`.
bool SameMinute(const DateTime& stamp, const DateTime& now);

// The due check of one section.
class DueCheck {
 public:
  DueCheck(Settings settings, std::string section, Clock clock = LocalNow);

  // Re-reads the section. When the first matching entry has not been started
  // in this minute, stamps it and returns its key; otherwise nullopt.
  std::optional<std::string> Check();

  const std::string& section() const { return section_; }

 private:
  Settings settings_;
  std::string section_;
  Clock clock_;
  // Starts this process made, by key. The guard also consults them, so an
  // ini file that cannot be written still gives one start a minute.
  std::map<std::string, DateTime> started_;
};

}  // namespace orvo
