// Pieces the parts of automatic extraction share (the main text, the
// title, the author, the date): tag and class-name tests, the page's
// per-element figures, and the head's meta data and structured data.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "gatherer/masks/html_document.h"

namespace orvo::autoextract {

// Elements of one kind whose text is read for a headline, byline or date:
// a hostile page nesting thousands of them would otherwise make it quadratic.
constexpr int kMaxCandidates = 32;

inline bool Contains(std::string_view hay, std::string_view needle) {
  return hay.find(needle) != std::string_view::npos;
}

// A no-break space (U+00A0) at i; tested byte by byte, as this runs for
// every character of a page's text.
inline bool IsNbspAt(std::string_view s, size_t i) { return s[i] == '\xC2' && i + 1 < s.size() && s[i + 1] == '\xA0'; }

// Lists of string views: their lengths are known when compiled, not counted
// at every call (these run for every element of a page).
inline bool AnyOf(std::string_view hay, std::initializer_list<std::string_view> needles) {
  for (std::string_view n : needles)
    if (Contains(hay, n)) return true;
  return false;
}

// Words parted by spaces.
inline int WordCount(std::string_view s) {
  int words = 0;
  bool in_word = false;
  for (char c : s) {
    if (c == ' ') in_word = false;
    else if (!in_word) in_word = true, ++words;
  }
  return words;
}

inline bool TagIn(std::string_view tag, std::initializer_list<std::string_view> tags) {
  for (std::string_view t : tags)
    if (tag == t) return true;
  return false;
}


inline bool StartsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

// Whether test holds for one of the words of a class list or hints.
template <typename Test>
bool AnyToken(std::string_view list, Test test) {
  size_t pos = 0;
  while (pos < list.size()) {
    size_t end = list.find_first_of(" \t\n\r\f", pos);
    if (end == std::string_view::npos) end = list.size();
    std::string_view token = list.substr(pos, end - pos);
    pos = end + 1;
    if (!token.empty() && test(token)) return true;
  }
  return false;
}

// Elements whose content a reader never sees as text.
bool IsInvisibleTag(std::string_view tag);
bool IsBlockTag(std::string_view tag);
bool IsHiddenElement(const HtmlDocument& page, int e);
bool IsScreenReaderOnly(const HtmlDocument& page, int e);
// Class and id of an element, lower-case, for the hint tests.
std::string Hints(const HtmlDocument& page, int e);
bool IsPositiveHint(std::string_view h);
// Names of page furniture: navigation, comments, sharing, advertising.
bool IsNegativeHint(std::string_view h);
// Hints strong enough to drop an element inside the chosen block.
bool IsFurnitureHint(std::string_view h);
// Names of boxes that list other articles ("related-articles",
// "recommended_posts"): the article word in them names what is listed.
bool NamesOtherArticles(std::string_view h);
// Whether e stands in a reader's comment, whose bylines and dates are the
// commenter's.
bool InComment(const HtmlDocument& page, int e);
// Names of a standfirst, read word by word.
bool IsLeadHint(std::string_view h);
// Lead names that are no standfirst's (a teaser's, a picture's).
bool IsLeadElement(std::string_view h);
int ClassWeight(std::string_view h);
// Characters that are not white space.
size_t CountChars(std::string_view s);
// Collapses white space (no-break spaces included) and trims.
std::string CleanText(std::string_view s);

// Per-element figures of one page, computed bottom-up in one pass.
struct PageFigures {
  std::vector<int> text;   // visible characters, white space not counted
  std::vector<int> links;  // of which inside links
  std::vector<int> paragraphs;
  std::vector<int> images;
  std::vector<int> commas;
  std::vector<unsigned char> invisible;
};

PageFigures Measure(const HtmlDocument& page);
double LinkDensity(const PageFigures& f, int e);
// Whether the element holds more visible text than max characters; never,
// without figures.
inline bool Longer(const PageFigures* fig, int e, int max) { return fig && fig->text[size_t(e)] > max; }

// Whether inner is outer or lies inside it.
bool IsWithin(const HtmlDocument& page, int inner, int outer);

// The page's first visible first-level heading, -1 when there is none.
int FirstHeadline(const HtmlDocument& page, const PageFigures* fig);
bool HasBlockChild(const HtmlDocument& page, int e);
// The text of an element's own text nodes and inline children, as one run.
std::string ParagraphText(const HtmlDocument& page, int e);

// The first non-empty content of a meta element whose property (else name,
// else itemprop) is one of names, tried in their order.
std::string MetaContent(const HtmlDocument& page, std::initializer_list<const char*> names);
// The value of "key": "..." in JSON text, starting the search at pos.
std::string JsonString(std::string_view json, size_t pos);
// Texts of the page's structured data blocks.
std::vector<std::string> JsonLdBlocks(const HtmlDocument& page);

}  // namespace orvo::autoextract
