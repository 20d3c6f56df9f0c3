// Automatic extraction's author: structured data, author markup, bylines
// found by their words, meta names, an agency's credit, in that order of
// trust, each cleaned to the name.
#include "gatherer/autoextract/author.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "gatherer/autoextract/date.h"
#include "gatherer/autoextract/page_figures.h"
#include "gatherer/masks/text_util.h"
#include "gatherer/masks/url.h"

namespace orvo::autoextract {

namespace {

// A value of structured data, parsed leniently: pages write JSON by hand,
// with raw line breaks in strings and trailing commas.
struct JsonValue {
  enum class Kind { kNull, kString, kOther, kObject, kArray } kind = Kind::kNull;
  std::string text;                                     // a string's value
  std::vector<std::pair<std::string, JsonValue>> members;  // an object's
  std::vector<JsonValue> items;                         // an array's

  const JsonValue* Get(std::string_view key) const {
    for (const auto& [k, v] : members)
      if (k == key) return &v;
    return nullptr;
  }
  std::string String(std::string_view key) const {
    const JsonValue* v = Get(key);
    return v && v->kind == Kind::kString ? v->text : std::string();
  }
};

class JsonParser {
 public:
  explicit JsonParser(std::string_view json) : s_(json) {}

  bool Parse(JsonValue& out) {
    Skip();
    // Some pages wrap their block in a comment or a CDATA section.
    for (std::string_view wrap : {"//", "<!--", "<![CDATA[", "//"}) {
      if (s_.compare(i_, wrap.size(), wrap) == 0) i_ += wrap.size();
      Skip();
    }
    return Value(out, 0);
  }

 private:
  // Deeper than this no honest page nests its data.
  static constexpr int kMaxJsonDepth = 48;

  void Skip() {
    while (i_ < s_.size() && (IsAsciiSpace(s_[i_]) || s_[i_] == '\r')) ++i_;
  }

  bool Value(JsonValue& out, int depth) {
    if (depth > kMaxJsonDepth) return false;
    Skip();
    if (i_ >= s_.size()) return false;
    char c = s_[i_];
    if (c == '{') return Object(out, depth);
    if (c == '[') return Array(out, depth);
    if (c == '"') {
      out.kind = JsonValue::Kind::kString;
      return String(out.text);
    }
    // Numbers, true, false, null: their text is not needed.
    size_t start = i_;
    while (i_ < s_.size() && !AnyOfChar(s_[i_], ",]}") && !IsAsciiSpace(s_[i_])) ++i_;
    out.kind = s_.substr(start, i_ - start) == "null" ? JsonValue::Kind::kNull : JsonValue::Kind::kOther;
    return i_ > start;
  }

  static bool AnyOfChar(char c, std::string_view set) { return set.find(c) != std::string_view::npos; }

  bool Object(JsonValue& out, int depth) {
    out.kind = JsonValue::Kind::kObject;
    ++i_;
    for (;;) {
      Skip();
      if (i_ >= s_.size()) return false;
      if (s_[i_] == '}') {
        ++i_;
        return true;
      }
      if (s_[i_] == ',') {
        ++i_;
        continue;
      }
      std::string key;
      if (s_[i_] != '"' || !String(key)) return false;
      Skip();
      if (i_ >= s_.size() || s_[i_] != ':') return false;
      ++i_;
      JsonValue v;
      if (!Value(v, depth + 1)) return false;
      out.members.emplace_back(std::move(key), std::move(v));
    }
  }

  bool Array(JsonValue& out, int depth) {
    out.kind = JsonValue::Kind::kArray;
    ++i_;
    for (;;) {
      Skip();
      if (i_ >= s_.size()) return false;
      if (s_[i_] == ']') {
        ++i_;
        return true;
      }
      if (s_[i_] == ',') {
        ++i_;
        continue;
      }
      JsonValue v;
      if (!Value(v, depth + 1)) return false;
      out.items.push_back(std::move(v));
    }
  }

  bool String(std::string& out) {
    for (++i_; i_ < s_.size(); ++i_) {
      char c = s_[i_];
      if (c == '"') {
        ++i_;
        return true;
      }
      if (c != '\\' || i_ + 1 >= s_.size()) {
        out += c;
        continue;
      }
      char x = s_[++i_];
      if (x == 'u' && i_ + 4 < s_.size()) {
        unsigned cp = 0;
        bool ok = true;
        for (size_t k = 1; k <= 4; ++k) {
          char h = s_[i_ + k];
          cp <<= 4;
          if (h >= '0' && h <= '9') cp |= unsigned(h - '0');
          else if (h >= 'a' && h <= 'f') cp |= unsigned(h - 'a' + 10);
          else if (h >= 'A' && h <= 'F') cp |= unsigned(h - 'A' + 10);
          else ok = false;
        }
        i_ += 4;
        // A pair of surrogates makes one character.
        if (ok && cp >= 0xD800 && cp < 0xDC00 && s_.compare(i_ + 1, 2, "\\u") == 0 && i_ + 6 < s_.size()) {
          unsigned lo = 0;
          for (size_t k = 3; k <= 6; ++k) {
            char h = s_[i_ + k];
            lo = (lo << 4) | unsigned(h >= 'a' ? h - 'a' + 10 : h >= 'A' ? h - 'A' + 10 : h - '0');
          }
          if (lo >= 0xDC00 && lo < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
            i_ += 6;
          }
        }
        if (ok) AppendUtf8(out, char32_t(cp));
      } else {
        out += x == 'n' || x == 't' || x == 'r' ? ' ' : x;
      }
    }
    return false;
  }

