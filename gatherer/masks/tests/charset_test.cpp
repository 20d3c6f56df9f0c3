#include "gatherer/masks/charset.h"

#include <gtest/gtest.h>

#include "gatherer/masks/text_util.h"
#include "gatherer/masks/url.h"

namespace orvo {
namespace {

TEST(CodePageForCharset, TableHasSixtyNineRowsInOrder) {
  int rows = 0;
  const CharsetAlias* t = CharsetTable();
  while (t[rows].code_page != -1) ++rows;
  EXPECT_EQ(rows, 69);
  EXPECT_STREQ(t[0].alias, "us-ascii");
  EXPECT_STREQ(t[19].alias, "Windows-1252");
  EXPECT_EQ(t[20].code_page, 28592);
  EXPECT_STREQ(t[68].alias, "Windows-1258");
}

TEST(CodePageForCharset, KnownNames) {
  EXPECT_EQ(CodePageForCharset("koi8-r"), 20866);
  EXPECT_EQ(CodePageForCharset("windows-1251"), 1251);
  EXPECT_EQ(CodePageForCharset("ISO-8859-8"), 1255);
  EXPECT_EQ(CodePageForCharset("euc-kr"), 949);
  EXPECT_EQ(CodePageForCharset("iso-8859-2"), 28592);
  EXPECT_EQ(CodePageForCharset("gb2312"), 936);
  EXPECT_EQ(CodePageForCharset("Windows-1252"), 1252);
}

TEST(CodePageForCharset, SubstringRuleAndCase) {
  // UTF-8 matches no row: the system's code page.
  EXPECT_EQ(CodePageForCharset("utf-8"), kDefaultCodePage);
  EXPECT_EQ(CodePageForCharset(""), kDefaultCodePage);
  // Lower-case spellings of capitalised aliases match nothing of their own.
  EXPECT_EQ(CodePageForCharset("windows-1256"), kDefaultCodePage);
  // ...unless an earlier alias lies inside the name: "us" in "campus".
  EXPECT_EQ(CodePageForCharset("x-campus"), 1252);
  EXPECT_EQ(CodePageForCharset("windows-1252"), kDefaultCodePage);
  // "latin2" comes after the 1252 rows, but no 1252 alias lies in it.
  EXPECT_EQ(CodePageForCharset("latin2"), 28592);
  // The 1252 row "ascii" lies inside "us-ascii-ish" names of other groups.
  EXPECT_EQ(CodePageForCharset("csASCII"), 1252);
}

TEST(DecodePage, HeaderCharsetWinsOverMeta) {
  std::string bytes = "<meta charset=\"utf-8\"><p>caf\xE9</p>";
  DecodedPage p = DecodePage(bytes, "iso-8859-1");
  EXPECT_EQ(p.declared_charset, "iso-8859-1");
  EXPECT_NE(p.text.find("caf\xC3\xA9"), std::string::npos);
}

TEST(DecodePage, MetaForms) {
  DecodedPage a = DecodePage(
      "<html><head><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=ISO-8859-2\">"
      "</head><body>\xB1</body>");
  EXPECT_EQ(a.declared_charset, "ISO-8859-2");
  EXPECT_NE(a.text.find("\xC4\x85"), std::string::npos);  // a with ogonek
  DecodedPage b = DecodePage("<meta charset='windows-1250'>\x9A");
  EXPECT_EQ(b.declared_charset, "windows-1250");
  EXPECT_NE(b.text.find("\xC5\xA1"), std::string::npos);  // s with caron
  DecodedPage c = DecodePage("<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><p>\xFC</p>");
  EXPECT_EQ(c.declared_charset, "iso-8859-1");
  EXPECT_NE(c.text.find("\xC3\xBC"), std::string::npos);
}

TEST(DecodePage, Latin1LabelReadsWindows1252) {
  // 0x80 is the euro sign in windows-1252, as browsers read latin-1 pages.
  DecodedPage p = DecodePage("<meta charset=iso-8859-1>\x80 5");
  EXPECT_NE(p.text.find("\xE2\x82\xAC 5"), std::string::npos);
}

TEST(DecodePage, Gb2312) {
  // "中文" in GB2312.
  DecodedPage p = DecodePage("<meta charset=gb2312><p>\xD6\xD0\xCE\xC4</p>");
  EXPECT_NE(p.text.find("\xE4\xB8\xAD\xE6\x96\x87"), std::string::npos);
  EXPECT_TRUE(IsValidUtf8(p.text));
}

// Pages re-saved or served as UTF-8 under their old label: read as what they
// are. Legacy bytes, and seven-bit charsets on ASCII bytes, keep the label.
TEST(DecodePage, ALegacyLabelOnUtf8BytesReadsUtf8) {
  DecodedPage gb = DecodePage("<meta charset=gb2312><title>\xE4\xB8\xAD\xE6\x96\x87</title>");
  EXPECT_EQ(gb.declared_charset, "gb2312");
  EXPECT_EQ(gb.used_charset, "UTF-8");
  EXPECT_NE(gb.text.find("\xE4\xB8\xAD\xE6\x96\x87"), std::string::npos);
  DecodedPage served = DecodePage("<p>\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x81\xD1\x82\xD0\xB8</p>", "windows-1251");
  EXPECT_NE(served.text.find("\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x81\xD1\x82\xD0\xB8"), std::string::npos);
  // "Новости" in windows-1251 is no UTF-8.
  DecodedPage legacy = DecodePage("<p>\xCD\xEE\xE2\xEE\xF1\xF2\xE8</p>", "windows-1251");
  EXPECT_EQ(legacy.used_charset, "WINDOWS-1251");
  EXPECT_NE(legacy.text.find("\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x81\xD1\x82\xD0\xB8"), std::string::npos);
  // "こん" in ISO-2022-JP: ASCII bytes with escapes.
  DecodedPage jis = DecodePage("<meta charset=iso-2022-jp><p>\x1B$B$3$s\x1B(B</p>");
  EXPECT_NE(jis.text.find("\xE3\x81\x93\xE3\x82\x93"), std::string::npos);
}

TEST(DecodePage, UndeclaredGuessesUtf8ThenWindows1252) {
  DecodedPage u = DecodePage("<p>gr\xC3\xBC\xC3\x9F</p>");
  EXPECT_TRUE(u.declared_charset.empty());
  EXPECT_EQ(u.used_charset, "UTF-8");
  EXPECT_NE(u.text.find("gr\xC3\xBC\xC3\x9F"), std::string::npos);
  DecodedPage w = DecodePage("<p>gr\xFC\xDF</p>");
  EXPECT_EQ(w.used_charset, "WINDOWS-1252");
  EXPECT_NE(w.text.find("gr\xC3\xBC\xC3\x9F"), std::string::npos);
}

TEST(DecodePage, Utf8LabelWithStrayLatinBytes) {
  DecodedPage p = DecodePage("<meta charset=utf-8><p>M\xE4scot \xC3\xBC</p>");
  EXPECT_NE(p.text.find("M\xC3\xA4scot \xC3\xBC"), std::string::npos);
  EXPECT_TRUE(IsValidUtf8(p.text));
}

TEST(DecodePage, ByteOrderMarksAndBadInput) {
  DecodedPage p = DecodePage("\xEF\xBB\xBF<p>x</p>", "iso-8859-1");
  EXPECT_EQ(p.text, "<p>x</p>");
  DecodedPage u16 = DecodePage(std::string("\xFF\xFE<\0p\0>\0", 8));
  EXPECT_EQ(u16.text, "<p>");
  // A charset no decoder knows reads like an unlabelled page.
  DecodedPage unknown = DecodePage("<p>\xE9</p>", "x-no-such-charset");
  EXPECT_EQ(unknown.declared_charset, "x-no-such-charset");
  EXPECT_TRUE(IsValidUtf8(unknown.text));
  // Truncated multibyte text decodes without running past the end.
  DecodedPage cut = DecodePage("<p>\xD6\xD0\xCE", "gb2312");
  EXPECT_TRUE(IsValidUtf8(cut.text));
  // A utf-16 label on an ASCII page cannot be true.
  DecodedPage lie = DecodePage("<meta charset=utf-16><p>ok</p>");
  EXPECT_NE(lie.text.find("<p>ok</p>"), std::string::npos);
}

TEST(Utf8, CutsNeverSplitACharacter) {
  std::string s = "a\xC3\xA9\xE4\xB8\xAD" "b";  // a é 中 b
  EXPECT_EQ(Utf8Length(s), 4u);
  EXPECT_EQ(Utf8CutChars(s, 2), "a\xC3\xA9");
  EXPECT_EQ(Utf8CutChars(s, 4), s);
  EXPECT_EQ(Utf8CutChars(s, 0), "");
  EXPECT_EQ(Utf8CutBytes(s, 2), "a");
  EXPECT_EQ(Utf8CutBytes(s, 3), "a\xC3\xA9");
  EXPECT_EQ(Utf8CutBytes(s, 5), "a\xC3\xA9");
  EXPECT_EQ(Utf8CutBytes(s, 6), "a\xC3\xA9\xE4\xB8\xAD");
  // Lowering keeps the length: À É Ł Ž Ÿ Ά Ω Ё Я × (the sign stays).
  EXPECT_EQ(Utf8Lower("AZ \xC3\x80\xC3\x89\xC5\x81\xC5\xBD\xC5\xB8\xCE\x86\xCE\xA9\xD0\x81\xD0\xAF\xC3\x97"),
            "az \xC3\xA0\xC3\xA9\xC5\x82\xC5\xBE\xC3\xBF\xCE\xAC\xCF\x89\xD1\x91\xD1\x8F\xC3\x97");
  EXPECT_EQ(Utf8Lower("\xE4\xB8\xAD\xC3"), "\xE4\xB8\xAD\xC3");
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));
  EXPECT_FALSE(IsValidUtf8("\xE4\xB8"));
}

