#include "text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>

namespace orvo {
namespace {

// Keeps TZ as it was after the test.
class ZoneScope {
 public:
  ZoneScope() : had_(std::getenv("TZ") != nullptr), old_(had_ ? std::getenv("TZ") : "") {}
  ~ZoneScope() {
    had_ ? ::setenv("TZ", old_.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
  }
  void Use(const std::string& zone) {
    ::setenv("TZ", zone.c_str(), 1);
    ::tzset();
  }

 private:
  bool had_;
  std::string old_;
};

std::string Stamp(int y, int mo, int d, int h, int mi, int s) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
  return buf;
}

// The stored form parsed without mktime gives mktime's moment, in zones with
// and without summer time, at their changes (a missing and a doubled hour)
// and away from them; other texts are ParseDbTime's.
TEST(StoredTime, AgreesWithMktimeInEveryZoneAcrossTheChangesOfTheClocks) {
  ZoneScope scope;
  const char* zones[] = {"UTC", "Europe/Berlin", "America/New_York", "Australia/Lord_Howe", "Asia/Kolkata",
                         "Pacific/Apia", "America/Sao_Paulo"};
  const std::string samples[] = {
      "2024-03-31 01:59:59", "2024-03-31 02:00:00", "2024-03-31 02:30:00", "2024-03-31 03:00:00",
      "2024-10-27 01:59:59", "2024-10-27 02:00:00", "2024-10-27 02:30:00", "2024-10-27 03:00:00",
      "2024-03-10 02:30:00", "2024-11-03 01:30:00", "2024-04-07 01:45:00", "2024-10-06 02:15:00",
      "2011-12-30 12:00:00", "2011-12-29 23:59:59", "2024-02-29 12:00:00", "2023-02-29 12:00:00",
      "2024-04-31 00:00:00", "1970-01-01 00:00:00", "1969-12-31 23:59:59", "2038-01-19 03:14:08",
      "2100-03-01 00:00:00", "2024-06-15 24:00:00", "2024-06-15 23:60:00", "2024-06-15 23:59:60",
      "2024-06-15", "2024-6-5 3:04:05", " 2024-06-15 10:00:00", "not a date", "", "2024-13-01 00:00:00"};
  for (const char* zone : zones) {
    if (std::string(zone) != "UTC" && !std::filesystem::exists(std::string("/usr/share/zoneinfo/") + zone)) {
      std::fprintf(stderr, "skipped zone %s: no tzdata\n", zone);
      continue;
    }
    scope.Use(zone);
    for (const std::string& s : samples) EXPECT_EQ(ParseStoredTime(s), ParseDbTime(s)) << zone << " " << s;
    // Every 37 minutes of two years, so each change of the clocks is crossed.
    int checked = 0;
    for (int day = 0; day < 731; ++day)
      for (int minute = day % 37; minute < 1440; minute += 37) {
        const int64_t days = 19723 + day;  // from 2024-01-01
        std::time_t noon = static_cast<std::time_t>(days * 86400 + 43200);
        std::tm tm{};
        gmtime_r(&noon, &tm);
        const std::string s = Stamp(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, minute / 60, minute % 60, day % 60);
        ASSERT_EQ(ParseStoredTime(s), ParseDbTime(s)) << zone << " " << s;
        ++checked;
      }
    EXPECT_GT(checked, 20000);
  }
}

// The search and the LIKE find a character's other cases through
// FoldPreimages: it must give exactly what a walk over every character gives.
TEST(FoldPreimages, EveryCharacterThatFoldsToOneIsFound) {
  std::map<char32_t, std::set<char32_t>> expected;
  for (char32_t c = 0; c <= 0x10FFFF; ++c)
    if (const char32_t f = FoldCase(c); f != c) expected[f].insert({c, f});
  size_t checked = 0;
  for (const auto& [folded, members] : expected) {
    const std::vector<char32_t> got = FoldPreimages(folded);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front(), folded);
    EXPECT_EQ(std::set<char32_t>(got.begin(), got.end()), members) << std::hex << uint32_t(folded);
    ++checked;
  }
  EXPECT_GT(checked, 1000u);
  EXPECT_EQ(FoldPreimages(U'1'), std::vector<char32_t>{U'1'});
  EXPECT_TRUE(FoldPreimages(U'A').empty());  // not a fold
}

}  // namespace
}  // namespace orvo