  std::string_view s_;
  size_t i_ = 0;
};

// The host of an address, "" when it has none.
std::string_view HostOf(std::string_view url) {
  size_t start = url.find("://");
  if (start == std::string_view::npos) return {};
  url.remove_prefix(start + 3);
  return url.substr(0, url.find_first_of("/:?#"));
}

bool HasType(const JsonValue& v, std::initializer_list<const char*> types) {
  const JsonValue* t = v.Get("@type");
  if (!t) return false;
  auto is = [&](const std::string& name) {
    for (const char* want : types)
      if (Contains(name, want)) return true;
    return false;
  };
  if (t->kind == JsonValue::Kind::kString) return is(t->text);
  for (const JsonValue& i : t->items)
    if (i.kind == JsonValue::Kind::kString && is(i.text)) return true;
  return false;
}

// Every object of a block, parents before children, the nesting bounded by the parser.
void CollectObjects(const JsonValue& v, std::vector<const JsonValue*>& out) {
  if (v.kind == JsonValue::Kind::kObject) out.push_back(&v);
  for (const auto& m : v.members) CollectObjects(m.second, out);
  for (const JsonValue& i : v.items) CollectObjects(i, out);
}

// The people of an "author" value: a name, a person, a reference to one, or
// a list of these. The site's own organisation is its publisher, not a byline.
template <typename Publisher>
void AuthorNames(const JsonValue& v, const std::vector<const JsonValue*>& all, const Publisher& IsPublisher,
                 std::vector<std::string>& names, int depth = 0) {
  if (depth > 2) return;
  auto add = [&](std::string name) {
    name = CleanText(name);
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  };
  if (v.kind == JsonValue::Kind::kString) {
    add(v.text);
  } else if (v.kind == JsonValue::Kind::kArray) {
    for (const JsonValue& i : v.items) AuthorNames(i, all, IsPublisher, names, depth + 1);
  } else if (v.kind == JsonValue::Kind::kObject) {
    std::string name = v.String("name");
    if (HasType(v, {"Organization", "Organisation", "Corporation"}) && !HasType(v, {"Person"}) &&
        IsPublisher(name))
      return;
    if (!name.empty()) return add(name);
    std::string id = v.String("@id");
    if (id.empty()) return;
    for (const JsonValue* o : all)
      if (o != &v && o->String("@id") == id && !o->String("name").empty())
        return AuthorNames(*o, all, IsPublisher, names, depth + 1);
  }
}

// Author names from structured data: the author of the article the page
// describes, not of its pictures or of the site.
std::string JsonLdAuthor(const HtmlDocument& page) {
  const std::string host = AsciiLower(HostOf(page.BaseUrl()));
  for (const std::string& json : JsonLdBlocks(page)) {
    if (json.find("\"author\"") == std::string::npos && json.find("\"creator\"") == std::string::npos) continue;
    JsonValue root;
    if (!JsonParser(json).Parse(root)) continue;
    std::vector<const JsonValue*> all;
    CollectObjects(root, all);
    // The article first; else any work that is not a picture, a film or a comment.
    for (int pass = 0; pass < 2; ++pass) {
      for (const JsonValue* o : all) {
        bool article = HasType(*o, {"Article", "Posting", "Report", "Blog"});
        if (pass == 0 ? !article
                      : HasType(*o, {"ImageObject", "VideoObject", "MediaObject", "Photograph", "Comment",
                                     "Person", "Organization"}))
          continue;
        const JsonValue* a = o->Get("author");
        if (!a) a = o->Get("creator");
        if (!a) continue;
        std::string publisher;
        if (const JsonValue* p = o->Get("publisher")) publisher = p->kind == JsonValue::Kind::kString ? p->text : p->String("name");
        auto is_publisher = [&](const std::string& name) {
          std::string l = AsciiLower(name);
          l.erase(std::remove(l.begin(), l.end(), ' '), l.end());
          return name == publisher || (l.size() >= 3 && Contains(host, l));
        };
        std::vector<std::string> names;
        AuthorNames(*a, all, is_publisher, names);
        if (names.empty()) continue;
        std::string joined = names[0];
        for (size_t i = 1; i < names.size(); ++i) joined += ", " + names[i];
        return joined;
      }
    }
  }
  return {};
}

// An address, not a name; "dpa/lnw" and "Text / Foto" are agency credits.
bool LooksLikeAddress(std::string_view s) {
  if (StartsWith(s, "http://") || StartsWith(s, "https://") || StartsWith(s, "www.") || Contains(s, "://")) return true;
  size_t slash = s.find('/');
  if (slash == std::string_view::npos || Contains(s, " ")) return false;
  return Contains(s.substr(0, slash), ".");
}

bool StripPrefix(std::string& s, std::initializer_list<const char*> prefixes) {
  for (const char* prefix : prefixes) {
    if (StartsWith(s, prefix)) {
      s = TrimCopy(s.substr(std::strlen(prefix)));
      return true;
    }
  }
  return false;
}

void StripPunctuation(std::string& s) {
  while (!s.empty() && (s[0] == ':' || s[0] == '|' || s[0] == '-' || s[0] == ' ')) s.erase(0, 1);
}

// The first line of a byline's text, where the name stands; what follows
// on other lines (a date, a role, buttons) is not. A line of only "By" or
// "Von" takes the next one with it.
std::string FirstLine(std::string_view s) {
  std::string out;
  size_t pos = 0;
  while (pos < s.size()) {
    size_t end = std::min(s.find('\n', pos), s.size());
    std::string line = CleanText(s.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;
    out += out.empty() ? line : " " + line;
    std::string lower = AsciiLower(out);
    while (!lower.empty() && (lower.back() == ':' || lower.back() == ' ')) lower.pop_back();
    size_t sp = lower.rfind(' ');
    std::string last = sp == std::string::npos ? lower : lower.substr(sp + 1);
    if (!TagIn(last, {"by", "von", "par", "por", "door", "text", "autor", "autorin", "author", "redaktion"})) break;
  }
  return out;
}

bool IsMonthWord(std::string w) {
  while (!w.empty() && (w.back() == '.' || w.back() == ',')) w.pop_back();
  w = AsciiLower(w);
  for (const char* m : {"jan", "january", "januar", "feb", "february", "februar", "mar", "march", "märz", "apr",
                        "april", "may", "mai", "jun", "june", "juni", "jul", "july", "juli", "aug", "august", "sep",
                        "sept", "september", "oct", "october", "okt", "oktober", "nov", "november", "dec", "december",
                        "dez", "dezember"})
    if (w == m) return true;
  return false;
}

// Cuts what follows a name in its byline: from the first later word with a
// digit (the date, "52m ago") or a colon (the label of the next field), and
// a month name before it. A name of one word ("Marianne1") stays whole.
void CutTrailingFields(std::string& name) {
  std::vector<std::string> words;
  for (size_t pos = 0; pos < name.size();) {
    size_t end = std::min(name.find(' ', pos), name.size());
    std::string word = name.substr(pos, end - pos);
    pos = end + 1;
    if (word.empty()) continue;
    if (!words.empty() && (word.find_first_of("0123456789") != std::string::npos || word.back() == ':')) break;
    words.push_back(std::move(word));
  }
  while (words.size() > 1 && IsMonthWord(words.back())) words.pop_back();
  name.clear();
  for (const std::string& word : words) name += (name.empty() ? "" : " ") + word;
}

// "Text & Fotos: Name", "Words and pictures: Name": a label of what the
// person made, before the colon; the name follows it.
void StripCreditLabel(std::string& s) {
  const size_t colon = s.find(": ");
  if (colon == std::string::npos || colon > 40) return;
  const std::string label = Utf8Lower(s.substr(0, colon));
  int words = 0;
  for (size_t pos = 0; pos < label.size();) {
    size_t end = std::min(label.find_first_of(" /", pos), label.size());
    std::string_view word = std::string_view(label).substr(pos, end - pos);
    pos = end + 1;
    if (word.empty()) continue;
    if (!TagIn(word, {"text", "texte", "tekst", "words", "foto", "fotos", "photo", "photos", "pictures", "bild",
                      "bilder", "illustration", "video", "und", "and", "&", "+", "et", "y"}))
      return;
    ++words;
  }
  if (words >= 2) s = TrimCopy(s.substr(colon + 2));
}

// What stands in a byline's place without a name in it: a label ("Autoreninfo",
// "No Author"), a link's words ("Archiv anzeigen ->") or a byline's words whose
// name is missing ("Beitrag von", "Text &").
bool IsLabelNotName(std::string_view s) {
  const std::string lower = Utf8Lower(TrimView(s));
  if (lower.empty()) return true;
  if (AnyOf(lower, {"->", "\xE2\x86\x92", "\xC2\xBB", "\xE2\x80\xBA", "<-", "anzeigen", "view all", "show all",
                    "all posts", "alle beitr\xC3\xA4ge"}))
    return true;
  if (TagIn(lower, {"autoreninfo", "autorinfo", "autor info", "autorenprofil", "author info", "author information",
                    "about the author", "\xC3\xBC" "ber den autor", "no author", "unknown author", "kein autor",
                    "unbekannt", "unknown", "n/a", "none", "null", "profil", "profile", "archiv", "archive"}))
    return true;
  // A last word that asks for a name after it.
  const size_t sp = lower.rfind(' ');
  const std::string_view last = sp == std::string::npos ? std::string_view(lower) : std::string_view(lower).substr(sp + 1);
  return sp != std::string::npos &&
         TagIn(last, {"&", "und", "and", "von", "by", "of", "de", "par", "por", "door", "mit", "with", "+"});
}

// Strips "By", "Von", "Text:" and the like from a byline.
std::string CleanByline(std::string s) {
  // Soft hyphens and zero-width spaces split a name only for the eye of the reader.
  for (const char* invisible : {"\xC2\xAD", "\xE2\x80\x8B"})
    for (size_t p; (p = s.find(invisible)) != std::string::npos;) s.erase(p, std::strlen(invisible));
  s = FirstLine(s);
  StripPunctuation(s);
  // The link to an author's page says so around the name.
  StripPrefix(s, {"View all posts by ", "View all articles by ", "See all posts by ", "All posts by ",
                  "More posts by ", "More from ", "Alle Beitr\xC3\xA4ge von ", "Alle Artikel von ",
                  "Weitere Artikel von ", "Mehr von ", "Tous les articles de "});
  StripCreditLabel(s);
  // "Redaktion：Name" and the like, with a full-width colon.
  if (size_t colon = s.find("\xEF\xBC\x9A"); colon != std::string::npos && colon < 40) s = TrimCopy(s.substr(colon + 3));
  StripPrefix(s, {"By: ", "by: ", "BY: ", "Von: ", "von: ", "By ", "by ", "BY ", "Von ", "von ", "VON ", "Par ", "par ",
                  "Text: ", "Text:", "Autor: ", "Autorin: ", "Author: ", "Redaktion: ", "Written by ", "Posted by ",
                  "Door ", "Di ", "Por ", "Av ", "Af ", "Tekst: ", "Texte: ", "Autore: ", "Auteur: "});
  StripPunctuation(s);
  // "Kicker Von Name": the name follows the word; a lower-case "von" is part of a name.
  for (const char* inner : {" Von ", " By "}) {
    size_t p = s.find(inner);
    if (p != std::string::npos && p > 0 && s.find(' ') == p) {
      s = TrimCopy(s.substr(p + std::strlen(inner)));
      break;
    }
  }
  // A byline often ends in its date, a separator or a handle.
  // A picture's credit after the writer's name is the photographer's.
  {
    const std::string lower = Utf8Lower(s);
    for (const char* credit : {" illustration", " foto:", " fotos:", " foto von ", " fotos von ", " fotografie",
                               " photo:", " photos:", " photo by ", " photos by ", " photography", ", photo",
                               ", foto", " / foto", " / photo", " bild:", " bilder:", " grafik:"}) {
      size_t p = lower.find(credit);
      if (p != std::string::npos && p > 2) s.erase(p);
    }
  }
  for (const char* cut : {" | ", " – ", " - ", " — ", " \xE2\x80\xA2", " \xC2\xB7", " am ", " on ", ", updated", " Updated", " @", " (",
                          ", dpa", ", AFP", ", Reuters", ", AP", ", KNA", ", epd", ", Associated Press",
                          ", The Associated Press", ", Bloomberg", ", published", ", Published", ", publi\xC3\xA9",
                          ", mis \xC3\xA0 jour", ", le ", ", ver\xC3\xB6" "ffentlicht", ", aktualisiert", ", publicado",
                          ", actualizado", ", pubblicato", ", aggiornato"}) {
    size_t p = s.find(cut);
    if (p != std::string::npos && p > 2) s.erase(p);
  }
  for (const char* tail : {" Twitter", "Staff Writer", " Contributor"}) {
    size_t n = std::strlen(tail);
    if (s.size() > n && s.compare(s.size() - n, n, tail) == 0) s.erase(s.size() - n);
  }
  // "Name, Senior Correspondent": the writer's role after the name.
  if (size_t comma = s.rfind(", "); comma != std::string::npos && comma > 2) {
    const std::string tail = Utf8Lower(s.substr(comma + 2));
    if (WordCount(tail) <= 5 &&
        AnyOf(tail, {"correspondent", "reporter", "editor", "writer", "columnist", "contributor", "journalist",
                     "redakteur", "korrespondent", "reporterin", "journalistin", "r\xC3\xA9" "dact", "envoy\xC3\xA9",
                     "corresponsal", "redactor", "periodista", "giornalista", "inviat", "redacteur", "verslaggever"}))
      s.erase(comma);
  }
  // "Name, CNN": the acronym of the publisher or agency after the name.
  if (size_t comma = s.rfind(", "); comma != std::string::npos && comma > 2) {
    std::string_view tail = std::string_view(s).substr(comma + 2);
    bool acronym = tail.size() >= 2 && tail.size() <= 6;
    for (char c : tail) acronym = acronym && c >= 'A' && c <= 'Z';
    if (acronym) s.erase(comma);
  }
  CutTrailingFields(s);
  while (!s.empty() && (s.back() == ',' || s.back() == '|' || s.back() == ':' || s.back() == '/' || s.back() == ' '))
    s.pop_back();
  // The byline's word alone, its name missing.
  if (TagIn(AsciiLower(s), {"by", "von", "par", "por", "door", "di", "text", "autor", "author", "redaktion"})) return {};
  if (IsLabelNotName(s)) return {};
  return TrimCopy(s);
}

bool PlausibleName(std::string_view s) {
  if (s.empty() || Utf8Length(s) > 80 || IsLabelNotName(s)) return false;
  // Picture credits and publication notes are no bylines.
  for (const char* not_a_name : {"Foto:", "Fotos:", "Bild:", "Bilder:", "Photo:", "Photos:", "Image:", "Quelle:",
                                 "Veröffentlicht", "Publiziert", "Published", "Posted", "Updated", "Aktualisiert",
                                 "Erstellt", "Stand:"})
    if (StartsWith(s, not_a_name)) return false;
  // Nor are the accounts of a site's software.
  for (const char* account : {"admin", "Admin", "administrator", "Administrator", "webmaster", "Webmaster"})
    if (s == account) return false;
  int words = 1;
  for (char c : s)
    if (c == ' ') ++words;
  if (words > 10) return false;
  // Dates and times are no names.
  int digits = 0;
  for (char c : s)
    if (c >= '0' && c <= '9') ++digits;
  return digits <= 2;
}

// Whether e stands in a picture's caption or credit, where names are of photographers.
bool InPictureCredit(const HtmlDocument& page, int e) {
  for (int up = 0; e >= 0 && up < 12; ++up, e = page.Parent(e)) {
    if (TagIn(page.TagName(e), {"FIGURE", "FIGCAPTION", "PICTURE"})) return true;
    if (AnyOf(Hints(page, e), {"caption", "credit", "copyright", "photographer"})) return true;
  }
  return false;
}

size_t VisibleChars(const HtmlDocument& page, const PageFigures* fig, int e) {
  return fig ? size_t(fig->text[size_t(e)]) : CountChars(page.InnerText(e));
}

// Whether a class or id names a list of other articles: "teaser-list",
// "related_posts", "c-sidebar", but not a state such as "has-sidebar".
bool NamesTeaser(std::string_view hints) {
  return AnyToken(hints, [](std::string_view token) {
    if (StartsWith(token, "has-") || StartsWith(token, "no-") || StartsWith(token, "is-") ||
        StartsWith(token, "with-"))
      return false;
    for (std::string_view word : {"teaser", "related", "recommend", "popular", "most-read", "sidebar"}) {
      size_t at = token.find(word);
      if (at == 0 || (at != std::string_view::npos && (token[at - 1] == '-' || token[at - 1] == '_'))) return true;
    }
    return false;
  });
}

// Whether e stands in a teaser of another article (a link holding more than
// the name, a list of related or recommended pieces) or in the page's
// furniture, where bylines are of other pages.
bool InTeaser(const HtmlDocument& page, const PageFigures* fig, int e) {
  const size_t own = VisibleChars(page, fig, e);
  for (int up = 0, a = page.Parent(e); a >= 0 && up < 12; ++up, a = page.Parent(a)) {
    std::string_view tag = page.TagName(a);
    if (tag == "BODY") break;  // its classes describe the layout of the whole page
    if (TagIn(tag, {"ASIDE", "NAV"})) return true;
    if (tag == "A" && VisibleChars(page, fig, a) > own + 40) return true;
    if (NamesTeaser(Hints(page, a))) return true;
  }
  return false;
}

// The words a byline begins with, in the languages of the sites read most.
constexpr std::string_view kBylineWords[] = {
    "By ",          "by ",          "BY ",        "Von ",        "von ",       "VON ",         "Von: ",
    "Text: ",       "Text von ",    "Autor: ",    "Autorin: ",   "Author: ",   "Posted by ",   "Written by ",
    "Geschrieben von ", "Verfasst von ", "Ein Beitrag von ", "Par ", "Por ",   "Door ",        "Di ",
    "Redaktion: ",  "Reporter: ",   "Quelle: ",   "Av ",         "Af ",        "Tekst: ",      "Texte: ",
    "Autore: ",     "Auteur: ",     "By: ",       "BY: ",        "by: ",       "Written By ",  "Story by ",
    "Words by ",    "Reporting by ", "Autorka: ", "Texto: ",     "Redacción: "};

// Whether the words of s read as people's names: each begins with a capital,
// save the joining words and the particles of names ("Anna von Berg").
bool NamesPeople(std::string_view s) {
  size_t pos = 0;
  int words = 0;
  while (pos < s.size()) {
    size_t end = s.find(' ', pos);
    if (end == std::string_view::npos) end = s.size();
    std::string_view w = s.substr(pos, end - pos);
    pos = end + 1;
    if (w.empty()) continue;
    ++words;
    unsigned char c = static_cast<unsigned char>(w[0]);
    if ((c >= 'A' && c <= 'Z') || c >= 0x80) continue;
    bool joining = false;
    for (const char* j : {"und", "and", "y", "et", "e", "en", "&", "von", "van", "de", "der", "den", "da", "di", "du",
                          "le", "la", "del", "dos", "bin", "al", "zu", "mit", "from"})
      joining = joining || w == j;
    if (!joining) return false;
  }
  return words > 0;
}

// A name after a byline word at the start of a short line of text:
// "Von Lisa Berg", "Posted by Konstantin", "Author: Ann Lee, March 3, 2024".
std::string NameOfBylineText(std::string_view line) {
  line = TrimView(line);
  for (std::string_view w : kBylineWords) {
    if (!StartsWith(line, w)) continue;
    std::string_view rest = TrimView(line.substr(w.size()));
    // A name begins with a capital (or a letter outside ASCII); "by the way" is no byline.
    unsigned char c = rest.empty() ? 0 : static_cast<unsigned char>(rest[0]);
    if (!((c >= 'A' && c <= 'Z') || c >= 0x80)) return {};
    std::string name = CleanByline(std::string(rest));
    for (const char* cut : {" , ", ";"})
      if (size_t p = name.find(cut); p != std::string::npos) name.erase(p);
    while (!name.empty() && (name.back() == ',' || name.back() == ' ')) name.pop_back();
    if (Utf8Length(name) < 3 || !PlausibleName(name) || LooksLikeAddress(name) || !NamesPeople(name)) return {};
    return name;
  }
  return {};
}

// Whether a line opens with the word of its publication: "Posted on May 2 by".
bool StartsPublished(std::string_view line) {
  for (std::string_view w : {"Posted ", "Published ", "Veröffentlicht ", "Erstellt am ", "Publié le ", "Publicado el "})
    if (StartsWith(line, w)) return true;
  return false;
}

// Where a byline begins in a line of text: at its start, after a separator
// ("- Redaktion: Name"), or after the date ("06.11.2023 13:30 von Name",
// "Posted on May 2 by Name"); empty when the line is no byline.
std::string_view BylineStart(std::string_view line) {
  auto starts_byline = [](std::string_view s) {
    for (std::string_view w : kBylineWords)
      if (StartsWith(s, w) || (s.size() + 1 == w.size() && StartsWith(w, s))) return true;
    return false;
  };
  while (!line.empty()) {
    if (line[0] == '-' || line[0] == '|' || line[0] == ' ' || line[0] == '/') line.remove_prefix(1);
    else if (StartsWith(line, "\xC2\xB7") || StartsWith(line, "\xE2\x80\x93") || StartsWith(line, "\xE2\x80\x94"))
      line.remove_prefix(StartsWith(line, "\xC2\xB7") ? 2 : 3);
    else break;
  }
  if (starts_byline(line)) return line;
  if ((line.empty() || line[0] < '0' || line[0] > '9') && !StartsPublished(line)) return {};
  for (std::string_view w : {" von ", " by ", " Von ", " By "}) {
    size_t at = line.find(w);
    if (at == std::string_view::npos || !starts_byline(line.substr(at + 1))) continue;
    // After a date or the word of the publication; "1. Data kept by
    // cookies" is a numbered heading, not a byline.
    DateTime day;
    if (StartsPublished(line) || ReadShownDate(line.substr(0, at), day)) return line.substr(at + 1);
  }
  return {};
}


// Whether a text is nothing but a byline's word ("By", "Von:").
bool IsBylineWord(std::string_view s) {
  for (std::string_view w : kBylineWords)
    if (s.size() + 1 == w.size() && StartsWith(w, s)) return true;
  return false;
}

// A short visible line that is a byline by its words.
std::string BylineTextOf(const HtmlDocument& page, const PageFigures& fig) {
  std::vector<HtmlDocument::ChildNode> kids;
  const int headline = FirstHeadline(page, &fig);
  std::string before;
  for (int e = 0, tries = 0; e < page.ElementCount() && tries < 4 * kMaxCandidates; ++e) {
    int chars = fig.text[size_t(e)];
    if (fig.invisible[size_t(e)] || chars < 5 || chars > 150) continue;
    std::string_view tag = page.TagName(e);
    if (TagIn(tag, {"A", "H1", "H2", "TITLE", "OPTION", "LABEL", "BUTTON"})) continue;
    // The byline word stands in the element's own first text, not in a link or heading in it.
    page.ChildNodes(e, kids);
    size_t first = 0;
    while (first < kids.size() && kids[first].element < 0 && TrimView(kids[first].text).empty()) ++first;
    if (first == kids.size()) continue;
    std::string word;
    if (kids[first].element >= 0) {
      // Or alone in an inline element of its own: "<span>By</span> <a>Name</a>".
      const int c = kids[first].element;
      if (fig.text[size_t(c)] > 8 || !TagIn(page.TagName(c), {"SPAN", "STRONG", "B", "EM", "I", "SMALL"})) continue;
      word = CleanText(page.InnerText(c));
      if (!IsBylineWord(word)) continue;
    }
    // Most texts are ruled out by their first letter, before any copying.
    std::string_view own = word.empty() ? TrimView(kids[first].text) : std::string_view(word);
    if (own.empty() || !std::strchr("BbVvTAaPWGEDRQSpd-|/\xC2\xE2" "0123456789", own[0])) continue;
    // (A line that opens with its publication has the byline word further on.)
    if (BylineStart(CleanText(own)).empty() && !StartsPublished(own)) continue;
    std::string text = page.InnerText(e);
    size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) continue;
    std::string_view rest = std::string_view(text).substr(start);
    std::string line = CleanText(rest.substr(0, rest.find('\n')));
    ++tries;
    std::string name = NameOfBylineText(BylineStart(CleanText(line)));
    if (name.empty() || InTeaser(page, &fig, e) || InPictureCredit(page, e) || InComment(page, e)) continue;
    if (e > headline) return name;
    if (before.empty()) before = name;
  }
  return before;
}

bool HasToken(std::string_view list, std::string_view word) {
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t end = std::min(list.find(' ', pos), list.size());
    if (list.substr(pos, end - pos) == word) return true;
    pos = end + 1;
  }
  return false;
}

// Elements the markup names as the author's: itemprop author or creator,
// rel author (not on a <link>, whose address is no name), <byline>.
bool MarkedAsAuthor(const HtmlDocument& page, int e) {
  std::string_view tag = page.TagName(e);
  if (tag == "BYLINE") return true;
  if (IsInvisibleTag(tag) && tag != "META") return false;
  std::string itemprop = page.Attribute(e, "itemprop");
  if (HasToken(itemprop, "author") || HasToken(itemprop, "creator")) return true;
  return tag != "META" && HasToken(AsciiLower(page.Attribute(e, "rel")), "author");
}

std::string MarkedName(const HtmlDocument& page, int e) {
  std::string name;
  if (page.TagName(e) == "META") name = page.Attribute(e, "content");
  // The person's name, in e or a few levels down ("<a><span itemprop=name>").
  for (int c = e + 1, seen = 0; name.empty() && c < page.ElementCount() && seen < 24; ++c, ++seen) {
    int up = c;
    for (int depth = 0; up > e && depth < 6; ++depth) up = page.Parent(up);
    if (up != e) break;  // past e's descendants
    if (page.Attribute(c, "itemprop") == "name")
      name = page.TagName(c) == "META" ? page.Attribute(c, "content") : page.InnerText(c);
  }
  if (name.empty()) name = page.InnerText(e);
  return CleanByline(name);
}

// Several authors marked one by one in one byline: the byline as written
// ("Von Ann Lee und Tom Berg"), else the names joined.
std::string JointByline(const HtmlDocument& page, const PageFigures* fig, int e, const std::string& name) {
  for (int other = e + 1, seen = 0; other < page.ElementCount() && seen < 80; ++other, ++seen) {
    if (!MarkedAsAuthor(page, other)) continue;
    std::string second = MarkedName(page, other);
    if (second == name || !PlausibleName(second) || Contains(name, second) || Contains(second, name)) continue;
    // The two share a short ancestor: one byline, not two articles.
    for (int up = 0, a = page.Parent(e); a >= 0 && up < 4; ++up, a = page.Parent(a)) {
      if (VisibleChars(page, fig, a) > 200) break;
      int b = other;
      while (b > a) b = page.Parent(b);
      if (b != a) continue;
      std::string line = CleanByline(page.InnerText(a));
      if (Contains(line, name) && Contains(line, second) && PlausibleName(line)) return line;
      return name + ", " + second;
    }
    break;
  }
  return name;
}

// The byline the markup names: itemprop, rel or <byline>. An organisation
// marked so goes to organisation, for when no person is named anywhere.
std::string MarkedAuthor(const HtmlDocument& page, const PageFigures* fig, std::string& organisation) {
  const int headline = FirstHeadline(page, fig);
  std::string before;
  for (int e = 0, tries = 0; e < page.ElementCount() && tries < kMaxCandidates; ++e) {
    if (!MarkedAsAuthor(page, e) || Longer(fig, e, 300)) continue;
    ++tries;
    std::string name = MarkedName(page, e);
    if (!PlausibleName(name) || LooksLikeAddress(name) || InPictureCredit(page, e) || InTeaser(page, fig, e)) continue;
    if (Contains(page.Attribute(e, "itemtype"), "Organization")) {
      if (organisation.empty()) organisation = name;
      continue;
    }
    if (e > headline) return JointByline(page, fig, e, name);
    if (before.empty()) before = JointByline(page, fig, e, name);
  }
  return before;
}

bool IsBylineHint(std::string_view h) {
  return AnyOf(h, {"byline", "author", "autor", "verfasser", "writer", "auteur", "reporter", "redakteur", "journalist"});
}

// The text of a byline's element with its child elements apart:
// "<span>Autor:</span><span>Ann Lee</span>" reads as two words, as styled.
std::string SpacedText(const HtmlDocument& page, int e) {
  std::vector<HtmlDocument::ChildNode> kids;
  page.ChildNodes(e, kids);
  std::string out;
  for (const auto& k : kids) {
    if (k.element < 0) {
      // White space in the markup is no line of the text.
      for (char c : k.text) out += IsAsciiSpace(c) ? ' ' : c;
    } else if (!page.IsComment(k.element)) {
      std::string_view tag = page.TagName(k.element);
      const char* apart = IsBlockTag(tag) || tag == "BR" ? "\n" : " ";
      out += apart;
      out += page.InnerText(k.element);
      out += apart;
    }
  }
  return out;
}

// The formatted name inside an hCard ("vom <span class=fn>Name</span>"), else e.
int FormattedName(const HtmlDocument& page, int e) {
  for (int c = e + 1, seen = 0; c < page.ElementCount() && seen < 24; ++c, ++seen) {
    int up = c;
    for (int depth = 0; up > e && depth < 8; ++depth) up = page.Parent(up);
    if (up != e) break;  // past e's descendants
    if (HasToken(AsciiLower(page.Attribute(c, "class")), "fn")) return c;
  }
  return e;
}

// The text of an element whose class or id calls it a byline.
std::string HintedAuthor(const HtmlDocument& page, const PageFigures* fig) {
  // A byline stands near the headline: the first after it wins over one before.
  const int headline = FirstHeadline(page, fig);
  std::string before;
  for (int e = 0, tries = 0; e < page.ElementCount() && tries < kMaxCandidates; ++e) {
    std::string h = Hints(page, e);
    if (!IsBylineHint(h)) continue;
    // A first-level heading so named is the site's or an author page's, not a byline.
    if (AnyOf(h, {"comment", "authorbox", "author-box", "about", "bio", "avatar", "image", "img"}) ||
        page.TagName(e) == "H1" || Longer(fig, e, 300) || InTeaser(page, fig, e))
      continue;
    ++tries;
    std::string name = CleanByline(SpacedText(page, FormattedName(page, e)));
    // A handle is one word, often lower-case; longer texts read as names or are labels.
    if (PlausibleName(name) && Utf8Length(name) >= 3 && (name.find(' ') == std::string::npos || NamesPeople(name))) {
      if (e > headline) return name;
      if (before.empty()) before = name;
    }
  }
  return before;
}

std::string MetaAuthor(const HtmlDocument& page) {
  return CleanByline(MetaContent(page, {"author", "article:author", "og:article:author", "dc.creator", "byl",
                                        "sailthru.author", "parsely-author", "dcterms.creator", "cxenseparse:author",
                                        "citation_author"}));
}

bool NamesDomain(std::string_view s);

// The source a news text names on a line of its own: "Quelle: kathpress",
// "Source: Reuters". A name of a few words, not a site's address.
std::string SourceOfLine(std::string_view text) {
  std::string lower = AsciiLower(text.substr(0, 16));
  for (const char* label : {"quelle:", "source:", "fuente:", "fonte:", "bron:"}) {
    if (!StartsWith(lower, label)) continue;
    std::string name = TrimCopy(text.substr(std::strlen(label)));
    if (name.empty() || Utf8Length(name) > 40 || WordCount(name) > 4 || LooksLikeAddress(name) || NamesDomain(name) ||
        name.find_first_of(".:;!?()[]") != std::string::npos)
      return {};
    return name;
  }
  return {};
}

// The agency credit closing a news text: "... hieß es. (FR mit dpa)".
std::string AgencyCredit(const HtmlDocument& page, const PageFigures& fig, int root) {
  if (root < 0) root = page.Body();
  if (root < 0) return {};
  // The last paragraphs of the text, in the order they come.
  std::vector<int> last;
  // Elements come parents first: one inside the text has its parent there too.
  std::vector<unsigned char> inside(size_t(page.ElementCount() - root), 0);
  inside[0] = 1;
  for (int e = root + 1; e < page.ElementCount(); ++e) {
    int parent = page.Parent(e);
    if (parent < root || !inside[size_t(parent - root)]) break;  // past the text's elements
    inside[size_t(e - root)] = 1;
    if (page.TagName(e) == "P" && !fig.invisible[size_t(e)] && fig.text[size_t(e)] > 0) {
      if (last.size() == 3) last.erase(last.begin());
      last.push_back(e);
    }
  }
  for (auto it = last.rbegin(); it != last.rend(); ++it) {
    if (fig.text[size_t(*it)] > 20000) continue;
    std::string text = CleanText(page.InnerText(*it));
    std::string source = SourceOfLine(text);
    if (!source.empty()) return source;
    if (text.size() < 4 || text.back() != ')') continue;
    size_t open = text.rfind('(');
    if (open == std::string::npos || text.size() - open > 42) continue;
    std::string credit = TrimCopy(text.substr(open + 1, text.size() - open - 2));
    std::string lower = AsciiLower(credit);
    for (char& c : lower)
      if (c == '/' || c == ',' || c == ';') c = ' ';
    for (const char* agency : {"dpa", "afp", "ap", "reuters", "kna", "epd", "apa", "sda", "sid", "ddp", "dapd", "ots",
                               "ansa", "efe", "red"})
      if (HasToken(lower, agency)) return credit;
  }
  return {};
}

// Whether a word of s is a domain name ("katholisch.at", "Phys.org"), the
// site rather than a person.
bool NamesDomain(std::string_view s) {
  size_t pos = 0;
  while (pos < s.size()) {
    size_t end = std::min(s.find(' ', pos), s.size());
    std::string_view word = s.substr(pos, end - pos);
    pos = end + 1;
    size_t dot = word.rfind('.');
    if (dot == std::string_view::npos || dot == 0) continue;
    std::string_view tld = word.substr(dot + 1);
    bool letters = tld.size() >= 2 && tld.size() <= 6;
    for (char c : tld) letters = letters && c >= 'a' && c <= 'z';  // "Dr.Meier" is a name
    if (letters) return true;
  }
  return false;
}

}  // namespace

