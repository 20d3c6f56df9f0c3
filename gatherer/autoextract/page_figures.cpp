#include "gatherer/autoextract/page_figures.h"

#include <algorithm>

#include "gatherer/masks/text_util.h"

namespace orvo::autoextract {

// Elements whose content a reader never sees as text.
bool IsInvisibleTag(std::string_view tag) {
  return TagIn(tag, {"SCRIPT", "STYLE", "NOSCRIPT", "TEMPLATE", "HEAD", "TITLE", "IFRAME", "OBJECT",
                     "EMBED", "NOFRAMES", "NOEMBED", "AUDIO", "VIDEO", "CANVAS", "SELECT", "META",
                     "LINK", "SVG", "BUTTON", "INPUT", "TEXTAREA", "!",
                     // A ruby's reading aid is said over the text, not part of it.
                     "RT", "RP"});
}

bool IsBlockTag(std::string_view tag) {
  return TagIn(tag, {"P",       "DIV",    "SECTION", "ARTICLE", "MAIN",       "BLOCKQUOTE", "PRE",
                     "UL",      "OL",     "LI",      "DL",      "DT",         "DD",         "H1",
                     "H2",      "H3",     "H4",      "H5",      "H6",         "TABLE",      "TR",
                     "TD",      "TH",     "TBODY",   "THEAD",   "TFOOT",      "FIGURE",     "FIGCAPTION",
                     "HEADER",  "FOOTER", "ADDRESS", "CENTER",  "HR",         "FORM",       "NAV",
                     "ASIDE",   "DETAILS", "SUMMARY", "CAPTION", "FIELDSET"});
}

// Text that sites set for screen readers only ("Headline:", "opens in a new
// window"): the common utility classes that clip an element out of sight.
bool IsScreenReaderOnly(const HtmlDocument& page, int e) {
  const std::string cls = AsciiLower(page.Attribute(e, "class"));
  if (cls.empty()) return false;
  return AnyToken(cls, [](std::string_view t) {
    return TagIn(t, {"sr-only", "visually-hidden", "visuallyhidden", "screen-reader-text", "screen-reader-only",
                     "screenreader", "screenreader-only", "sr-text", "show-for-sr", "aural", "element-invisible",
                     "hidden-visually", "u-visually-hidden", "u-hidden-visually", "a11y-hidden", "assistive-text",
                     "is-visually-hidden", "visually-hidden-focusable"});
  });
}

bool IsHiddenElement(const HtmlDocument& page, int e) {
  if (page.HasAttribute(e, "hidden")) return true;
  if (page.Attribute(e, "aria-hidden") == "true") return true;
  std::string style = page.Attribute(e, "style");
  if (style.empty()) return false;
  std::string s;
  for (char c : style)
    if (!IsAsciiSpace(c)) s += char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return Contains(s, "display:none") || Contains(s, "visibility:hidden");
}

// Class and id of an element, lower-case, for the hint tests. Class names
// that say what an element holds ("has-sidebar", "with-comments") are left
// out: they name a layout, not what the element is.
std::string Hints(const HtmlDocument& page, int e) {
  std::string h = AsciiLower(page.Attribute(e, "class"));
  if (AnyOf(h, {"has-", "with-"})) {
    std::string kept;
    AnyToken(h, [&](std::string_view token) {
      if (!StartsWith(token, "has-") && !StartsWith(token, "with-")) {
        if (!kept.empty()) kept += ' ';
        kept += token;
      }
      return false;
    });
    h = std::move(kept);
  }
  h += ' ';
  h += AsciiLower(page.Attribute(e, "id"));
  return h;
}

bool IsWithin(const HtmlDocument& page, int inner, int outer) {
  for (int a = inner; a >= 0; a = page.Parent(a))
    if (a == outer) return true;
  return false;
}

int FirstHeadline(const HtmlDocument& page, const PageFigures* fig) {
  for (int e = 0; e < page.ElementCount(); ++e)
    if (page.TagName(e) == "H1" && !(fig && fig->invisible[size_t(e)])) return e;
  return -1;
}

bool IsPositiveHint(std::string_view h) {
  return AnyOf(h, {"article", "body", "content", "entry", "main", "post", "text", "story", "blog",
                   "artikel", "beitrag", "inhalt", "news-detail", "single"});
}

// Names of page furniture: navigation, comments, sharing, advertising.
bool IsNegativeHint(std::string_view h) {
  return AnyOf(h, {"comment", "kommentar", "footer", "footnote", "masthead", "meta", "outbrain",
                   "promo", "related", "share", "sharing", "shoutbox", "sidebar", "skyscraper",
                   "sponsor", "shopping", "tags", "tool", "widget", "nav", "menu", "breadcrumb",
                   "social", "teaser", "newsletter", "cookie", "banner", "advert", "-ad-", "ad-slot",
                   "adslot", "recommend", "popular", "most-read", "pagination", "pager", "login",
                   "subscribe", "disqus", "community", "author-box", "byline", "caption",
                   "infobox", "toolbar", "hidden", "print", "rating", "signup", "gallery-list",
                   "copyright", "weitere", "mehr-zum", "lesen-sie", "read-more", "readmore",
                   "consent", "gdpr", "modal", "overlay", "popup"});
}

// Hints strong enough to drop an element inside the chosen block.
bool IsFurnitureHint(std::string_view h) {
  // What is not printed, or printed only (a copy of what the page shows); a
  // text's "print-step" blocks are the text.
  if (Contains(h, "print") && AnyOf(h, {"noprint", "no-print", "print-none", "hidden-print", "hide-for-print",
                                        "hide-print", "print-hide", "print-only", "print-button", "print-link"}))
    return true;
  return AnyOf(h, {"comment", "kommentar", "related", "share", "sharing", "social", "sidebar",
                   "newsletter", "cookie", "banner", "advert", "-ad-", "ad-slot", "adslot",
                   "recommend", "popular", "most-read", "breadcrumb", "pagination", "pager",
                   "subscribe", "disqus", "outbrain", "teaser", "promo", "author-box",
                   "byline", "toolbar", "rating", "signup", "tags", "consent", "gdpr",
                   "modal", "overlay", "popup", "meta", "nav", "menu", "footer", "read-more",
                   "readmore", "weitere", "mehr-zum", "lesen-sie", "copyright",
                   // A person's card: the author's box, not the text.
                   "vcard",
                   // Picture captions and credits outside a figure: the picture's, not the text's.
                   "caption", "credit", "bildunterschrift", "bildnachweis", "imagedescription",
                   "image-description",
                   // Appeals around the text: for money, for a login, and the writer's biography.
                   "donat", "spende", "support-us", "supportus", "login", "log-in", "signin", "sign-in",
                   "author-bio", "authorbio", "about-author", "about-the-author", "author-info", "autorenbox",
                   "author-description"});
}

bool InComment(const HtmlDocument& page, int e) {
  for (int up = 0; e >= 0 && up < 16; ++up, e = page.Parent(e)) {
    if (page.TagName(e) == "BODY") return false;
    if (AnyOf(Hints(page, e), {"comment", "kommentar", "respond", "reply"})) return true;
  }
  return false;
}

bool NamesOtherArticles(std::string_view h) {
  return AnyToken(h, [](std::string_view token) {
    return AnyOf(token, {"related", "recommend", "popular", "most-read", "other-", "weitere"}) &&
           AnyOf(token, {"article", "post", "stories", "entries", "content"});
  });
}

// Names of a standfirst: the lead paragraph that opens an article, often
// kept apart from its text (in the article's header, or a box of its own).
// Read word by word, so that "leader" or "introduction-video" do not count.
bool IsLeadHint(std::string_view h) {
  size_t i = 0;
  while (i < h.size()) {
    size_t j = i;
    while (j < h.size() && ((h[j] >= 'a' && h[j] <= 'z') || (h[j] >= '0' && h[j] <= '9'))) ++j;
    std::string_view word = h.substr(i, j - i);
    if (TagIn(word, {"intro", "introtext", "lead", "lede", "leadtext", "chapo", "chapeau", "standfirst", "excerpt",
                     "summary", "dek", "teaser", "teasertext", "description", "verdict", "tldr", "highlights",
                     "zusammenfassung", "abstract", "deck", "strapline", "vorspann", "anriss", "einleitung",
                     "perex", "bajada", "entradilla", "sumario", "catenaccio"}))
      return true;
    i = j + 1;
  }
  return false;
}

// Lead names that are not worth a furniture hint of the same element: the
// lead of a teaser box, a related story or a picture is no standfirst.
bool IsLeadElement(std::string_view h) {
  return IsLeadHint(h) && !AnyOf(h, {"related", "comment", "share", "newsletter", "promo", "advert", "sidebar",
                                     "nav", "menu", "caption", "image", "img", "photo", "bild", "media", "credit",
                                     "author", "auteur", "autor", "vcard", "list", "recommend", "popular", "more",
                                     "site", "blog-desc", "tagline", "slogan", "brand", "logo"});
}

int ClassWeight(std::string_view h) {
  int w = 0;
  if (IsPositiveHint(h)) w += 25;
  if (IsNegativeHint(h)) w -= 25;
  return w;
}

size_t CountChars(std::string_view s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if ((c & 0xC0) == 0x80 || IsAsciiSpace(char(c))) continue;
    // A no-break space is white space too: "<p>&nbsp;</p>" spaces paragraphs out.
    if (IsNbspAt(s, i)) ++i;
    else ++n;
  }
  return n;
}

