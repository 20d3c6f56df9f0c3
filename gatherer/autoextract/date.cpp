// Automatic extraction's date: the head's meta data and structured data,
// <time> elements, the hAtom "published" title, the page's address, and last
// the date a page shows in an element named for it, read through the date
// parser in the languages of the sites read most.
#include "gatherer/autoextract/date.h"

#include <string>
#include <string_view>
#include <vector>

#include "gatherer/autoextract/page_figures.h"
#include "gatherer/masks/text_util.h"

namespace orvo::autoextract {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits from i, at most max of them; 0 when none.
size_t DigitsAt(std::string_view s, size_t i, size_t max) {
  size_t n = 0;
  while (i + n < s.size() && n < max && IsDigit(s[i + n])) ++n;
  return n;
}

// Month names, lower case, January first.
const std::vector<std::vector<std::string>>& MonthNames() {
  static const std::vector<std::vector<std::string>> kNames = {
      {"january", "february", "march", "april", "may", "june", "july", "august", "september", "october", "november",
       "december"},
      {"januar", "februar", "m\xC3\xA4rz", "april", "mai", "juni", "juli", "august", "september", "oktober",
       "november", "dezember"},
      {"janvier", "f\xC3\xA9vrier", "mars", "avril", "mai", "juin", "juillet", "ao\xC3\xBBt", "septembre", "octobre",
       "novembre", "d\xC3\xA9" "cembre"},
      {"enero", "febrero", "marzo", "abril", "mayo", "junio", "julio", "agosto", "septiembre", "octubre", "noviembre",
       "diciembre"},
      {"gennaio", "febbraio", "marzo", "aprile", "maggio", "giugno", "luglio", "agosto", "settembre", "ottobre",
       "novembre", "dicembre"},
      {"januari", "februari", "maart", "april", "mei", "juni", "juli", "augustus", "september", "oktober", "november",
       "december"},
      {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"},
      {"jan", "feb", "m\xC3\xA4r", "apr", "mai", "jun", "jul", "aug", "sep", "okt", "nov", "dez"},
  };
  return kNames;
}

// The list whose name of a month the word at i is (a word of letters, or
// the word with a full stop for an abbreviation); its length in end.
const std::vector<std::string>* MonthAt(std::string_view lower, size_t i, size_t& end) {
  size_t j = i;
  while (j < lower.size() && !IsAsciiSpace(lower[j]) && lower[j] != '.' && lower[j] != ',' && !IsDigit(lower[j])) ++j;
  std::string_view word = lower.substr(i, j - i);
  if (word.empty()) return nullptr;
  for (const std::vector<std::string>& names : MonthNames())
    for (const std::string& name : names)
      if (word == name) {
        end = j < lower.size() && lower[j] == '.' ? j + 1 : j;
        return &names;
      }
  return nullptr;
}

size_t SkipSpaces(std::string_view s, size_t i) {
  while (i < s.size() && (IsAsciiSpace(s[i]) || IsNbspAt(s, i))) i += IsNbspAt(s, i) ? 2 : 1;
  return i;
}

// The time of day after a date ("14:30", "um 10:56 Uhr", "10h00"), set on d.
void ReadTimeAfter(std::string_view lower, size_t from, DateTime& d) {
  for (size_t i = from; i < lower.size() && i < from + 24; ++i) {
    if (!IsDigit(lower[i]) || (i > 0 && IsDigit(lower[i - 1]))) continue;
    const size_t h = DigitsAt(lower, i, 3);
    if (h == 0 || h > 2 || i + h >= lower.size() || (lower[i + h] != ':' && lower[i + h] != 'h') ||
        DigitsAt(lower, i + h + 1, 3) != 2)
      continue;
    DateTime t = d;
    if (ParseDate(lower.substr(i, h + 3), "H0*N0", {}, t) && t.valid()) d = t;
    return;
  }
}

}  // namespace

bool ReadShownDate(std::string_view text, DateTime& out) {
  const std::string lower = Utf8Lower(text);
  std::string_view s = lower;
  for (size_t i = 0; i < s.size(); ++i) {
    const bool word_start = i == 0 || (!IsDigit(s[i - 1]) && !((s[i - 1] >= 'a' && s[i - 1] <= 'z')));
    if (!word_start) continue;
    DateTime d = DateTime::Make(1899, 12, 30);
    size_t end = 0;
    if (IsDigit(s[i])) {
      if (ParseIsoDate(s.substr(i), d)) {
        out = d;
        return true;
      }
      // 21.10.2019, 21/10/2019, 5. 3. 2024
      const size_t day = DigitsAt(s, i, 3);
      if (day == 0 || day > 2) continue;
      size_t j = i + day;
      if (j < s.size() && (s[j] == '.' || s[j] == '/' || s[j] == '-')) {
        const char sep = s[j];
        size_t m = SkipSpaces(s, j + 1);
        const size_t month = DigitsAt(s, m, 3);
        if (month >= 1 && month <= 2 && m + month < s.size() && s[m + month] == sep) {
          size_t y = SkipSpaces(s, m + month + 1);
          if (DigitsAt(s, y, 5) == 4 && ParseDate(s.substr(i, y + 4 - i), "D0*M0*Y1", {}, d) && d.valid()) {
            ReadTimeAfter(s, y + 4, d);
            out = d;
            return true;
          }
        }
      }
      // 5. März 2024, 5 March 2024
      if (j < s.size() && s[j] == '.') ++j;
      size_t name = SkipSpaces(s, j);
      if (name == j && j == i + day) continue;  // "5März": no
      const std::vector<std::string>* names = MonthAt(s, name, end);
      if (!names) continue;
      size_t y = SkipSpaces(s, end);
      if (y < s.size() && s[y] == ',') y = SkipSpaces(s, y + 1);
      if (DigitsAt(s, y, 5) == 4 && ParseDate(s.substr(i, y + 4 - i), "D0*M2*Y1", *names, d) && d.valid()) {
        ReadTimeAfter(s, y + 4, d);
        out = d;
        return true;
      }
    } else if (const std::vector<std::string>* names = MonthAt(s, i, end)) {
      // March 5, 2024
      size_t day = SkipSpaces(s, end);
      const size_t digits = DigitsAt(s, day, 3);
      if (day == end || digits == 0 || digits > 2) continue;
      size_t y = day + digits;
      if (y + 1 < s.size() && (s.compare(y, 2, "st") == 0 || s.compare(y, 2, "nd") == 0 ||
                               s.compare(y, 2, "rd") == 0 || s.compare(y, 2, "th") == 0))
        y += 2;
      if (y < s.size() && s[y] == ',') ++y;
      y = SkipSpaces(s, y);
      if (DigitsAt(s, y, 5) == 4 && ParseDate(s.substr(i, y + 4 - i), "M2*D0*Y1", *names, d) && d.valid()) {
        ReadTimeAfter(s, y + 4, d);
        out = d;
        return true;
      }
    }
  }
  return false;
}

namespace {

// The day in a page's address: ".../2014/05/18/slug".
bool DateOfAddress(std::string_view url, DateTime& out) {
  size_t path = url.find("://");
  path = url.find('/', path == std::string_view::npos ? 0 : path + 3);
  for (size_t i = path; i != std::string_view::npos && i + 11 <= url.size(); i = url.find('/', i + 1)) {
    if (DigitsAt(url, i + 1, 5) != 4 || url[i + 5] != '/' || DigitsAt(url, i + 6, 3) != 2 || url[i + 8] != '/' ||
        DigitsAt(url, i + 9, 3) != 2 || (i + 11 < url.size() && url[i + 11] != '/'))
      continue;
    DateTime d = DateTime::Make(LeadingInt(url.substr(i + 1, 4)), LeadingInt(url.substr(i + 6, 2)),
                                LeadingInt(url.substr(i + 9, 2)));
    if (d.valid() && d.year > 1990) {
      out = d;
      return true;
    }
  }
  return false;
}


// The date a reader sees beside the headline: a short line among the few
// elements after the first-level heading ("Stand: 12.11.2021", a date under
// the headline), else the nearest few before it (a date above it).
bool DateBesideHeadline(const HtmlDocument& page, const PageFigures* fig, DateTime& out) {
  const int h1 = FirstHeadline(page, fig);
  if (h1 < 0) return false;
  auto shows = [&](int e) {
    if (page.IsComment(e) || (fig && fig->invisible[size_t(e)]) || Longer(fig, e, 80)) return false;
    const std::string text = page.InnerText(e);
    DateTime d;
    if (text.size() > 240 || !ReadShownDate(text, d) || InComment(page, e)) return false;  // a commenter's date
    out = d;
    return true;
  };
  // The heading's elements follow it in one run.
  const int n = page.ElementCount();
  int after = h1 + 1;
  while (after < n && IsWithin(page, after, h1)) ++after;
  for (int e = after; e < n && e < after + 24; ++e)
    if (shows(e)) return true;
  for (int e = h1 - 1, seen = 0; e > page.Body() && seen < 8; --e) {
    if (IsWithin(page, h1, e)) continue;  // the heading's own wrappers hold more than a line
    ++seen;
    if (shows(e)) return true;
  }
  return false;
}

}  // namespace

DateTime DateOf(const HtmlDocument& page, const PageFigures* fig) {
  DateTime d;
  for (const char* key : {"article:published_time", "datePublished", "og:published_time", "date", "pubdate",
                          "publishdate", "dc.date", "dcterms.date", "article:modified_time"}) {
    if (ParseIsoDate(MetaContent(page, {key}), d)) return d;
  }
  for (const std::string& json : JsonLdBlocks(page)) {
    size_t at = json.find("\"datePublished\"");
    if (at != std::string::npos && ParseIsoDate(JsonString(json, at + 15), d)) return d;
  }
  for (int e = 0, tries = 0; e < page.ElementCount() && tries < kMaxCandidates; ++e) {
    std::string_view tag = page.TagName(e);
    if ((tag == "TIME" || page.Attribute(e, "itemprop") == "datePublished") && !Longer(fig, e, 300)) {
      ++tries;
      std::string v = page.Attribute(e, "datetime");
      if (v.empty()) v = page.Attribute(e, "content");
      if (ParseIsoDate(v, d)) return d;
      if (ReadShownDate(page.InnerText(e), d)) return d;
    }
  }
  // hAtom: <abbr class="published" title="2017-07-23T17:06:45+0000">.
  for (int e = 0, tries = 0; e < page.ElementCount() && tries < kMaxCandidates; ++e) {
    if (!page.HasAttribute(e, "title") || page.Attribute(e, "class").empty()) continue;
    std::string h = Hints(page, e);
    if (!AnyOf(h, {"published", "updated", "dtstart"})) continue;
    ++tries;
    if (ParseIsoDate(page.Attribute(e, "title"), d)) return d;
  }
  if (DateOfAddress(page.Url(), d)) return d;
  if (DateBesideHeadline(page, fig, d)) return d;
  // The date a page shows, in the first short element named for it outside
  // the comments.
  for (int e = page.Body(), tries = 0; e >= 0 && e < page.ElementCount() && tries < kMaxCandidates; ++e) {
    if (Longer(fig, e, 120)) continue;
    std::string h = Hints(page, e);
    if (h.size() <= 1 || !AnyOf(h, {"date", "datum", "publish", "posted", "time", "zeit", "fecha", "byline", "meta", "author"})) continue;
    if (InComment(page, e)) continue;
    ++tries;
    std::string text = page.InnerText(e);
    if (text.size() > 600) continue;
    if (ReadShownDate(text, d)) return d;
  }
  return DateTime{};
}

}  // namespace orvo::autoextract