// Addresses as pages write them, made into ones a client accepts, as
// browsers do.
TEST(ResolveUrl, SpacesBackslashesAndHostsAreMadeUsable) {
  const std::string base = "http://News.Example:8080/a/b.html";
  EXPECT_EQ(ResolveUrl(base, "ferry boat.png"), "http://news.example:8080/a/ferry%20boat.png");
  EXPECT_EQ(ResolveUrl(base, "/tag/Olympia 2022"), "http://news.example:8080/tag/Olympia%202022");
  EXPECT_EQ(ResolveUrl(base, "img\\x\\y.png"), "http://news.example:8080/a/img/x/y.png");
  EXPECT_EQ(ResolveUrl(base, "\\\\Other.example\\p"), "http://other.example/p");
  EXPECT_EQ(ResolveUrl(base, "/s?q=a b\"c\\d#frag x"), "http://news.example:8080/s?q=a%20b%22c\\d#frag%20x");
  EXPECT_EQ(ResolveUrl(base, "/Москва.html"), "http://news.example:8080/%D0%9C%D0%BE%D1%81%D0%BA%D0%B2%D0%B0.html");
  EXPECT_EQ(ResolveUrl(base, "/50%25/<x>"), "http://news.example:8080/50%25/%3Cx%3E");
  EXPECT_EQ(ResolveUrl(base, "HTTP://User@BIG.example/P Q"), "http://User@big.example/P%20Q");
  // Other schemes are left alone.
  EXPECT_EQ(ResolveUrl(base, "mailto:a b@x"), "mailto:a b@x");
}