// The author, from the sources in the order of their trust: what the markup
// names as the author, structured data, byline lines by their words, byline
// classes, meta tags; last an organisation and the agency credit of the text.
std::string AuthorOf(const HtmlDocument& page, const PageFigures& fig, int main_block) {
  std::string organisation;
  std::string marked = MarkedAuthor(page, &fig, organisation);
  if (!marked.empty()) return marked;
  std::string ld = JsonLdAuthor(page);
  std::string site = AsciiLower(MetaContent(page, {"og:site_name", "application-name"}));
  auto site_like = [&](const std::string& name) {
    std::string l = AsciiLower(name);
    return LooksLikeAddress(name) || (!site.empty() && (Contains(site, l) || Contains(l, site))) || NamesDomain(name);
  };
  if (PlausibleName(ld) && !site_like(ld)) return ld;
  std::string text = BylineTextOf(page, fig);
  if (!text.empty()) return text;
  std::string hinted = HintedAuthor(page, &fig);
  if (!hinted.empty()) return hinted;
  std::string meta = MetaAuthor(page);
  if (PlausibleName(meta) && !site_like(meta)) return meta;
  if (PlausibleName(ld) && !LooksLikeAddress(ld)) return ld;
  if (!organisation.empty() && !site_like(organisation)) return organisation;
  return AgencyCredit(page, fig, main_block);
}

}  // namespace orvo::autoextract
