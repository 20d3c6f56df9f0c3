#include "due.h"

#include <ctime>

#include "eventlog.h"

namespace orvo {

DateTime LocalNow() { return DateTime::FromTime(std::time(nullptr)); }

namespace {

bool SameHourMinute(const DateTime& a, const DateTime& b) { return a.hour == b.hour && a.minute == b.minute; }

constexpr int kDay = 24 * 3600;

bool RoutinelyMatches(const ScheduleEntry& e, const DateTime& now) {
  if (!e.start || !e.till || !e.every) return false;
  const int from = e.start->SecondsOfDay();
  // A window whose end comes before its start runs across midnight: both are
  // measured from the start, a day later for what lies before it.
  const int length = (e.till->SecondsOfDay() - from + kDay) % kDay;
  const int elapsed = (now.SecondsOfDay() - from + kDay) % kDay;
  if (elapsed == 0 || elapsed >= length) return false;
  // An interval under a minute cannot be told apart at minute resolution:
  // the entry matches at every check and the guard makes that once a minute.
  if (e.every->hour * 60 + e.every->minute == 0) return true;
  const int step = e.every->SecondsOfDay();
  const int nowMinute = (from + elapsed) / 60;
  for (int t = from; t < from + elapsed; t += step)
    if (t / 60 == nowMinute) return true;
  return false;
}

}  // namespace

bool ScheduleMatches(const ScheduleEntry& e, const DateTime& now) {
  if (!e.problem.empty()) return false;
  switch (e.kind) {
    case kOnce:
      return e.start && e.start->year == now.year && e.start->month == now.month && e.start->day == now.day &&
             SameHourMinute(*e.start, now);
    case kDaily:
      return e.start && SameHourMinute(*e.start, now);
    case kWeekly:
      return e.start && WeeklyRunDay(e.day) == DayOfWeek(now) && SameHourMinute(*e.start, now);
    case kMonthly:
      return e.start && MonthlyRunDay(e.day, now.year, now.month) == now.day && SameHourMinute(*e.start, now);
    case kRoutinely:
      return RoutinelyMatches(e, now);
    default:
      return false;
  }
}

bool SameMinute(const DateTime& stamp, const DateTime& now) {
  // The year counts too: a start a year ago to the minute is not this one.
  return stamp.year == now.year && stamp.month == now.month && stamp.day == now.day && SameHourMinute(stamp, now);
}

DueCheck::DueCheck(Settings settings, std::string section, Clock clock, Logger log)
    : settings_(std::move(settings)), section_(std::move(section)), clock_(std::move(clock)), log_(std::move(log)) {
  if (!log_) log_ = WriteEventLog;
}

std::optional<std::string> DueCheck::Check() {
  const DateTime now = clock_();
  size_t used = 1;
  for (const auto& [key, value] : settings_.ReadSection(section_)) {
    // What the service's section buffer holds, as ReadSchedules counts it.
    used += key.size() + value.size() + 2;
    if (used > kServiceSectionBuffer) break;
    ScheduleEntry entry = ParseScheduleEntry(key, value);
    if (!entry.problem.empty()) {
      // Once per value: the next check reads the same file.
      if (reported_.insert(key + "=" + value).second)
        log_("Schedule entry " + key + "=" + value + " in [" + section_ + "] cannot be read (" + entry.problem +
             ") and never starts anything; set it again on the schedule page.");
      continue;
    }
    if (!ScheduleMatches(entry, now)) continue;
    // The first matching entry decides, started or not.
    std::optional<DateTime> stamp = ParseScheduleStamp(value);
    if (stamp && SameMinute(*stamp, now)) return std::nullopt;
    auto mine = started_.find(key);
    if (mine != started_.end() && SameMinute(mine->second, now)) return std::nullopt;
    started_[key] = now;
    if (WriteScheduleStamp(settings_, section_, key, now) == Settings::Update::kFailed)
      log_("Can not write the last start of " + key + " in [" + section_ + "] to " + settings_.path() +
           "; this service still starts it only once a minute.");
    return key;
  }
  return std::nullopt;
}

}  // namespace orvo
