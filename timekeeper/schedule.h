// Schedule entries of ORVO.ini ("ParserSchedule" and "LitSchedule").
//
// The format is the whole contract between the reader's schedule pages, which
// write the entries, and Timekeeper, which reads them every ten seconds and
// stamps each entry when it starts it. One entry per line:
//
//   Schedule0=1|08:00:00|                        daily at 08:00
//   Schedule3=2|21:30:00|6|                      Fridays at 21:30
//   Schedule1=4|09:00:00|18:00:00|01:30:00|      09:00, 10:30 ... 16:30
//   Schedule2=0|2026-12-24 18:00:00|2026-12-24 18:00:04
//                                     ^ last-start stamp, after the last "|"
//
// Every field ends in "|"; what follows the last "|" is the last-start stamp.
// Dates are written in one fixed, locale-independent form ("YYYY-MM-DD
// HH:MM:SS") so the reader and the service agree whatever their locales; the
// usual Windows and system locale forms are read too, so hand-edited and
// migrated files keep working.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings.h"

namespace orvo {

// A local calendar date and time of day, as written in the file. A time
// written alone lies on the null date, 1899-12-30.
struct DateTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;

  bool operator==(const DateTime&) const = default;

  static DateTime TimeOfDay(int hour, int minute, int second = 0) {
    DateTime t;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    return t;
  }
  static DateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    return DateTime{year, month, day, hour, minute, second};
  }
  // The local time of a clock reading.
  static DateTime FromTime(std::time_t t);
  // Back to a clock reading; nullopt for a date the C library cannot map.
  std::optional<std::time_t> ToTime() const;

  bool HasNullDate() const { return year == 1899 && month == 12 && day == 30; }
  int SecondsOfDay() const { return hour * 3600 + minute * 60 + second; }
};

// 1 Sunday, 2 Monday ... 7 Saturday (the numbering of Weekly entries).
int DayOfWeek(const DateTime& t);

// 28 to 31.
int DaysInMonth(int year, int month);

// "YYYY-MM-DD HH:MM:SS": how this system writes Once dates and stamps.
std::string FormatDateTime(const DateTime& t);
// "HH:MM:SS".
std::string FormatTimeOfDay(const DateTime& t);

// Reads a date, a time, or both. Besides our own form it accepts ISO 8601
// ("2026-12-07T08:00:04"), the Windows default forms ("12/7/2026 8:00:04 AM",
// "07.12.2026 08:00:04", "07/12/2026 08:00", "2026/12/07 8:00:04", a date
// alone, a time alone) and the system locale's own date-time text. A slash
// date that could be either day/month or month/day is read in the order of
// the system locale (month first in the C locale). A time alone lies on the
// null date; a date alone at midnight. Nonsense, including 31 February, gives
// nullopt.
std::optional<DateTime> ParseDateTime(std::string_view text);

enum ScheduleKind : int {
  kOnce = 0,
  kDaily = 1,
  kWeekly = 2,
  kMonthly = 3,
  kRoutinely = 4,
};

// One schedule. Fields a kind does not use keep their values but are not
// written. A field that is missing or cannot be read is nullopt, and an entry
// that needs it never falls due.
//
// An entry of kind 0-4 whose fields cannot all be read ("1|25:61:00|",
// "1|08:00:00" without its last "|", "garbage") carries the reason in
// `problem`: it never falls due, the service logs it, the schedule pages show
// it as unreadable, and it is written back exactly as it was read until the
// user edits it.
struct ScheduleEntry {
  std::string key;  // "Schedule%d"
  // Stays as read: a kind other than 0-4 is kept (and never due); a value
  // without a leading number reads as -1.
  int kind = kDaily;
  // Once: the date and time of the single start. Other kinds: the time of day
  // (Routinely: the start of the daily window); its date is not written.
  std::optional<DateTime> start;
  // Weekly: 1 Sunday ... 7 Saturday; any other number means Monday, as the
  // pages list it. Monthly: day of the month 1-31; a day the month does not
  // have means its last day.
  int day = 0;
  std::optional<DateTime> till;   // Routinely: end of the daily window
  std::optional<DateTime> every;  // Routinely: interval, as a time of day
  // Set by the schedule editor for an entry the user removed; saving drops it.
  bool deleted = false;
  // The value as read from the file, stamp included.
  std::string value;
  // Why the value cannot be read; empty when it can. Whoever edits the entry
  // clears it, and the entry is then written from its fields.
  std::string problem;
};

// The weekday a Weekly entry runs on, 1 Sunday ... 7 Saturday: its day, or
// Monday for a day out of range.
int WeeklyRunDay(int day);
// The day of the given month a Monthly entry runs on: its day, or the month's
// last day when the month is shorter.
int MonthlyRunDay(int day, int year, int month);

// The schedule pages list weekdays Monday first (0 Monday ... 6 Sunday); the
// file counts from Sunday (1 Sunday ... 7 Saturday). A day out of range maps
// to Monday, as the pages show it.
int WeekdayIndexToDay(int index);
int DayToWeekdayIndex(int day);

// "Schedule%d".
std::string ScheduleKey(int number);

// Takes one key=value line apart. The stamp is not a field and never
// disturbs the fields before it.
ScheduleEntry ParseScheduleEntry(std::string key, std::string_view value);

// The value the entry is saved as, without a stamp; empty for a kind other
// than 0-4. (An unreadable entry is saved as its `value` instead.)
std::string FormatScheduleValue(const ScheduleEntry& entry);

// The stamp at the end of a value; nullopt when there is none or it cannot be
// read (the entry was never started).
std::optional<DateTime> ParseScheduleStamp(std::string_view value);

// The value up to and including its last "|", followed by `when`.
std::string StampScheduleValue(std::string_view value, const DateTime& when);

// The key for a new entry: the lowest number that no live entry uses.
std::string NewScheduleKey(const std::vector<ScheduleEntry>& entries);

// The section's entries in file order. Lines are counted as the service's
// section buffer would hold them ("key=value" and a terminator each, the whole
// ending in one more); `bufferSize` 0 reads everything, otherwise lines that do
// not fit whole are left out rather than read cut short.
std::vector<ScheduleEntry> ReadSchedules(const Settings& settings, std::string_view section,
                                         size_t bufferSize = 0);

// The section buffer of the service.
inline constexpr size_t kServiceSectionBuffer = 10024;

// Replaces the whole section with the live entries, in order, under their own
// keys; every stamp goes. Unreadable entries are written as they were read.
// False when the file cannot be written.
bool WriteSchedules(const Settings& settings, std::string_view section,
                    const std::vector<ScheduleEntry>& entries);

// Records `when` as the last start of the entry under `key`, reading and
// writing the value under one lock, so a save from the reader in between is
// kept. Does nothing (kMissing) when the key has gone meanwhile, so a stamp
// never brings back an entry the reader has just removed; kFailed when the
// file cannot be written.
Settings::Update WriteScheduleStamp(const Settings& settings, std::string_view section, const std::string& key,
                                    const DateTime& when);

}  // namespace orvo
