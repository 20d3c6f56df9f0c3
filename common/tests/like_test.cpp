#include "like.h"

#include <gtest/gtest.h>

#include "text.h"

namespace orvo {
namespace {

TEST(LikeTest, WildcardsAndCase) {
  EXPECT_TRUE(LikeMatch("%world%", "Hello WORLD news"));
  EXPECT_TRUE(LikeMatch("h_llo", "HELLO"));
  EXPECT_FALSE(LikeMatch("h_llo", "hllo"));
  EXPECT_TRUE(LikeMatch("%", ""));
  EXPECT_FALSE(LikeMatch("_", ""));
  EXPECT_TRUE(LikeMatch("%a%b%c", "xxaxxbxxbxxc"));
  EXPECT_FALSE(LikeMatch("%a%b%c", "xxaxxbxxbxx"));
  EXPECT_TRUE(LikeMatch("%привет%", "Слово ПРИВЕТ мир"));
  EXPECT_TRUE(LikeMatch("%ÄRGER%", "kein ärger"));
}

// Every script folds, not only the ones of the old code pages.
TEST(LikeTest, CaseFoldsAcrossScripts) {
  EXPECT_TRUE(LikeMatch("%οδος%", "ΟΔΟΣ"));                 // final sigma
  EXPECT_TRUE(LikeMatch("%ΟΔΟΣ%", "στην οδος"));
  EXPECT_TRUE(LikeMatch("%știri%", "ȘTIRI DE AZI"));         // Latin Extended-B
  EXPECT_TRUE(LikeMatch("ḥadith", "ḤADITH"));                // Latin Extended Additional
  EXPECT_TRUE(LikeMatch("%ǆ%", "Ǆ"));
  EXPECT_TRUE(LikeMatch("[ա-ֆ]", "Ե"));                      // Armenian range, folded
  EXPECT_FALSE(LikeMatch("%οδος%", "ΟΔΟΙ"));
  EXPECT_TRUE(EqualsNoCase("ÄRGER", "ärger"));
  EXPECT_TRUE(EqualsNoCase("ȘTIRI", "știri"));
}

TEST(LikeTest, BracketEscapesStandForThemselves) {
  const std::string escaped = LikeEscape("50%_[a]^");
  EXPECT_EQ(escaped, "50[%][_][[]a[]][^]");
  EXPECT_TRUE(LikeMatch("%" + escaped + "%", "price 50%_[A]^ today"));
  EXPECT_FALSE(LikeMatch("%" + escaped + "%", "price 50xx a today"));
  EXPECT_FALSE(LikeMatch("%50[%]%", "500"));
  EXPECT_EQ(LikeUnescape(escaped), "50%_[a]^");
}

TEST(LikeTest, SetsRangesAndBrokenBrackets) {
  EXPECT_TRUE(LikeMatch("[a-c]x", "Bx"));
  EXPECT_FALSE(LikeMatch("[a-c]x", "dx"));
  EXPECT_TRUE(LikeMatch("[!a-c]x", "dx"));
  EXPECT_TRUE(LikeMatch("[^a]x", "bx"));
  EXPECT_TRUE(LikeMatch("a[b", "a[b"));  // unclosed bracket is literal
  EXPECT_TRUE(LikeMatch("%\\%%", "100%", U'\\'));
  EXPECT_FALSE(LikeMatch("%\\%%", "100", U'\\'));
}

TEST(LikeTest, MalformedUtf8NeverStalls) {
  EXPECT_TRUE(LikeMatch("%\xC3%", "ab\xC3"));
  EXPECT_FALSE(LikeMatch("x%", std::string("\xFF\xFE\x80", 3)));
}

}  // namespace
}  // namespace orvo
