#include "like.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// A keyword's "%word%" is searched in the folded text as bytes; it must
// find exactly what the character-by-character definition finds: folds that
// change a character's length in UTF-8, folds into ASCII, stray bytes, and
// the escaped wildcards of a keyword.
TEST(LikeTest, ContainsPatternsFindWhatTheFoldedCharactersHold) {
  auto folded = [](std::string_view s) {
    std::u32string out;
    for (size_t i = 0; i < s.size();) out.push_back(FoldCase(NextCodePoint(s, i)));
    return out;
  };
  const std::vector<std::string> texts = {
      "Ⱥⱥ ȺB",             // 2-byte capital, 3-byte small letter
      "Straẞe ẞ",          // 3-byte capital, 2-byte small letter
      "\xE2\x84\xAA" "elvin",  // KELVIN SIGN folds to ASCII k
      "a\xC3" "b\xFF\xFE" "c",  // stray bytes stand for their own values
      "Ã¿x",               // what those stray bytes read as
      "100% [sic] a_b ^x",
      "",
      // Long texts are folded and searched a stretch at a time: words and
      // characters across the stretches' ends.
      std::string(1023, '-') + "ȺBC ẞe \xE2\x84\xAA" "ELVIN",
      std::string(1022, '.') + "Ж" + std::string(2000, 'y') + "Гравитация КОНЕЦ",
  };
  const std::vector<std::string> words = {"ⱥ",  "Ⱥb", "ße", "ß",   "kelvin", "ELVIN", "ã",   "ÿ", "b\xFF",
                                          "ãb", "0%", "[sic]", "a_b", "^x",   "x",      "",      "%",
                                          "гравитация", "конец", "-ⱥb", "yyyг", "..ж"};
  for (const std::string& text : texts) {
    for (const std::string& word : words) {
      const std::u32string needle = folded(word);
      const bool expected = folded(text).find(needle) != std::u32string::npos;
      EXPECT_EQ(LikeMatch("%" + LikeEscape(word) + "%", text), expected) << word << " in " << text;
    }
  }
  // The search skips to the bytes a match's first character can start
  // with: every form of it must be among them (overlong ones, stray bytes,
  // other characters folding to it), and no skip may land inside a
  // character. Random texts of such pieces against the definition.
  const std::vector<std::string> pieces = {
      "k", "K", "\xE2\x84\xAA", "s", "S", "\xC5\xBF", "\xC1\xAB", "\xE0\x81\xAB", "\xF0\x80\x81\xAB",
      "\xB5", "\xC2\xB5", "\xCE\xBC", "\xD0\xB5", "\xD0", "\xE2\x84", "\xFF", "\xC3\xBF", "\xC5\xB8",
      "e", " ", "\xF0\x9F\x98\x80", "ks", "Ж",
      // ASCII runs long enough for the sixteen-byte search, matches across their ends
      "KsKsKsKsKsKsKsKsKsKs", "eeeeeeeeeeeeeeeeeeeeeeeee"};
  const std::vector<std::string> needles = {"k", "ks", "sk", "s", "kk", "\xCE\xBC", "\xCE\xBC" "e", "e" "\xCE\xBC",
                                            "\xC3\xBF", "\xC3\xBF" "k", "\xD0\xB5", "ж", "\xC2\xB5", "\xF0\x9F\x98\x80",
                                            "sksksksksksksksksk", "kskskskskskskskskskskskskskskskk", "eeeeeeeeeeeeeeeeeeek",
                                            "ke", "e k"};
  uint32_t seed = 12345;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (uint32_t n = next() % 16; n > 0; --n) text += pieces[next() % pieces.size()];
    for (const std::string& word : needles) {
      const bool expected = folded(text).find(folded(word)) != std::u32string::npos;
      ASSERT_EQ(LikeMatch("%" + LikeEscape(word) + "%", text), expected) << word << " in " << ::testing::PrintToString(text);
    }
  }
  // Every ASCII byte first and last in a literal, in either case, in a text long enough to be
  // searched sixteen bytes at a time.
  for (int c = 1; c < 128; ++c) {
    const std::string word = std::string(1, char(c)) + "q" + std::string(1, char(c));
    for (int upper = 0; upper < 2; ++upper) {
      std::string text = std::string(30, '.') + word + std::string(20, '.');
      if (upper) for (char& ch : text) ch = ch >= 'a' && ch <= 'z' ? char(ch - 32) : ch;
      const bool expected = folded(text).find(folded(word)) != std::u32string::npos;
      EXPECT_EQ(LikeMatch("%" + LikeEscape(word) + "%", text), expected) << c << " upper " << upper;
      const std::string same(40, char(c));  // the first and last byte everywhere, the middle nowhere
      EXPECT_EQ(LikeMatch("%" + LikeEscape(word) + "%", same), c == 'q' || c == 'Q') << c;
    }
  }
  // Not a plain "contains": the general matcher still answers.
  EXPECT_TRUE(LikeMatch("%ẞ_%", "straße"));
  EXPECT_FALSE(LikeMatch("%ẞ_%", "STRAẞ"));
  // Stray bytes fold to twice their length: a whole body of them.
  EXPECT_TRUE(LikeMatch("%ÿÿÿx%", std::string(5000, '\xFF') + "X"));
  EXPECT_FALSE(LikeMatch("%ÿÿÿx%", std::string(5000, '\xFF')));
}

}  // namespace
}  // namespace orvo
