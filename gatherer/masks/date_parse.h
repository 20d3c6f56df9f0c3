// Reading news dates out of list-page texts and link addresses with the
// small date patterns of the mask language (D0 M2 Y1 * ...).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orvo {

// A local date-time to the second with a status, like an OLE date: "null"
// is the zero date (30 December 1899, 00:00:00).
struct DateTime {
  enum class Status { kValid, kInvalid, kNull };

  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
  Status status = Status::kNull;

  static DateTime Zero() { return DateTime{}; }
  // Fields as given; the status is kValid when they form a real date-time
  // (years 100 to 9999), kInvalid otherwise.
  static DateTime Make(int year, int month, int day, int hour = 0, int minute = 0,
                       int second = 0);
  static DateTime Now();  // local time

  bool valid() const { return status == Status::kValid; }
  // Days since the zero date, with the time as a fraction (for spans).
  double Serial() const;
  std::string ToString() const;  // "YYYY-MM-DD HH:MM:SS"
  bool operator==(const DateTime&) const = default;
};

bool IsValidDateTime(int year, int month, int day, int hour, int minute, int second);

// Reads text with pattern and lower-case month names (January first) into out.
// True when a valid date-time was set. A false result leaves out as it was,
// except that a finished parse that gives no real date stores the fields with
// status kInvalid. A pattern without a month keeps out's date and sets only
// the time. current_year is the year a pattern without Y assumes.
bool ParseDate(std::string_view text, std::string_view pattern,
               const std::vector<std::string>& month_names, DateTime& out, int current_year);
// Same, with the current year of the local clock.
bool ParseDate(std::string_view text, std::string_view pattern,
               const std::vector<std::string>& month_names, DateTime& out);

// Reads "2024-03-05", "2024-03-05T14:30:00+01:00" and the like.
bool ParseIsoDate(std::string_view text, DateTime& out);

}  // namespace orvo