// Collapses white space (no-break spaces included) and trims.
std::string CleanText(std::string_view s) {
  std::string out;
  bool space = false;
  for (size_t i = 0; i < s.size(); ++i) {
    bool nbsp = IsNbspAt(s, i);
    if (IsAsciiSpace(s[i]) || nbsp) {
      if (nbsp) ++i;
      space = true;
      continue;
    }
    if (space && !out.empty()) out += ' ';
    space = false;
    out += s[i];
  }
  return out;
}



namespace {

PageFigures MeasureOnce(const HtmlDocument& page, bool noscript_seen) {
  const int n = page.ElementCount();
  PageFigures f;
  f.text.assign(size_t(n), 0);
  f.links.assign(size_t(n), 0);
  f.paragraphs.assign(size_t(n), 0);
  f.images.assign(size_t(n), 0);
  f.commas.assign(size_t(n), 0);
  f.invisible.assign(size_t(n), 0);
  std::vector<HtmlDocument::ChildNode> kids;
  // Children have higher ids than their parents, so a reverse pass sees every
  // child before its parent.
  for (int e = n; e-- > 0;) {
    std::string_view tag = page.TagName(e);
    if ((IsInvisibleTag(tag) && !(noscript_seen && tag == "NOSCRIPT")) || IsHiddenElement(page, e)) {
      f.invisible[size_t(e)] = 1;
      continue;
    }
    int text = 0, links = 0, paragraphs = 0, images = 0, commas = 0;
    page.ChildNodes(e, kids);
    for (const auto& k : kids) {
      if (k.element < 0) {
        text += int(CountChars(k.text));
        commas += int(std::count(k.text.begin(), k.text.end(), ','));
      } else {
        text += f.text[size_t(k.element)];
        commas += f.commas[size_t(k.element)];
        links += f.links[size_t(k.element)];
        paragraphs += f.paragraphs[size_t(k.element)];
        images += f.images[size_t(k.element)];
      }
    }
    if (tag == "A") links = text;
    if (tag == "P") ++paragraphs;
    if (tag == "IMG") ++images;
    f.text[size_t(e)] = text;
    f.links[size_t(e)] = links;
    f.paragraphs[size_t(e)] = paragraphs;
    f.images[size_t(e)] = images;
    f.commas[size_t(e)] = commas;
  }
  return f;
}

}  // namespace

