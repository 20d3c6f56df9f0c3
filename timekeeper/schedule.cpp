#include "schedule.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

#include "text.h"

namespace orvo {

DateTime DateTime::FromTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return DateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::optional<std::time_t> DateTime::ToTime() const {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  return t;
}

int DayOfWeek(const DateTime& t) {
  // Sakamoto's method: 0 is Sunday.
  static const int kOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  int y = t.month < 3 ? t.year - 1 : t.year;
  int w = (y + y / 4 - y / 100 + y / 400 + kOffsets[(t.month - 1) % 12] + t.day) % 7;
  return w + 1;
}

std::string FormatDateTime(const DateTime& t) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return buf;
}

std::string FormatTimeOfDay(const DateTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return buf;
}

namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12) return 31;
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

namespace {

bool Valid(const DateTime& t) {
  return t.year >= 100 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
         t.day <= DaysInMonth(t.year, t.month) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
         t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

// The environment's own locale (LANG, LC_TIME ...), made once. Never the
// process's global locale, which Qt or a library may have changed.
locale_t SystemLocale() {
  static locale_t loc = [] {
    locale_t l = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
    if (!l) l = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return l;
  }();
  return loc;
}

// Whether the system locale writes the day before the month.
bool DayFirst() {
  static const bool dayFirst = [] {
    locale_t loc = SystemLocale();
    const char* fmt = loc ? nl_langinfo_l(D_FMT, loc) : "%m/%d/%y";
    std::string f = fmt ? fmt : "";
    size_t d = f.find("%d"), m = f.find("%m");
    if (d == std::string::npos) d = f.find("%e");
    return d != std::string::npos && m != std::string::npos && d < m;
  }();
  return dayFirst;
}

// A small cursor over the text, enough for the numeric date and time forms.
struct Cursor {
  std::string_view s;
  size_t i = 0;

  bool AtEnd() const { return i >= s.size(); }
  char Peek() const { return AtEnd() ? '\0' : s[i]; }
  void SkipSpaces() {
    while (!AtEnd() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  }
  // Up to `maxDigits` decimal digits; the count read goes to *digits.
  bool Number(int* value, int* digits, int maxDigits = 4) {
    int n = 0, v = 0;
    while (!AtEnd() && n < maxDigits && std::isdigit(static_cast<unsigned char>(s[i]))) {
      v = v * 10 + (s[i] - '0');
      ++i;
      ++n;
    }
    if (n == 0 || (!AtEnd() && std::isdigit(static_cast<unsigned char>(s[i])))) return false;
    *value = v;
    if (digits) *digits = n;
    return true;
  }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++i;
    return true;
  }
  // Case-insensitive word at the cursor.
  bool TakeWord(std::string_view w) {
    if (w.empty() || s.size() - i < w.size()) return false;
    if (!EqualsNoCase(s.substr(i, w.size()), w)) return false;
    i += w.size();
    return true;
  }
};

int ExpandYear(int y, int digits) {
  if (digits > 2) return y;
  return y < 30 ? 2000 + y : 1900 + y;  // the usual two-digit window, 1930-2029
}

bool ParseDate(Cursor& c, DateTime* t) {
  Cursor save = c;
  int a, b, y, da, db, dy;
  if (!c.Number(&a, &da)) return (c = save, false);
  char sep = c.Peek();
  if (sep != '-' && sep != '/' && sep != '.') return (c = save, false);
  c.Take(sep);
  if (!c.Number(&b, &db, 2) || !c.Take(sep) || !c.Number(&y, &dy)) return (c = save, false);
  if (da == 4) {  // year first: ISO, East Asian forms
    t->year = a, t->month = b, t->day = y;
    if (dy > 2) return (c = save, false);
    return true;
  }
  if (da > 2 || dy == 3) return (c = save, false);
  bool dayFirst = sep == '.' || a > 12 || (b <= 12 && DayFirst());
  t->year = ExpandYear(y, dy);
  t->month = dayFirst ? b : a;
  t->day = dayFirst ? a : b;
  c.Take('.');  // some locales close the year with a dot
  return true;
}

bool TakeMeridiem(Cursor& c, bool* pm) {
  if (c.TakeWord("AM") || c.TakeWord("A.M.")) return (*pm = false, true);
  if (c.TakeWord("PM") || c.TakeWord("P.M.")) return (*pm = true, true);
  if (locale_t loc = SystemLocale()) {
    if (c.TakeWord(nl_langinfo_l(AM_STR, loc))) return (*pm = false, true);
    if (c.TakeWord(nl_langinfo_l(PM_STR, loc))) return (*pm = true, true);
  }
  return false;
}

bool ParseTime(Cursor& c, DateTime* t) {
  Cursor save = c;
  int h, m, s = 0, dh, dm;
  if (!c.Number(&h, &dh, 2) || !c.Take(':') || !c.Number(&m, &dm, 2) || dm != 2) return (c = save, false);
  if (c.Take(':')) {
    int ds;
    if (!c.Number(&s, &ds, 2) || ds != 2) return (c = save, false);
    if (c.Take('.') || c.Take(',')) {  // fractions of a second are dropped
      int f;
      if (!c.Number(&f, nullptr, 9)) return (c = save, false);
    }
  }
  Cursor before = c;
  c.SkipSpaces();
  bool pm;
  if (TakeMeridiem(c, &pm)) {
    if (h < 1 || h > 12) return (c = save, false);
    h = (h % 12) + (pm ? 12 : 0);
  } else {
    c = before;
  }
  t->hour = h, t->minute = m, t->second = s;
  return true;
}

// The locale's full date-time text, as strftime("%c") makes it.
std::optional<DateTime> ParseLocaleText(const std::string& text, locale_t loc) {
  if (!loc) return std::nullopt;
  for (const char* fmt : {"%c", "%x %X", "%x %r"}) {
    std::tm tm{};
    tm.tm_mday = 1;
    const char* end = strptime_l(text.c_str(), fmt, &tm, loc);
    if (!end) continue;
    while (*end && std::isspace(static_cast<unsigned char>(*end))) ++end;
    if (*end) continue;
    DateTime t{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
    if (Valid(t)) return t;
  }
  return std::nullopt;
}

// Splits a value into its "|"-ended fields; what follows the last "|" is the
// stamp, never a field.
std::vector<std::string_view> Fields(std::string_view value) {
  std::vector<std::string_view> fields;
  size_t begin = 0;
  for (size_t bar = value.find('|'); bar != std::string_view::npos; bar = value.find('|', begin)) {
    fields.push_back(value.substr(begin, bar - begin));
    begin = bar + 1;
  }
  return fields;
}

// Leading sign and digits, like atoi; nullopt without digits.
std::optional<int> LeadingInt(std::string_view s) {
  std::string t = Trim(s);
  size_t i = 0;
  bool neg = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) neg = t[i++] == '-';
  if (i >= t.size() || !std::isdigit(static_cast<unsigned char>(t[i]))) return std::nullopt;
  long long v = 0;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])) && v < 1000000000) v = v * 10 + (t[i++] - '0');
  return static_cast<int>(neg ? -v : v);
}

}  // namespace

