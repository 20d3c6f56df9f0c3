#include "stored_html.h"

#include <gtest/gtest.h>

namespace orvo {
namespace {

struct Case {
  const char* stored;
  const char* markup;
  const char* text;
};

// Stored text (as the gatherer writes it, or as older rows hold it) to the
// markup and the plain text it is shown as.
TEST(StoredHtml, MarkupAndTextOfStoredBodiesAndCaptions) {
  const Case cases[] = {
      {"Last year&#39;s swimmers", "Last year&#39;s swimmers", "Last year's swimmers"},
      {"R&amp;D &lt;b&gt;", "R&amp;D &lt;b&gt;", "R&D <b>"},
      {"a<br />b<br clear=\"left\" />c<BR>d", "a<br />b<br />c<br />d", "a b c d"},
      {"&#160;&nbsp;&#xA0;x", "&#160;&#160;&#160;x", "\xC2\xA0\xC2\xA0\xC2\xA0x"},
      // Bare markup characters are text; unknown or broken references too.
      {"R&D <b>x</b> \"q\"", "R&amp;D &lt;b&gt;x&lt;/b&gt; &quot;q&quot;", "R&D <b>x</b> \"q\""},
      {"&bogus; &#; &#x110000; &#1; &", "&amp;bogus; &amp;#; &amp;#x110000; &amp;#1; &amp;",
       "&bogus; &#; &#x110000; &#1; &"},
      {"&#128512; Город", "&#128512; Город", "\xF0\x9F\x98\x80 Город"},
      // Characters XML cannot carry go; broken UTF-8 is replaced.
      {"a\x01" "b\xC3" "c", "ab\xEF\xBF\xBD" "c", "ab\xEF\xBF\xBD" "c"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StoredHtmlMarkup(c.stored), c.markup) << c.stored;
    EXPECT_EQ(StoredHtmlText(c.stored), c.text) << c.stored;
  }
  EXPECT_EQ(StoredHtmlText("a<br />b", "\n"), "a\nb");
}

TEST(StoredHtml, CutsNeverSplitAReferenceATagOrAPlaceholder) {
  const struct {
    std::string stored;
    size_t max;
    std::string cut;
  } cases[] = {
      {"abc&#160;def", 5, "abc"},
      {"abc&#160;def", 9, "abc&#160;"},
      {"abc<br />def", 6, "abc"},
      {"abc[[{12}]]def", 7, "abc"},
      {"abc[[{12}]]def", 4, "abc"},
      {"R&D is here", 3, "R&D"},
      {"R&D is here", 2, "R&"},
      {"Город&#39;x", 6, "Город"},
      {"short", 100, "short"},
  };
  for (const auto& c : cases) EXPECT_EQ(CutStoredHtml(c.stored, c.max), c.cut) << c.stored << " / " << c.max;
}

}  // namespace
}  // namespace orvo