PageFigures Measure(const HtmlDocument& page) {
  PageFigures f = MeasureOnce(page, false);
  // Some sites serve the whole page inside <noscript> for readers without
  // scripts, which is what this reader is; there the page is its text.
  const int body = page.Body();
  if (body < 0 || f.text[size_t(body)] >= 500) return f;
  bool noscript = false;
  for (int e = body; e < page.ElementCount() && !noscript; ++e) noscript = page.TagName(e) == "NOSCRIPT";
  if (!noscript) return f;
  PageFigures g = MeasureOnce(page, true);
  return g.text[size_t(body)] > 4 * f.text[size_t(body)] + 250 ? g : f;
}

double LinkDensity(const PageFigures& f, int e) {
  int t = f.text[size_t(e)];
  return t > 0 ? double(f.links[size_t(e)]) / t : 0.0;
}

bool HasBlockChild(const HtmlDocument& page, int e) {
  for (int c : page.Children(e))
    if (IsBlockTag(page.TagName(c))) return true;
  return false;
}

// The text of an element's own text nodes and inline children, as one run.
std::string ParagraphText(const HtmlDocument& page, int e) { return CleanText(page.InnerText(e)); }

std::string MetaContent(const HtmlDocument& page, std::initializer_list<const char*> names) {
  for (const char* want : names) {
    for (int e = 0; e < page.ElementCount(); ++e) {
      if (page.TagName(e) != "META") continue;
      std::string key = page.Attribute(e, "property");
      if (key.empty()) key = page.Attribute(e, "name");
      if (key.empty()) key = page.Attribute(e, "itemprop");
      if (!EqualsIgnoreCase(key, want)) continue;
      std::string v = CleanText(page.Attribute(e, "content"));
      if (!v.empty()) return v;
    }
  }
  return {};
}

