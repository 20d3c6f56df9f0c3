#include "gatherer/masks/date_parse.h"
#include "gatherer/masks/mask.h"

#include <gtest/gtest.h>

namespace orvo {
namespace {

const std::vector<std::string> kEnglish = {"january", "february", "march",     "april",
                                           "may",     "june",     "july",      "august",
                                           "september", "october", "november", "december"};

DateTime Parse(std::string_view text, std::string_view pattern, bool* ok,
               const std::vector<std::string>& months = {}, DateTime start = DateTime::Zero()) {
  *ok = ParseDate(text, pattern, months, start, 2026);
  return start;
}

TEST(ParseDate, StarSkipsSeparatorsAndTimeIsNotRead) {
  bool ok;
  DateTime d = Parse("07.12.2003 14:05", "D1*M1*Y1", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(d, DateTime::Make(2003, 12, 7));
}

TEST(ParseDate, LiteralSeparatorKeepsRestartingAndFails) {
  bool ok;
  DateTime start = DateTime::Make(2001, 1, 1);
  DateTime d = Parse("07.12.2003", "D1.M1.Y1", &ok, {}, start);
  EXPECT_FALSE(ok);
  EXPECT_EQ(d, start);
}

TEST(ParseDate, TimeOnlyKeepsTheDateItWasGiven) {
  bool ok;
  DateTime d = Parse("14:05", "H1*N1", &ok, {}, DateTime::Make(2003, 12, 7));
  EXPECT_TRUE(ok);
  EXPECT_EQ(d, DateTime::Make(2003, 12, 7, 14, 5, 0));
}

TEST(ParseDate, MonthByNameAnywhereInTheText) {
  bool ok;
  DateTime d = Parse("7 December 2003", "D0*M2*Y1", &ok, kEnglish);
  EXPECT_TRUE(ok);
  EXPECT_EQ(d, DateTime::Make(2003, 12, 7));
  // The name is searched in list order and the text loses as many characters
  // from its start as the name has, wherever the name was found.
  d = Parse("posted 3 may, 2004", "D0*M2*Y1", &ok, kEnglish);
  EXPECT_TRUE(ok);
  EXPECT_EQ(d, DateTime::Make(2004, 5, 3));
}

TEST(ParseDate, MonthNamesNeedExactlyTwelveAndMoreThanTwoCharacters) {
  bool ok;
  std::vector<std::string> eleven(kEnglish.begin(), kEnglish.end() - 1);
  Parse("7 december 2003", "D0*M2*Y1", &ok, eleven);
  EXPECT_FALSE(ok);
  Parse("7 ma", "D0 M2", &ok, kEnglish);  // "ma" is 2 characters when M2 is read
  EXPECT_FALSE(ok);
}

TEST(ParseDate, StarBeforeMonthJumpsToTheName) {
  bool ok;
  DateTime d = Parse("Sunday, 5 of March 2023", "D0*M2*Y1", &ok, kEnglish);
  EXPECT_TRUE(ok);
  EXPECT_EQ(d, DateTime::Make(2023, 3, 5));
}

TEST(ParseDate, TwoDigitYearNeverGivesTwoThousand) {
  bool ok;
  Parse("00", "Y0", &ok);
  EXPECT_FALSE(ok);
  DateTime d = Parse("05.03.04", "D1*M1*Y0", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(d, DateTime::Make(2004, 3, 5));
  // A year 00 slides on: "0.0" is not a year, the later "07" is.
  d = Parse("01.02.00 07", "D1*M1*Y0", &ok);
  EXPECT_FALSE(ok);
}

TEST(ParseDate, FourDigitYearMustBeAfter1989) {
  bool ok;
  Parse("1989", "Y1", &ok);
  EXPECT_FALSE(ok);
  // 1988 is refused; the pattern slides on until it reaches 1995.
  DateTime d = Parse("1988 1995-03-04", "Y1*M1*D1", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(d, DateTime::Make(1995, 3, 4));
  // A month without a day is no date.
  d = Parse("12/1995", "M1*Y1", &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(d.status, DateTime::Status::kInvalid);
}

TEST(ParseDate, DefaultYearIsTheCurrentOne) {
  bool ok;
  DateTime d = Parse("07.12.", "D1*M1", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(d, DateTime::Make(2026, 12, 7));
}

TEST(ParseDate, PatternItemsLeftWhenTextRunsOutGiveFalse) {
  bool ok;
  DateTime start = DateTime::Make(2010, 1, 1);
  DateTime d = Parse("07.12", "D1*M1*", &ok, {}, start);
  EXPECT_FALSE(ok);
  EXPECT_EQ(d, start);
}

TEST(ParseDate, SlidesPastLettersOneCharacterAtATime) {
  bool ok;
  DateTime d = Parse("Datum: 24.06.2011", "D1*M1*Y1", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(d, DateTime::Make(2011, 6, 24));
  d = Parse("abcdefgh", "D0", &ok);
  EXPECT_FALSE(ok);
}

TEST(ParseDate, VariantZeroTakesAtMostTwoDigits) {
  bool ok;
  // Day "123": 12 is the day, 3 stays and becomes the month.
  DateTime d = Parse("123 2005", "D0M0*Y1", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(d, DateTime::Make(2005, 3, 12));
}

TEST(ParseDate, ImpossibleDateIsStoredInvalid) {
  bool ok;
  DateTime d = Parse("31.02.2005", "D1*M1*Y1", &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(d.status, DateTime::Status::kInvalid);
  d = Parse("25:70", "H1*N1", &ok, {}, DateTime::Make(2005, 1, 1));
  EXPECT_FALSE(ok);
  EXPECT_EQ(d.status, DateTime::Status::kInvalid);
}

TEST(ParseDate, EmptyPatternOrOddVariantFails) {
  bool ok;
  DateTime start = DateTime::Make(2001, 2, 3);
  EXPECT_EQ(Parse("07.12.2003", "   ", &ok, {}, start), start);
  EXPECT_FALSE(ok);
  Parse("07.12.2003", "D3", &ok);
  EXPECT_FALSE(ok);
  Parse("07.12.2003", "D", &ok);
  EXPECT_FALSE(ok);
  Parse("2003", "Y2", &ok);
  EXPECT_FALSE(ok);
}

TEST(ParseDate, VariantOneNeedsTwoCharacters) {
  bool ok;
  // "7" alone: starts with a digit but holds fewer than two characters.
  Parse("12 7", "M0*D1", &ok);
  EXPECT_FALSE(ok);
}

TEST(ParseDate, AddressDates) {
  bool ok;
  DateTime d = Parse("http://news.example.com/2004/03/17/story.html", "Y1*M1*D1", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(d, DateTime::Make(2004, 3, 17));
}

TEST(DateTimeSerial, CountsDaysFromTheZeroDate) {
  EXPECT_DOUBLE_EQ(DateTime::Zero().Serial(), 0.0);
  EXPECT_DOUBLE_EQ(DateTime::Make(1900, 1, 1).Serial(), 2.0);
  EXPECT_DOUBLE_EQ(DateTime::Make(2000, 3, 1).Serial() - DateTime::Make(2000, 2, 28).Serial(), 2.0);
  EXPECT_DOUBLE_EQ(DateTime::Make(2003, 12, 7, 12).Serial() - DateTime::Make(2003, 12, 7).Serial(),
                   0.5);
}

TEST(DateTimeValidity, Calendar) {
  EXPECT_TRUE(IsValidDateTime(2004, 2, 29, 0, 0, 0));
  EXPECT_FALSE(IsValidDateTime(1900, 2, 29, 0, 0, 0));
  EXPECT_TRUE(IsValidDateTime(2000, 2, 29, 23, 59, 59));
  EXPECT_FALSE(IsValidDateTime(2000, 4, 31, 0, 0, 0));
  EXPECT_FALSE(IsValidDateTime(99, 1, 1, 0, 0, 0));
  EXPECT_FALSE(IsValidDateTime(2000, 1, 0, 0, 0, 0));
  EXPECT_FALSE(IsValidDateTime(2000, 1, 1, 24, 0, 0));
}

}  // namespace
}  // namespace orvo

namespace orvo {
namespace {

TEST(ParseDate, MonthNamesOutsideAscii) {
  // Russian genitive month names, as a Cyrillic page writes them.
  std::vector<std::string> ru = SplitMonthNames(
      "\xD0\xAF\xD0\xBD\xD0\xB2\xD0\xB0\xD1\x80\xD1\x8F|\xD1\x84\xD0\xB5\xD0\xB2\xD1\x80\xD0\xB0"
      "\xD0\xBB\xD1\x8F|\xD0\xBC\xD0\xB0\xD1\x80\xD1\x82\xD0\xB0|a|b|c|d|e|f|g|h|i");
  ASSERT_EQ(ru.size(), 12u);
  // The list's capital "Я" was lowered: "января".
  EXPECT_EQ(ru[0], "\xD1\x8F\xD0\xBD\xD0\xB2\xD0\xB0\xD1\x80\xD1\x8F");
  bool ok;
  // "12 ФЕВРАЛЯ 2004" in capitals still finds "февраля".
  DateTime d = Parse("12 \xD0\xA4\xD0\x95\xD0\x92\xD0\xA0\xD0\x90\xD0\x9B\xD0\xAF 2004",
                     "D0*M2*Y1", &ok, ru);
  EXPECT_TRUE(ok);
  EXPECT_EQ(d, DateTime::Make(2004, 2, 12));
  // "MÄRZ" in German capitals against "märz".
  std::vector<std::string> de = SplitMonthNames("jan|feb|M\xC3\x84RZ|apr|mai|jun|jul|aug|sep|okt|nov|dez");
  d = Parse("3. M\xC3\x84RZ 2021", "D0*M2*Y1", &ok, de);
  EXPECT_TRUE(ok);
  EXPECT_EQ(d, DateTime::Make(2021, 3, 3));
}

}  // namespace
}  // namespace orvo
