#include "gatherer/masks/mask.h"

#include <gtest/gtest.h>

namespace orvo {
namespace {

TEST(MaskHex, RoundTripAndBadDigits) {
  std::string bytes;
  std::string text = "<div url=\"http://x\">\xC3\xA9</div>";
  std::string hex = BytesToHex(text);
  EXPECT_EQ(hex.substr(0, 6), "3C6469");
  ASSERT_TRUE(HexToBytes(hex, bytes));
  EXPECT_EQ(bytes, text);
  EXPECT_TRUE(HexToBytes("3c64", bytes));
  EXPECT_EQ(bytes, "<d");
  EXPECT_FALSE(HexToBytes("3C6", bytes));
  EXPECT_FALSE(HexToBytes("3G", bytes));
  EXPECT_FALSE(HexToBytes("3 C", bytes));
  EXPECT_TRUE(HexToBytes("", bytes));
  EXPECT_EQ(bytes, "");
}

TEST(MonthNames, SplitRules) {
  EXPECT_EQ(SplitMonthNames("Jan|FEB|"), (std::vector<std::string>{"jan", "feb"}));
  EXPECT_EQ(SplitMonthNames("|Jan|Feb"), (std::vector<std::string>{"", "jan", "feb"}));
  EXPECT_EQ(SplitMonthNames("a||b"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_TRUE(SplitMonthNames("").empty());
  EXPECT_EQ(SplitMonthNames("|"), (std::vector<std::string>{""}));
}

TEST(LoadMask, HeadValuesInTheListPhaseOnly) {
  const char* text =
      "<div url=\"http://site.example/news/\" dateInURL=\"Y1*M1*D1\" MonthFrmt=\"Jan|Feb|\">"
      "</div><p role=text></p>";
  MaskLoadResult list = LoadMaskHtml(text, MaskPhase::kList);
  ASSERT_EQ(list.outcome, MaskLoadOutcome::kLoaded);
  EXPECT_EQ(list.mask.document.TagName(list.mask.head), "DIV");
  EXPECT_EQ(list.mask.list_url, "http://site.example/news/");
  EXPECT_EQ(list.mask.date_in_url, "Y1*M1*D1");
  EXPECT_EQ(list.mask.month_names, (std::vector<std::string>{"jan", "feb"}));
  MaskLoadResult news = LoadMaskHtml(text, MaskPhase::kNews);
  ASSERT_EQ(news.outcome, MaskLoadOutcome::kLoaded);
  EXPECT_EQ(news.mask.list_url, "");
  EXPECT_TRUE(news.mask.month_names.empty());
}

TEST(LoadMask, CommentAsHeadReadsEmpty) {
  MaskLoadResult r = LoadMaskHtml("<!-- url=\"http://x\" --><div url='http://y'></div>",
                                  MaskPhase::kList);
  ASSERT_EQ(r.outcome, MaskLoadOutcome::kLoaded);
  EXPECT_EQ(r.mask.document.TagName(r.mask.head), "!");
  EXPECT_EQ(r.mask.list_url, "");
}

TEST(LoadMask, FormFieldsFromTheFirstPre) {
  MaskLoadResult r = LoadMaskHtml(
      "<div url='http://x/'></div>"
      "<pre><param pname='a' pvalue='1'><param pname='b' pvalue='2'><span pname=c></span></pre>"
      "<pre><param pname='z' pvalue='9'></pre>",
      MaskPhase::kList);
  ASSERT_EQ(r.outcome, MaskLoadOutcome::kLoaded);
  ASSERT_EQ(r.mask.form_fields.size(), 2u);
  EXPECT_EQ(r.mask.form_fields[0].name, "a");
  EXPECT_EQ(r.mask.form_fields[0].value, "1");
  EXPECT_EQ(r.mask.form_fields[1].name, "b");
  EXPECT_EQ(r.mask.form_fields[1].value, "2");
  MaskLoadResult none = LoadMaskHtml("<div url='http://x/'></div>", MaskPhase::kList);
  EXPECT_TRUE(none.mask.form_fields.empty());
}

TEST(LoadMask, FailureOutcomes) {
  EXPECT_EQ(LoadMaskHex("", MaskPhase::kList).outcome, MaskLoadOutcome::kElement);
  EXPECT_EQ(LoadMaskHtml("   just text  ", MaskPhase::kNews).outcome, MaskLoadOutcome::kElement);
  EXPECT_EQ(LoadMaskHex("3C64697", MaskPhase::kNews).outcome, MaskLoadOutcome::kMarkup);
  EXPECT_EQ(LoadMaskHex("<div>", MaskPhase::kNews).outcome, MaskLoadOutcome::kMarkup);
  EXPECT_STREQ(MaskFailureName(MaskLoadOutcome::kMarkup), "Markup");
  EXPECT_STREQ(MaskFailureName(MaskLoadOutcome::kElement), "Element");
  MaskLoadResult ok = LoadMaskHex(BytesToHex("<p role=text></p>"), MaskPhase::kNews);
  EXPECT_EQ(ok.outcome, MaskLoadOutcome::kLoaded);
}

}  // namespace
}  // namespace orvo