// The value of "key": "..." in JSON text, starting the search at from;
// escapes of quotes and backslashes and \uXXXX are undone.
std::string JsonString(std::string_view json, size_t pos) {
  size_t colon = json.find(':', pos);
  if (colon == std::string_view::npos) return {};
  size_t q = colon + 1;
  while (q < json.size() && IsAsciiSpace(json[q])) ++q;
  if (q >= json.size() || json[q] != '"') return {};
  std::string out;
  for (size_t i = q + 1; i < json.size(); ++i) {
    char c = json[i];
    if (c == '"') return out;
    if (c == '\\' && i + 1 < json.size()) {
      char x = json[++i];
      if (x == 'u' && i + 4 < json.size()) {
        unsigned cp = 0;
        bool ok = true;
        for (int k = 1; k <= 4; ++k) {
          char h = json[i + size_t(k)];
          cp <<= 4;
          if (h >= '0' && h <= '9') cp |= unsigned(h - '0');
          else if (h >= 'a' && h <= 'f') cp |= unsigned(h - 'a' + 10);
          else if (h >= 'A' && h <= 'F') cp |= unsigned(h - 'A' + 10);
          else ok = false;
        }
        if (ok) AppendUtf8(out, char32_t(cp));
        i += 4;
      } else {
        out += x == 'n' ? ' ' : x == 't' ? ' ' : x;
      }
      continue;
    }
    out += c;
  }
  return {};
}

// Texts of the page's structured data blocks.
std::vector<std::string> JsonLdBlocks(const HtmlDocument& page) {
  std::vector<std::string> out;
  std::vector<HtmlDocument::ChildNode> kids;
  for (int e = 0; e < page.ElementCount(); ++e) {
    if (page.TagName(e) != "SCRIPT" || !EqualsIgnoreCase(page.Attribute(e, "type"), "application/ld+json"))
      continue;
    page.ChildNodes(e, kids);
    std::string text;
    for (const auto& k : kids)
      if (k.element < 0) text += k.text;
    out.push_back(std::move(text));
  }
  return out;
}

}  // namespace orvo::autoextract