TEST(ResolveUrl, RelativeForms) {
  const std::string base = "http://a.example/b/c/d;p?q";
  EXPECT_EQ(ResolveUrl(base, "g"), "http://a.example/b/c/g");
  EXPECT_EQ(ResolveUrl(base, "./g"), "http://a.example/b/c/g");
  EXPECT_EQ(ResolveUrl(base, "/g"), "http://a.example/g");
  EXPECT_EQ(ResolveUrl(base, "//g.example/x"), "http://g.example/x");
  EXPECT_EQ(ResolveUrl(base, "?y"), "http://a.example/b/c/d;p?y");
  EXPECT_EQ(ResolveUrl(base, "#s"), "http://a.example/b/c/d;p?q#s");
  EXPECT_EQ(ResolveUrl(base, "../g"), "http://a.example/b/g");
  EXPECT_EQ(ResolveUrl(base, "../../../g"), "http://a.example/g");
  EXPECT_EQ(ResolveUrl(base, "g/./h/../i"), "http://a.example/b/c/g/i");
  EXPECT_EQ(ResolveUrl(base, "  g\n "), "http://a.example/b/c/g");
  EXPECT_EQ(ResolveUrl("http://a.example", "x.html"), "http://a.example/x.html");
  EXPECT_EQ(ResolveUrl(base, "javascript:void(0)"), "javascript:void(0)");
  EXPECT_EQ(ResolveUrl(base, "HTTP://Other.example"), "http://other.example/");
  EXPECT_EQ(ResolveUrl("", "rel/x.html"), "rel/x.html");
}

}  // namespace
}  // namespace orvo
