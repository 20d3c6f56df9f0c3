// Automatic extraction's title: the page's headline as its title texts
// (<title>, og:title, structured data) and its headings agree on it, with the
// site's name cut off.
#include "gatherer/autoextract/title.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

#include "gatherer/autoextract/page_figures.h"
#include "gatherer/masks/text_util.h"
#include "gatherer/masks/url.h"

namespace orvo::autoextract {

namespace {

// Lower case with typographic quotes and dashes folded to plain ones: a
// heading and the title of the same page often spell them differently.
std::string FoldTitle(std::string_view s) {
  static constexpr std::pair<std::string_view, char> kFolds[] = {
      {"\xE2\x80\x98", '\''}, {"\xE2\x80\x99", '\''}, {"\xE2\x80\x9A", '\''}, {"\xC2\xB4", '\''},
      {"`", '\''},            {"\xE2\x80\x9C", '"'},  {"\xE2\x80\x9D", '"'},  {"\xE2\x80\x9E", '"'},
      {"\xC2\xAB", '"'},      {"\xC2\xBB", '"'},      {"\xE2\x80\x93", '-'},  {"\xE2\x80\x94", '-'}};
  std::string lower = Utf8Lower(CleanText(s)), out;
  out.reserve(lower.size());
  for (size_t i = 0; i < lower.size();) {
    const unsigned char c = static_cast<unsigned char>(lower[i]);
    bool folded = false;
    if (c == 0xC2 || c == 0xE2 || c == '`')
      for (const auto& [from, to] : kFolds)
        if (lower.compare(i, from.size(), from) == 0) {
          out += to;
          i += from.size();
          folded = true;
          break;
        }
    if (!folded) out += lower[i++];
  }
  return out;
}

// Whether a piece of a title is long enough to be a headline rather than a
// section's or site's name: two words, or a run of characters in a script
// written without spaces.
bool HeadlineSized(std::string_view s) { return WordCount(s) >= 2 || Utf8Length(s) >= 8; }

// The pieces of a title between its separators, in order; one pass, and no
// more pieces than a title of people has.
std::vector<std::string> TitleParts(const std::string& title) {
  static constexpr std::string_view kSeps[] = {" | ", " – ", " — ", " - ", " :: ", " : ", " » ", " « ", " · ", " / "};
  constexpr size_t kMaxParts = 16;
  std::vector<std::string> parts;
  auto add = [&](size_t from, size_t to) {
    std::string part = TrimCopy(std::string_view(title).substr(from, to - from));
    if (!part.empty()) parts.push_back(std::move(part));
  };
  size_t from = 0;
  for (size_t i = 0; i < title.size() && parts.size() + 1 < kMaxParts; ++i) {
    if (title[i] != ' ') continue;
    for (std::string_view sep : kSeps)
      if (title.compare(i, sep.size(), sep) == 0) {
        add(from, i);
        from = i + sep.size();
        i = from - 1;
        break;
      }
  }
  add(from, title.size());
  return parts;
}

// The page's host without "www.", lower case.
std::string HostOf(const std::string& url) {
  size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  size_t end = url.find_first_of("/:?#", start);
  std::string host = AsciiLower(url.substr(start, end == std::string::npos ? std::string::npos : end - start));
  if (StartsWith(host, "www.")) host.erase(0, 4);
  return host;
}

// What a page calls itself: its declared site name and its host.
struct SiteNames {
  std::string name;  // folded
  std::string host;  // "mdr.de"
  std::vector<std::string> logos;  // folded texts of the headings that name the site
  bool Is(std::string_view text) const {
    std::string f = FoldTitle(text);
    if (f.empty()) return false;
    if (!name.empty() && f == name) return true;
    if (std::find(logos.begin(), logos.end(), f) != logos.end()) return true;
    if (host.empty()) return false;
    std::string compact;
    for (char c : f)
      if (c != ' ') compact += c;
    // "MDR.de", or "Example" on example.com.
    return compact == host || (compact.size() >= 3 && StartsWith(host, compact + "."));
  }
  // Whether text holds the site's declared name or its logo's text.
  bool Within(std::string_view text) const {
    std::string f = FoldTitle(text);
    if (!name.empty() && Contains(f, name)) return true;
    for (const std::string& logo : logos)
      if (Contains(f, logo)) return true;
    return false;
  }
};

// "Headline | Site" without the site's name; empty when nothing is cut.
// The site's name follows the last separator, whichever kind it is: in
// "Headline – Subline - Site" the dash before the subline is the headline's.
std::string CutSiteName(const std::string& base, const SiteNames& site) {
  std::vector<std::pair<size_t, size_t>> cuts;  // at, separator's size
  for (const char* sep : {" | ", " – ", " — ", " - ", " :: ", " » ", " · ", " / "})
    if (size_t p = base.rfind(sep); p != std::string::npos && p != 0) cuts.emplace_back(p, std::strlen(sep));
  std::sort(cuts.begin(), cuts.end(), std::greater<>());
  for (const auto& [p, n] : cuts) {
    std::string head = base.substr(0, p), tail = base.substr(p + n);
    // The side that names the site goes; else the site's name is the shorter.
    std::string pick = site.Is(tail)                                       ? head
                       : site.Is(head)                                     ? tail
                       : Utf8Length(tail) > Utf8Length(head) * 2 ? tail : head;
    if (Utf8Length(pick) >= 10) return TrimCopy(pick);
  }
  return {};
}

// Share of the words of a that also occur in b.
double WordOverlap(const std::string& a, const std::string& b) {
  std::string lb = Utf8Lower(b);
  int words = 0, found = 0;
  size_t pos = 0;
  std::string la = Utf8Lower(a);
  while (pos < la.size()) {
    size_t end = la.find(' ', pos);
    std::string w = la.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? la.size() : end + 1;
    if (w.size() < 3) continue;
    ++words;
    if (lb.find(w) != std::string::npos) ++found;
  }
  return words ? double(found) / words : 0.0;
}

// Whether h stands in the title as the site's name: after a separator with a
// longer part before it, or first with a longer part after it, unless that
// longer part is the one that names the site.
bool IsSitePartOf(const std::string& h, const std::string& title, const SiteNames& site) {
  size_t at = title.find(h);
  if (at == std::string::npos || h.empty() || h.size() == title.size()) return false;
  for (const char* sep : {" | ", " – ", " — ", " - ", " :: ", " : ", " » ", " · "}) {
    const size_t n = std::strlen(sep);
    if (at >= n && title.compare(at - n, n, sep) == 0) {
      std::string before = title.substr(0, at - n);
      return Utf8Length(before) > Utf8Length(h) && !site.Within(before);
    }
    if (at == 0 && title.compare(h.size(), n, sep) == 0) {
      std::string after = title.substr(h.size() + n);
      return Utf8Length(after) > Utf8Length(h) && !site.Within(after);
    }
  }
  return false;
}

// A heading of the page, and its text without a kicker (the short line above
// a headline that many sites put inside the same heading).
struct Heading {
  int level = 0;
  std::string text;
  std::string rest;           // empty when the heading has no kicker
  std::string first_line;     // before a line break, when the heading goes on with a subline
  std::string folded_text, folded_rest, folded_first_line;  // as FoldTitle gives them
  bool named_kicker = false;  // the kicker's markup calls it so
  int rank = 0;               // 0 for a heading its markup names a headline, else its level
};

bool IsNamedHeadline(const HtmlDocument& page, int e) {
  std::string h = Hints(page, e);
  bool named = page.Attribute(e, "itemprop") == "headline" ||
               AnyOf(h, {"entry-title", "post-title", "article-title", "article__title", "headline", "story-title",
                         "news-title", "articletitle", "posttitle"});
  return named && !AnyOf(h, {"sub", "teaser", "related", "widget", "sidebar"});
}

bool IsKickerHint(std::string_view h) {
  return AnyOf(h, {"kicker", "dachzeile", "topline", "toptitle", "overline", "roofline", "eyebrow", "pretitle",
                   "supertitle", "spitzmarke", "highline", "overhead"});
}

// Whether an address is the home page of the page's site.
bool IsHomeAddress(const HtmlDocument& page, const std::string& href) {
  std::string host = HostOf(page.Url());
  if (host.empty() || HostOf(href) != host) return false;
  size_t path = href.find('/', href.find("://") == std::string::npos ? 0 : href.find("://") + 3);
  if (path == std::string::npos) return true;
  std::string_view rest = std::string_view(href).substr(path);
  return rest == "/" || rest == "/index.html" || rest == "/index.php";
}

// Logos and site titles are set in headings too; they name the site, and
// link to its home page.
bool IsSiteHeading(const HtmlDocument& page, int e, const std::string& text) {
  for (int x = e, up = 0; x >= 0 && up < 2; x = page.Parent(x), ++up)
    if (AnyOf(Hints(page, x), {"logo", "site-title", "site-name", "sitename", "site_title", "brand"})) return true;
  // The heading is one link, home.
  for (int x = e, down = 0; down < 3; ++down) {
    std::span<const int> kids = page.Children(x);
    if (kids.size() != 1) return false;
    x = kids[0];
    if (page.TagName(x) == "A")
      return IsHomeAddress(page, page.Attribute(x, "href")) && CleanText(page.InnerText(x)) == text;
  }
  return false;
}

// Within a heading: a headline set for screen readers alone is still the
// page's headline, but a label inside the visible one is not.
bool Unseen(const HtmlDocument& page, int e) {
  return IsInvisibleTag(page.TagName(e)) || IsHiddenElement(page, e) || IsScreenReaderOnly(page, e);
}

// An element's text as a reader sees it: without what is hidden in it (a
// screen reader's "Headline:", a ruby's reading aid).
std::string SeenText(const HtmlDocument& page, int e, int depth = 0) {
  bool all_seen = true;
  std::vector<int> todo(page.Children(e).begin(), page.Children(e).end());
  for (size_t i = 0; i < todo.size() && all_seen; ++i) {
    if (Unseen(page, todo[i])) all_seen = false;
    for (int k : page.Children(todo[i])) todo.push_back(k);
  }
  if (all_seen || depth > 64) return page.InnerText(e);
  std::vector<HtmlDocument::ChildNode> nodes;
  page.ChildNodes(e, nodes);
  std::string text;
  for (const auto& n : nodes) {
    if (n.element < 0) {
      text += n.text;
    } else if (!page.IsComment(n.element) && !Unseen(page, n.element)) {
      const bool block = IsBlockTag(page.TagName(n.element)) || page.TagName(n.element) == "BR";
      if (block) text += ' ';
      text += SeenText(page, n.element, depth + 1);
      if (block) text += ' ';
    }
  }
  return text;
}

Heading ReadHeading(const HtmlDocument& page, int e, int level) {
  Heading h;
  h.level = level;
  h.text = CleanText(SeenText(page, e));
  std::span<const int> kids = page.Children(e);
  if (kids.empty()) return h;
  std::vector<HtmlDocument::ChildNode> nodes;
  page.ChildNodes(e, nodes);
  // "Headline<br><small>Subline</small>": the line before the break, for
  // when the title texts say only that.
  std::string before;
  for (const auto& n : nodes) {
    if (n.element >= 0 && page.TagName(n.element) == "BR") {
      std::string line = CleanText(before);
      if (HeadlineSized(line) && line.size() < h.text.size()) h.first_line = std::move(line);
      break;
    }
    if (n.element < 0) before += n.text;
    else if (!page.IsComment(n.element) && !Unseen(page, n.element)) before += " " + SeenText(page, n.element) + " ";
  }
  for (const auto& n : nodes) {
    if (n.element < 0) {
      if (!TrimView(n.text).empty()) return h;  // the heading opens with text: no kicker
      continue;
    }
    if (page.IsComment(n.element) || Unseen(page, n.element)) continue;
    if (!TagIn(page.TagName(n.element), {"SPAN", "SMALL", "STRONG", "B", "EM", "I", "DIV", "P", "MARK"})) return h;
    std::string kicker = CleanText(SeenText(page, n.element));
    if (kicker.empty() || kicker.size() * 2 > h.text.size() || !StartsWith(h.text, kicker)) return h;
    std::string rest = TrimCopy(h.text.substr(kicker.size()));
    while (!rest.empty() && (rest[0] == ':' || rest[0] == '-' || rest[0] == '|' || rest[0] == ' ')) rest.erase(0, 1);
    if (StartsWith(rest, "\xE2\x80\x93")) rest = TrimCopy(rest.substr(3));
    if (!HeadlineSized(rest)) return h;
    h.rest = std::move(rest);
    h.named_kicker = IsKickerHint(Hints(page, n.element));
    return h;
  }
  return h;
}

// Long enough to be a headline rather than a section's name: three words,
// or one run of a script written without spaces.
bool HeadlineLong(std::string_view s) { return WordCount(s) >= 3 || (WordCount(s) == 1 && Utf8Length(s) >= 8); }

// What a page says about its headline: the title texts of its head and its
// headings that do not name the site.
struct TitleTexts {
  std::string title, og, twitter, ld;
  SiteNames site;
  std::vector<Heading> headings;  // first- to third-level, in page order
  std::vector<size_t> first_levels;  // indexes of the H1s among them
};

TitleTexts ReadTitleTexts(const HtmlDocument& page, const PageFigures* fig) {
  TitleTexts t;
  std::vector<HtmlDocument::ChildNode> kids;
  auto own_text = [&](int e) {
    page.ChildNodes(e, kids);
    std::string text;
    for (const auto& k : kids)
      if (k.element < 0) text += k.text;
    return text;
  };
  std::string site_name, app_name;
  std::vector<int> candidates;  // H1 to H3, in page order
  for (int e = 0; e < page.ElementCount(); ++e) {
    std::string_view tag = page.TagName(e);
    if (tag == "TITLE" && t.title.empty()) {
      t.title = CleanText(own_text(e));
    } else if (tag == "META") {
      std::string key = page.Attribute(e, "property");
      if (key.empty()) key = page.Attribute(e, "name");
      key = AsciiLower(key);
      std::string* into = key == "og:title"           ? &t.og
                          : key == "twitter:title"    ? &t.twitter
                          : key == "og:site_name"     ? &site_name
                          : key == "application-name" ? &app_name
                                                      : nullptr;
      if (into && into->empty()) *into = CleanText(page.Attribute(e, "content"));
    } else if (tag == "SCRIPT" && t.ld.empty() &&
               EqualsIgnoreCase(page.Attribute(e, "type"), "application/ld+json")) {
      std::string json = own_text(e);
      if (size_t at = json.find("\"headline\""); at != std::string::npos) t.ld = CleanText(JsonString(json, at + 10));
    } else if (tag == "H1" || tag == "H2" || tag == "H3") {
      candidates.push_back(e);
    }
  }
  if (t.og.empty()) t.og = t.twitter;
  t.site = SiteNames{FoldTitle(site_name.empty() ? app_name : site_name), HostOf(page.Url()), {}};
  int seconds_and_firsts = 0, thirds = 0;
  for (int e : candidates) {
    std::string_view tag = page.TagName(e);
    int level = tag == "H1" ? 1 : tag == "H2" ? 2 : 3;
    if (Longer(fig, e, 1000) || IsHiddenElement(page, e)) continue;
    int& count = level == 3 ? thirds : seconds_and_firsts;
    if (count >= 16) continue;
    Heading h = ReadHeading(page, e, level);
    if (h.text.empty()) continue;
    ++count;
    if (IsSiteHeading(page, e, h.text)) {
      if (t.site.logos.size() < 4) t.site.logos.push_back(FoldTitle(h.text));
      continue;
    }
    if (t.site.Is(h.text)) continue;
    h.rank = IsNamedHeadline(page, e) ? 0 : level;
    h.folded_text = FoldTitle(h.text);
    if (!h.rest.empty()) h.folded_rest = FoldTitle(h.rest);
    if (!h.first_line.empty()) h.folded_first_line = FoldTitle(h.first_line);
    if (level == 1) t.first_levels.push_back(t.headings.size());
    t.headings.push_back(std::move(h));
  }
  return t;
}

// The heading that the page's own title texts repeat exactly; empty when none.
std::string HeadingTheTitleRepeats(const TitleTexts& t) {
  const SiteNames& site = t.site;
  // First the whole texts, the share texts before the title: headings named
  // headlines by their markup, then by level.
  std::vector<std::pair<std::string, std::string>> whole, pieces;  // folded, as written
  // (No heading of a thousand characters is read, nor a title text longer.)
  auto want = [&](std::vector<std::pair<std::string, std::string>>& into, const std::string& text) {
    if (!text.empty() && text.size() <= 4000 && !site.Is(text)) into.emplace_back(FoldTitle(text), text);
  };
  const std::string cut_title = CutSiteName(t.title, site), cut_og = CutSiteName(t.og, site);
  for (const std::string* text :
       std::initializer_list<const std::string*>{&t.og, &t.twitter, &t.ld, &t.title, &cut_og, &cut_title})
    want(whole, *text);
  // Then the pieces of the title, longest first: a headline is mostly
  // longer than the site's and section's names around it.
  std::vector<std::string> parts = TitleParts(t.title);
  std::stable_sort(parts.begin(), parts.end(),
                   [](const std::string& x, const std::string& y) { return Utf8Length(x) > Utf8Length(y); });
  for (const std::string& part : parts)
    if (HeadlineLong(part) && !(parts.size() == 2 && IsSitePartOf(part, t.title, site))) want(pieces, part);
  // "Topic: Headline" titles over headings without the topic.
  for (const std::string* text : std::initializer_list<const std::string*>{&t.og, &t.title, &cut_title})
    if (size_t colon = text->find(": "); colon != std::string::npos && WordCount(text->substr(colon + 2)) >= 3)
      want(pieces, TrimCopy(text->substr(colon + 2)));
  // The heading's text (or with its kicker cut), when it says w; a heading
  // that goes on after w with a separator ("Headline | Site") says it too.
  auto says = [](const std::string& text, const std::string& f, const std::string& w, const std::string& written,
                 bool or_more) -> std::string {
    if (text.empty()) return {};
    if (f == w) return text;
    if (or_more && f.size() > w.size() + 3 && StartsWith(f, w) &&
        AnyOf(std::string_view(f).substr(w.size(), 3), {" | ", " - ", " · ", " / ", " :"}))
      return written;
    return {};
  };
  // The heading whole, without its kicker, then its first line.
  for (int cut : {0, 1, 2}) {
    auto says_in = [&](const Heading& h, const std::string& w, const std::string& written, bool or_more) {
      return cut == 0   ? says(h.text, h.folded_text, w, written, or_more)
             : cut == 1 ? says(h.rest, h.folded_rest, w, written, or_more)
                        : says(h.first_line, h.folded_first_line, w, written, or_more);
    };
    for (int rank = 0; rank <= 3; ++rank)
      for (const auto& [w, written] : whole)
        for (const Heading& h : t.headings)
          if (h.rank == rank)
            if (std::string found = says_in(h, w, written, true); !found.empty()) return found;
    for (const auto& [w, written] : pieces)
      for (const Heading& h : t.headings)
        if (std::string found = says_in(h, w, written, false); !found.empty()) return found;
  }
  return {};
}

bool IsMonthName(std::string_view word) {
  std::string w = Utf8Lower(word);
  while (!w.empty() && (w.back() == '.' || w.back() == ',')) w.pop_back();
  return TagIn(w, {"jan", "january", "januar", "janvier", "feb", "february", "februar", "mar", "march",
                   "m\xC3\xA4rz", "apr", "april", "may", "mai", "jun", "june", "juni", "jul", "july", "juli", "aug",
                   "august", "sep", "sept", "september", "oct", "october", "okt", "oktober", "nov", "november", "dec",
                   "december", "dez", "dezember"});
}

// A day of the month as written in a date: "17", "17.", "17,", "17th".
bool IsDayWord(std::string_view w) {
  size_t digits = 0;
  while (digits < w.size() && w[digits] >= '0' && w[digits] <= '9') ++digits;
  if (digits == 0 || digits > 2) return false;
  std::string_view rest = w.substr(digits);
  return rest.empty() || TagIn(rest, {".", ",", "st", "nd", "rd", "th", "st,", "nd,", "rd,", "th,"});
}

bool IsYearWord(std::string_view w) {
  if (!w.empty() && (w.back() == ',' || w.back() == ':')) w.remove_suffix(1);
  if (w.size() != 4) return false;
  for (char c : w)
    if (c < '0' || c > '9') return false;
  return true;
}

// "17.06.2024", "2024-06-17", "06/17/24": digits in three groups.
bool IsNumericDate(std::string_view w) {
  if (!w.empty() && (w.back() == ',' || w.back() == ':')) w.remove_suffix(1);
  int groups = 1, digits = 0;
  for (char c : w) {
    if (c >= '0' && c <= '9') ++digits;
    else if (c == '.' || c == '-' || c == '/') ++groups;
    else return false;
  }
  return groups == 3 && digits >= 4 && w.size() >= 6 && w.size() <= 10;
}

// A date glued before a headline ("Jun 17 Rain at last", "17.06.2024 -
// Rain"): the headline without it. A date that the sentence is about ("June
// 17 is the longest day") stays: the headline after a date starts with a
// capital or follows a separator.
std::string WithoutLeadingDate(const std::string& title) {
  std::vector<std::string_view> words;
  std::vector<size_t> ends;
  for (size_t pos = 0; pos < title.size() && words.size() < 3;) {
    size_t end = std::min(title.find(' ', pos), title.size());
    if (end > pos) {
      words.push_back(std::string_view(title).substr(pos, end - pos));
      ends.push_back(end);
    }
    pos = end + 1;
  }
  size_t date_end = 0;
  if (!words.empty() && IsNumericDate(words[0])) date_end = ends[0];
  else if (words.size() >= 2 && ((IsMonthName(words[0]) && IsDayWord(words[1])) ||
                                 (IsDayWord(words[0]) && IsMonthName(words[1]))))
    date_end = words.size() >= 3 && IsYearWord(words[2]) ? ends[2] : ends[1];
  if (date_end == 0) return title;
  size_t i = date_end;
  bool separated = title[date_end - 1] == ':' || title[date_end - 1] == ',';
  while (i < title.size()) {
    if (title[i] == ' ') ++i;
    else if (title[i] == ':' || title[i] == '-' || title[i] == '|' || title[i] == ',') ++i, separated = true;
    else if (title.compare(i, 3, "\xE2\x80\x93") == 0 || title.compare(i, 3, "\xE2\x80\x94") == 0) i += 3, separated = true;
    else break;
  }
  std::string rest = title.substr(i);
  if (!HeadlineLong(rest)) return title;
  const unsigned char first = static_cast<unsigned char>(rest[0]);
  const bool capital = (first >= 'A' && first <= 'Z') || first >= 0xC0 || first == '"' || first == '\'';
  return separated || capital ? rest : title;
}

// A character of a script written without spaces (Chinese, Japanese): the
// lead bytes of U+3000 to U+9FFF and of the full-width forms.
bool IsUnspacedScriptAt(std::string_view s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  return (c >= 0xE3 && c <= 0xE9) || c == 0xEF;
}

// "标题-新华网", "标题_频道_新华网": a title of a script written without spaces
// names its site (and the site's sections) after dashes or underscores
// without spaces around them. The last pieces go while they are short and
// the headline stays much longer.
std::string WithoutUnspacedSiteName(const std::string& title, const SiteNames& site) {
  std::string head = title;
  for (int cut = 0; cut < 3; ++cut) {
    size_t sep = head.find_last_of("-_|");
    size_t width = 1;
    if (size_t fw = head.rfind("\xEF\xBD\x9C"); fw != std::string::npos && (sep == std::string::npos || fw > sep))
      sep = fw, width = 3;  // the full-width bar
    if (sep == std::string::npos || sep == 0 || sep + width >= head.size()) break;
    if (head[sep - 1] == ' ' || head[sep + width] == ' ') break;
    if (!IsUnspacedScriptAt(head, sep + width) || !IsUnspacedScriptAt(head, 0)) break;
    const std::string tail = head.substr(sep + width), rest = head.substr(0, sep);
    const bool names_site = site.Is(tail);
    if (!names_site && (Utf8Length(tail) > 8 || Utf8Length(rest) < 2 * Utf8Length(tail))) break;
    if (!HeadlineSized(rest)) break;
    head = rest;
  }
  return head;
}

std::string ChooseTitle(const TitleTexts& t);

}  // namespace

std::string TitleOf(const HtmlDocument& page, const PageFigures* fig) {
  const TitleTexts t = ReadTitleTexts(page, fig);
  std::string title = ChooseTitle(t);
  if (title.size() > 4000) return title;
  return WithoutLeadingDate(WithoutUnspacedSiteName(title, t.site));
}

namespace {

std::string ChooseTitle(const TitleTexts& t) {
  const std::string &title = t.title, &og = t.og;
  const SiteNames& site = t.site;
  if (std::string h = HeadingTheTitleRepeats(t); !h.empty()) return h;
  // A headline that the title or og:title repeats is the page's own headline,
  // unless it is the site's name there.
  std::string best;
  for (const Heading& h : t.headings)
    if (h.level < 3 && Utf8Length(h.text) >= 3 && (Contains(title, h.text) || Contains(og, h.text)) &&
        Utf8Length(h.text) > Utf8Length(best) && !IsSitePartOf(h.text, title, site) && !IsSitePartOf(h.text, og, site))
      best = h.text;
  if (!best.empty()) return best;
  // A long third-level heading that the title begins with.
  for (const Heading& h : t.headings)
    if (h.level == 3 && Utf8Length(h.text) >= 15 && title.rfind(h.text, 0) == 0 && title.size() > h.text.size() &&
        title[h.text.size()] == ' ')
      return h.text;
  // A title that names nothing but the site and a section leaves the
  // headline to the heading the markup names so.
  bool says_nothing = true;
  for (const std::string& part : TitleParts(!og.empty() ? og : title))
    if (HeadlineSized(part) && !site.Is(part)) says_nothing = false;
  if (says_nothing)
    for (const Heading& h : t.headings)
      if (h.rank == 0) return h.text;
  // The one first-level heading of a page is what its reader takes for the
  // headline, even where the title says it in other words.
  if (t.first_levels.size() == 1) {
    const Heading& h = t.headings[t.first_levels[0]];
    const std::string& text = h.named_kicker ? h.rest : h.text;
    if (HeadlineLong(text) && Utf8Length(text) <= 300 && !IsSitePartOf(text, title, site)) return text;
  }
  // Headlines named as such by their markup, when they agree with the title.
  for (const Heading& h : t.headings) {
    if (h.rank != 0 || Utf8Length(h.text) < 3 || Utf8Length(h.text) > 300) continue;
    if ((title.empty() && og.empty()) || WordOverlap(h.text, title + " " + og) >= 0.5) return h.text;
  }
  std::vector<const Heading*> top;
  for (const Heading& h : t.headings)
    if (h.level < 3) top.push_back(&h);
  if (top.size() == 1 && Utf8Length(top[0]->text) >= 15 && !IsSitePartOf(top[0]->text, title, site)) return top[0]->text;
  // Structured data's headline is the article's own; a bare <title> may be the site's.
  std::string base = !og.empty() ? og : !t.ld.empty() && !site.Is(t.ld) ? t.ld : title;
  std::string cut = CutSiteName(base, site);
  // "Headline - Section - Site": the section's name goes too.
  for (int i = 0; i < 2 && !cut.empty(); ++i) {
    std::string shorter = CutSiteName(cut, site);
    if (shorter.empty() || !StartsWith(cut, shorter) || !HeadlineLong(shorter) ||
        WordCount(std::string_view(cut).substr(shorter.size())) > 4)
      break;
    cut = std::move(shorter);
  }
  if (!cut.empty()) return cut;
  if (!base.empty()) return base;
  return top.empty() ? std::string() : top[0]->text;
}

}  // namespace

}  // namespace orvo::autoextract