std::optional<DateTime> ParseDateTime(std::string_view text) {
  std::string s = Trim(text);
  if (s.empty()) return std::nullopt;
  Cursor c{s};
  DateTime t;
  bool date = ParseDate(c, &t);
  if (date) {
    while (c.Peek() == ' ' || c.Peek() == '\t' || c.Peek() == 'T' || c.Peek() == ',') ++c.i;
  }
  bool time = ParseTime(c, &t);
  c.SkipSpaces();
  if ((date || time) && c.AtEnd()) {
    if (Valid(t)) return t;
    return std::nullopt;
  }
  if (auto local = ParseLocaleText(s, SystemLocale())) return local;
  static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return ParseLocaleText(s, cLocale);
}

int WeekdayIndexToDay(int index) {
  if (index < 0 || index > 6) return 2;
  return index == 6 ? 1 : index + 2;
}

int DayToWeekdayIndex(int day) {
  if (day < 1 || day > 7) return 0;
  return day == 1 ? 6 : day - 2;
}

std::string ScheduleKey(int number) { return "Schedule" + std::to_string(number); }

int WeeklyRunDay(int day) { return day >= 1 && day <= 7 ? day : 2; }

int MonthlyRunDay(int day, int year, int month) { return std::min(day, DaysInMonth(year, month)); }

namespace {

std::string Quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

// Reads field `index` as a date-time into *out; the reason when it cannot.
std::string ReadTimeField(const std::vector<std::string_view>& fields, size_t index, const char* what,
                          std::optional<DateTime>* out) {
  if (fields.size() <= index) return std::string("the ") + what + " is missing (every field ends in \"|\")";
  *out = ParseDateTime(fields[index]);
  if (!*out) return Quoted(fields[index]) + " is not a " + what;
  return {};
}

}  // namespace

