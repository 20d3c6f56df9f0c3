#include "gatherer/masks/date_parse.h"

#include <cstdio>
#include <ctime>

#include "gatherer/masks/text_util.h"

namespace orvo {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
  return kDays[month - 1];
}

// Days from 1 January of year 0 (proleptic Gregorian) to the given date.
long DayNumber(int y, int m, int d) {
  // Shift so the year starts in March; leap days then fall at the year's end.
  if (m <= 2) {
    --y;
    m += 12;
  }
  long era_days = 365L * y + y / 4 - y / 100 + y / 400;
  return era_days + (153 * (m - 3) + 2) / 5 + d - 1;
}

}  // namespace

bool IsValidDateTime(int year, int month, int day, int hour, int minute, int second) {
  if (year < 100 || year > 9999 || month < 1 || month > 12) return false;
  if (day < 1 || day > DaysInMonth(year, month)) return false;
  return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

DateTime DateTime::Make(int year, int month, int day, int hour, int minute, int second) {
  DateTime d;
  d.year = year;
  d.month = month;
  d.day = day;
  d.hour = hour;
  d.minute = minute;
  d.second = second;
  d.status = IsValidDateTime(year, month, day, hour, minute, second) ? Status::kValid
                                                                     : Status::kInvalid;
  return d;
}

DateTime DateTime::Now() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return Make(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

double DateTime::Serial() const {
  double days = double(DayNumber(year, month, day) - DayNumber(1899, 12, 30));
  return days + (hour * 3600 + minute * 60 + second) / 86400.0;
}

std::string DateTime::ToString() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute,
                second);
  return buf;
}

bool ParseDate(std::string_view text_in, std::string_view pattern,
               const std::vector<std::string>& months, DateTime& out, int current_year) {
  std::string text = Utf8Lower(text_in);
  const std::string restart_copy(pattern);
  std::string work = TrimCopy(pattern);
  if (work.empty()) return false;

  int year = current_year, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  // The working pattern and the text are consumed from the front; offsets
  // keep that cheap.
  size_t wp = 0, tp = 0;
  // Characters, not bytes: the text may hold month names outside ASCII.
  auto text_left = [&] { return Utf8Length(std::string_view(text).substr(tp)); };
  auto first_chars = [&](size_t n) {
    return std::string_view(text).substr(tp, Utf8Advance(text, tp, n) - tp);
  };
  auto at_digit = [&] { return tp < text.size() && IsDigit(text[tp]); };

  while (true) {
    char c = work[wp++];
    bool restart = false;
    if (c == '*') {
      size_t target = std::string::npos;
      if (wp < work.size() && work[wp] == 'M' && !months.empty()) {
        for (const std::string& name : months) {
          size_t at = text.find(name, tp);
          if (at != std::string::npos) {
            target = at;
            break;
          }
        }
      }
      if (target == std::string::npos) {
        for (size_t i = tp; i < text.size(); ++i)
          if (IsDigit(text[i])) {
            target = i;
            break;
          }
      }
      if (target == std::string::npos) return false;
      tp = target;
    } else if (c == 'D' || c == 'H' || c == 'M' || c == 'N' || c == 'S') {
      char variant = wp < work.size() ? work[wp++] : '\0';
      int* field = c == 'D' ? &day : c == 'H' ? &hour : c == 'M' ? &month : c == 'N' ? &minute
                                                                                       : &second;
      if (variant == '0') {
        size_t n = 0;
        while (n < 2 && tp + n < text.size() && IsDigit(text[tp + n])) ++n;
        if (n == 0) {
          restart = true;
        } else {
          *field = LeadingInt(std::string_view(text).substr(tp, n));
          tp += n;
        }
      } else if (variant == '1') {
        if (!at_digit()) {
          restart = true;
        } else {
          if (text_left() < 2) return false;
          *field = LeadingInt(first_chars(2));
          tp = Utf8Advance(text, tp, 2);
        }
      } else if (variant == '2' && c == 'M') {
        if (text_left() <= 2 || months.size() != 12) return false;
        restart = true;
        for (size_t i = 0; i < months.size(); ++i) {
          if (text.find(months[i], tp) != std::string::npos) {
            month = int(i) + 1;
            tp = Utf8Advance(text, tp, Utf8Length(months[i]));
            restart = false;
            break;
          }
        }
      } else {
        return false;
      }
    } else if (c == 'Y') {
      if (!at_digit()) {
        restart = true;
      } else {
        char variant = wp < work.size() ? work[wp++] : '\0';
        if (variant == '0') {
          if (text_left() < 2) {
            restart = true;
          } else {
            int y = LeadingInt(first_chars(2)) + 2000;
            if (y > 2000) {
              year = y;
              tp = Utf8Advance(text, tp, 2);
            } else {
              restart = true;
            }
          }
        } else if (variant == '1') {
          if (text_left() < 4) {
            restart = true;
          } else {
            int y = LeadingInt(first_chars(4));
            if (y > 1989) {
              year = y;
              tp = Utf8Advance(text, tp, 4);
            } else {
              restart = true;
            }
          }
        } else {
          return false;
        }
      }
    }
    if (restart) {
      // Slide: start the pattern again one character further on.
      work = restart_copy;
      wp = 0;
      tp = Utf8Advance(text, tp, 1);
    }
    bool pattern_done = wp >= work.size();
    if (text_left() < 2 && !pattern_done) return false;
    if (pattern_done) break;
  }

  DateTime result;
  if (month != 0) {
    result = DateTime::Make(year, month, day, hour, minute, second);
  } else {
    result = DateTime::Make(out.year, out.month, out.day, hour, minute, second);
  }
  out = result;
  return result.valid();
}

bool ParseDate(std::string_view text, std::string_view pattern,
               const std::vector<std::string>& months, DateTime& out) {
  return ParseDate(text, pattern, months, out, DateTime::Now().year);
}

bool ParseIsoDate(std::string_view text, DateTime& out) {
  text = TrimView(text);
  auto num = [&](size_t at, size_t len, int& v) {
    if (at + len > text.size()) return false;
    v = 0;
    for (size_t i = at; i < at + len; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      v = v * 10 + (text[i] - '0');
    }
    return true;
  };
  int y, mo, d, h = 0, mi = 0, s = 0;
  if (!num(0, 4, y) || text.size() < 10 || text[4] != '-' || !num(5, 2, mo) || text[7] != '-' || !num(8, 2, d))
    return false;
  if (text.size() >= 16 && (text[10] == 'T' || text[10] == ' ') && num(11, 2, h) && text[13] == ':' &&
      num(14, 2, mi)) {
    if (text.size() >= 19 && text[16] == ':') num(17, 2, s);
  } else {
    h = mi = s = 0;
  }
  DateTime dt = DateTime::Make(y, mo, d, h, mi, s);
  if (!dt.valid()) return false;
  out = dt;
  return true;
}

}  // namespace orvo