ScheduleEntry ParseScheduleEntry(std::string key, std::string_view value) {
  ScheduleEntry e;
  e.key = std::move(key);
  e.value = std::string(value);
  std::vector<std::string_view> fields = Fields(value);
  // A value with no "|" at all has its kind as the whole text.
  std::optional<int> kind = LeadingInt(fields.empty() ? value : fields[0]);
  e.kind = kind.value_or(-1);
  if (!kind) {
    e.problem = "it does not start with the kind of schedule (0 to 4)";
  } else if (fields.empty() && e.kind >= kOnce && e.kind <= kRoutinely) {
    e.problem = "the kind is not followed by \"|\"";
  }
  if (fields.size() > 1) e.start = ParseDateTime(fields[1]);
  if ((e.kind == kWeekly || e.kind == kMonthly) && fields.size() > 2) e.day = LeadingInt(fields[2]).value_or(0);
  if (e.kind == kRoutinely) {
    if (fields.size() > 2) e.till = ParseDateTime(fields[2]);
    if (fields.size() > 3) e.every = ParseDateTime(fields[3]);
  }
  if (!e.problem.empty() || e.kind < kOnce || e.kind > kRoutinely) return e;

  // Each field the kind needs, in order; the first one missing or unreadable
  // is the reason.
  std::optional<DateTime> t;
  std::string why = ReadTimeField(fields, 1, e.kind == kOnce ? "date and time" : "time of day", &t);
  if (why.empty() && (e.kind == kWeekly || e.kind == kMonthly)) {
    std::optional<int> day = fields.size() > 2 ? LeadingInt(fields[2]) : std::nullopt;
    if (fields.size() <= 2) why = "the day is missing (every field ends in \"|\")";
    else if (!day) why = Quoted(fields[2]) + " is not a day";
    else if (e.kind == kMonthly && (*day < 1 || *day > 31)) why = "day " + std::to_string(*day) + " is not a day of a month (1 to 31)";
  }
  if (why.empty() && e.kind == kRoutinely) why = ReadTimeField(fields, 2, "time of day (till)", &t);
  if (why.empty() && e.kind == kRoutinely) why = ReadTimeField(fields, 3, "time of day (every)", &t);
  e.problem = why;
  return e;
}

std::string FormatScheduleValue(const ScheduleEntry& e) {
  const DateTime start = e.start.value_or(DateTime{});
  const std::string time = FormatTimeOfDay(start);
  switch (e.kind) {
    case kOnce:
      return "0|" + FormatDateTime(start) + "|";
    case kDaily:
      return "1|" + time + "|";
    case kWeekly:
    case kMonthly:
      return std::to_string(e.kind) + "|" + time + "|" + std::to_string(e.day) + "|";
    case kRoutinely:
      return "4|" + time + "|" + FormatTimeOfDay(e.till.value_or(DateTime{})) + "|" +
             FormatTimeOfDay(e.every.value_or(DateTime{})) + "|";
    default:
      return "";
  }
}

std::optional<DateTime> ParseScheduleStamp(std::string_view value) {
  size_t bar = value.rfind('|');
  if (bar == std::string_view::npos) return std::nullopt;
  return ParseDateTime(value.substr(bar + 1));
}

std::string StampScheduleValue(std::string_view value, const DateTime& when) {
  size_t bar = value.rfind('|');
  std::string kept(bar == std::string_view::npos ? std::string_view() : value.substr(0, bar + 1));
  return kept + FormatDateTime(when);
}

std::string NewScheduleKey(const std::vector<ScheduleEntry>& entries) {
  std::set<std::string> used;
  for (const auto& e : entries)
    if (!e.deleted) used.insert(e.key);
  for (int n = 0;; ++n) {
    // Keys are matched as the ini matches them, ignoring letter case.
    std::string key = ScheduleKey(n);
    bool taken = false;
    for (const auto& u : used) taken = taken || EqualsNoCase(u, key);
    if (!taken) return key;
  }
}

std::vector<ScheduleEntry> ReadSchedules(const Settings& settings, std::string_view section, size_t bufferSize) {
  std::vector<ScheduleEntry> entries;
  size_t used = 1;  // the final terminator
  for (const auto& [key, value] : settings.ReadSection(std::string(section))) {
    if (bufferSize) {
      used += key.size() + 1 + value.size() + 1;
      if (used > bufferSize) break;
    }
    entries.push_back(ParseScheduleEntry(key, value));
  }
  return entries;
}

bool WriteSchedules(const Settings& settings, std::string_view section, const std::vector<ScheduleEntry>& entries) {
  IniEntries lines;
  for (const auto& e : entries)
    if (!e.deleted) lines.emplace_back(e.key, e.problem.empty() ? FormatScheduleValue(e) : e.value);
  return settings.ReplaceSection(std::string(section), lines);
}

Settings::Update WriteScheduleStamp(const Settings& settings, std::string_view section, const std::string& key,
                                    const DateTime& when) {
  return settings.UpdateText(std::string(section), key,
                             [&](const std::string& value) { return StampScheduleValue(value, when); });
}

}  // namespace orvo
