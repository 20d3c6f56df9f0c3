#include "gatherer/masks/auto_extract.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <utility>

#include "gatherer/masks/text_util.h"
#include "gatherer/masks/url.h"

namespace orvo {

namespace {

// Deeper than this the composition stops descending; no article nests so.
constexpr int kMaxDepth = 400;
// Shortest text a paragraph needs to count towards its block's score.
constexpr int kMinParagraphChars = 25;
// Elements of one kind whose text is read for a headline, byline or date:
// a hostile page nesting thousands of them would otherwise make it quadratic.
constexpr int kMaxCandidates = 32;
// The composed body stops growing here; the store cuts it shorter anyway.
constexpr size_t kFullBody = 4 * (kMaxBodyChars + 1);

bool Contains(std::string_view hay, std::string_view needle) {
  return hay.find(needle) != std::string_view::npos;
}

// A no-break space (U+00A0) at i; tested byte by byte, as this runs for
// every character of a page's text.
bool IsNbspAt(std::string_view s, size_t i) { return s[i] == '\xC2' && i + 1 < s.size() && s[i + 1] == '\xA0'; }

// Lists of string views: their lengths are known when compiled, not counted
// at every call (these run for every element of a page).
bool AnyOf(std::string_view hay, std::initializer_list<std::string_view> needles) {
  for (std::string_view n : needles)
    if (Contains(hay, n)) return true;
  return false;
}

bool TagIn(std::string_view tag, std::initializer_list<std::string_view> tags) {
  for (std::string_view t : tags)
    if (tag == t) return true;
  return false;
}

// Elements whose content a reader never sees as text.
bool IsInvisibleTag(std::string_view tag) {
  return TagIn(tag, {"SCRIPT", "STYLE", "NOSCRIPT", "TEMPLATE", "HEAD", "TITLE", "IFRAME", "OBJECT",
                     "EMBED", "NOFRAMES", "NOEMBED", "AUDIO", "VIDEO", "CANVAS", "SELECT", "META",
                     "LINK", "SVG", "BUTTON", "INPUT", "TEXTAREA", "!"});
}

bool IsBlockTag(std::string_view tag) {
  return TagIn(tag, {"P",       "DIV",    "SECTION", "ARTICLE", "MAIN",       "BLOCKQUOTE", "PRE",
                     "UL",      "OL",     "LI",      "DL",      "DT",         "DD",         "H1",
                     "H2",      "H3",     "H4",      "H5",      "H6",         "TABLE",      "TR",
                     "TD",      "TH",     "TBODY",   "THEAD",   "TFOOT",      "FIGURE",     "FIGCAPTION",
                     "HEADER",  "FOOTER", "ADDRESS", "CENTER",  "HR",         "FORM",       "NAV",
                     "ASIDE",   "DETAILS", "SUMMARY", "CAPTION", "FIELDSET"});
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

// Class and id of an element, lower-case, for the hint tests.
std::string Hints(const HtmlDocument& page, int e) {
  std::string h = AsciiLower(page.Attribute(e, "class"));
  h += ' ';
  h += AsciiLower(page.Attribute(e, "id"));
  return h;
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
  return AnyOf(h, {"comment", "kommentar", "related", "share", "sharing", "social", "sidebar",
                   "newsletter", "cookie", "banner", "advert", "-ad-", "ad-slot", "adslot",
                   "recommend", "popular", "most-read", "breadcrumb", "pagination", "pager",
                   "subscribe", "disqus", "outbrain", "teaser", "promo", "author-box",
                   "byline", "toolbar", "print", "rating", "signup", "tags", "consent", "gdpr",
                   "modal", "overlay", "popup", "meta", "nav", "menu", "footer", "read-more",
                   "readmore", "weitere", "mehr-zum", "lesen-sie", "infobox", "copyright",
                   // Picture captions and credits outside a figure: the picture's, not the text's.
                   "caption", "credit", "bildunterschrift", "bildnachweis", "imagedescription",
                   "image-description"});
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
                     "summary", "dek", "teaser", "teasertext", "description"}))
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
                                     "author", "list", "recommend", "popular", "more", "site", "blog-desc",
                                     "tagline", "slogan", "brand", "logo"});
}

int ClassWeight(std::string_view h) {
  int w = 0;
  if (IsPositiveHint(h)) w += 25;
  if (IsNegativeHint(h)) w -= 25;
  return w;
}

size_t CountChars(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80 && !IsAsciiSpace(char(c))) ++n;
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

bool StartsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

// Per-element figures of one page, computed bottom-up in one pass.
struct PageFigures {
  std::vector<int> text;   // visible characters, white space not counted
  std::vector<int> links;  // of which inside links
  std::vector<int> paragraphs;
  std::vector<int> images;
  std::vector<int> commas;
  std::vector<unsigned char> invisible;
};

PageFigures Measure(const HtmlDocument& page) {
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
    if (IsInvisibleTag(tag) || IsHiddenElement(page, e)) {
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

int TagBonus(std::string_view tag) {
  if (tag == "DIV" || tag == "ARTICLE" || tag == "MAIN" || tag == "SECTION") return 5;
  if (tag == "PRE" || tag == "TD" || tag == "BLOCKQUOTE") return 3;
  if (TagIn(tag, {"ADDRESS", "OL", "UL", "DL", "DD", "DT", "LI", "FORM"})) return -3;
  if (TagIn(tag, {"H1", "H2", "H3", "H4", "H5", "H6", "TH"})) return -5;
  return 0;
}

class Extractor {
 public:
  Extractor(const HtmlDocument& page, ExtractionState& state, const PageFigures& fig, bool strict)
      : page_(page), state_(state), fig_(fig), strict_(strict) {}

  int ChooseMainBlock();
  void Compose(int main);

 private:
  bool Excluded(int e) const;  // furniture seen from the hints, before scoring
  bool Within(int inner, int outer) const;
  bool IntroducesNoText(int e, int main) const;
  bool IsIntroLine(int e) const;  // short, ending in a colon or a question
  bool MuchPlainText(int e, std::string_view hints) const;
  bool IsDek(int e) const;
  std::vector<int> Leads(int main, const std::vector<int>& parts) const;
  bool Drop(int e, int main) const;
  bool DropByLook(int e, int main) const;  // by the element's own look, not what follows it
  void Emit(int e, int main, int depth);
  void EmitText(std::string_view text);
  void EmitImage(int e);
  void Break() { pending_break_ = true; }

  const HtmlDocument& page_;
  ExtractionState& state_;
  const PageFigures& fig_;
  bool strict_;  // furniture hints exclude whole subtrees
  std::vector<double> score_;
  std::vector<int> inside_furniture_;
  bool pending_break_ = false;
  bool pending_space_ = false;
  bool at_start_ = true;
};

// Pages of running text with few links are no furniture, whatever their
// names say: names are made of layouts ("two-col-sidebar"), of headings
// ("sharing-with-a-team") or of the widgets the text came with. Comments
// are the exception: they are long texts too.
bool Extractor::MuchPlainText(int e, std::string_view hints) const {
  return fig_.text[size_t(e)] >= 1000 && LinkDensity(fig_, e) < 0.15 &&
         !AnyOf(hints, {"comment", "kommentar", "respond", "disqus", "discussion", "reply", "replies", "forum"});
}

bool Extractor::Excluded(int e) const {
  if (!strict_) return false;
  std::string_view tag = page_.TagName(e);
  if (TagIn(tag, {"NAV", "ASIDE", "FOOTER", "FORM", "HEADER"})) return true;
  std::string role = page_.Attribute(e, "role");
  if (role == "navigation" || role == "complementary" || role == "contentinfo" || role == "banner")
    return true;
  if (tag == "BODY" || tag == "HTML" || tag == "MAIN" || tag == "ARTICLE") return false;
  std::string h = Hints(page_, e);
  if (h.size() <= 1) return false;
  return IsFurnitureHint(h) && !AnyOf(h, {"article", "content", "main", "body", "entry", "story"}) &&
         !IsLeadElement(h) && !MuchPlainText(e, h);
}

int Extractor::ChooseMainBlock() {
  const int n = page_.ElementCount();
  const int body = page_.Body();
  if (body < 0) return -1;
  score_.assign(size_t(n), 0.0);
  // Furniture marks its whole subtree, so paragraphs of comments and
  // "related" boxes score nothing.
  inside_furniture_.assign(size_t(n), 0);
  std::vector<unsigned char> scored(size_t(n), 0);
  for (int e = 0; e < n; ++e) {
    int p = page_.Parent(e);
    if (p >= 0 && (inside_furniture_[size_t(p)] || fig_.invisible[size_t(p)]))
      inside_furniture_[size_t(e)] = 1;
    else if (Excluded(e))
      inside_furniture_[size_t(e)] = 1;
  }
  auto init = [&](int c) {
    if (scored[size_t(c)]) return;
    scored[size_t(c)] = 1;
    score_[size_t(c)] = TagBonus(page_.TagName(c)) + ClassWeight(Hints(page_, c));
    if (page_.Attribute(c, "itemprop") == "articleBody") score_[size_t(c)] += 50;
  };
  for (int e = body; e < n; ++e) {
    if (inside_furniture_[size_t(e)] || fig_.invisible[size_t(e)]) continue;
    std::string_view tag = page_.TagName(e);
    bool paragraph = TagIn(tag, {"P", "PRE", "TD", "BLOCKQUOTE"}) ||
                     (TagIn(tag, {"DIV", "SECTION", "ARTICLE", "SPAN"}) && !HasBlockChild(page_, e) &&
                      fig_.text[size_t(e)] >= kMinParagraphChars);
    if (!paragraph) continue;
    int chars = fig_.text[size_t(e)];
    if (chars < kMinParagraphChars) continue;
    if (tag == "TD" && HasBlockChild(page_, e)) continue;  // a layout cell, scored by its paragraphs
    double s = 1.0 + double(fig_.commas[size_t(e)]) + std::min(chars / 100, 3);
    s *= 1.0 - std::min(1.0, LinkDensity(fig_, e));
    int level = 0;
    for (int a = page_.Parent(e); a >= 0 && level < 5; a = page_.Parent(a), ++level) {
      if (page_.TagName(a) == "HTML") break;
      init(a);
      double divider = level == 0 ? 1 : level == 1 ? 2 : level * 3;
      score_[size_t(a)] += s / divider;
    }
  }
  int best = -1;
  double best_score = 0;
  for (int e = body; e < n; ++e) {
    if (!scored[size_t(e)]) continue;
    double s = score_[size_t(e)] * (1.0 - LinkDensity(fig_, e));
    score_[size_t(e)] = s;
    if (s > best_score) {
      best_score = s;
      best = e;
    }
  }
  if (best < 0) {
    // No paragraph anywhere: take the body when it holds real text.
    int plain = fig_.text[size_t(body)] - fig_.links[size_t(body)];
    return plain >= 100 && LinkDensity(fig_, body) < 0.5 ? body : -1;
  }
  // An article cut into parts (one wrapper per paragraph group) shows as
  // several good candidates under one ancestor: that ancestor is the article.
  std::vector<int> alternatives;
  for (int e = body; e < n; ++e) {
    if (e == best || !scored[size_t(e)] || score_[size_t(e)] < best_score * 0.5) continue;
    alternatives.push_back(e);
  }
  std::sort(alternatives.begin(), alternatives.end(),
            [&](int a, int b) { return score_[size_t(a)] > score_[size_t(b)]; });
  if (alternatives.size() > 5) alternatives.resize(5);
  auto within = [&](int inner, int outer) {
    for (int a = inner; a >= 0; a = page_.Parent(a))
      if (a == outer) return true;
    return false;
  };
  int level = 0;
  for (int a = page_.Parent(best); a >= 0 && a != body && level < 6; a = page_.Parent(a), ++level) {
    int inside = 0;
    for (int alt : alternatives)
      if (alt != a && within(alt, a) && !within(best, alt) && !within(alt, best)) ++inside;
    if (inside >= 2 || (inside >= 1 && level < 2)) {
      best = a;
      break;
    }
  }
  return best;
}

// Elements inside the main block that are page furniture rather than text.
bool Extractor::Drop(int e, int main) const { return DropByLook(e, main) || IntroducesNoText(e, main); }

bool Extractor::DropByLook(int e, int main) const {
  if (e == main) return false;
  if (fig_.invisible[size_t(e)]) return true;
  std::string_view tag = page_.TagName(e);
  if (TagIn(tag, {"NAV", "ASIDE", "FOOTER", "FORM", "HEADER", "H1"})) return true;
  std::string h = Hints(page_, e);
  if (strict_ && h.size() > 1 && IsFurnitureHint(h) &&
      !AnyOf(h, {"article", "content", "body", "entry", "story"}) && !IsLeadElement(h) && !MuchPlainText(e, h))
    return true;
  int text = fig_.text[size_t(e)];
  double ld = LinkDensity(fig_, e);
  if (TagIn(tag, {"DIV", "SECTION", "UL", "OL", "TABLE", "DL", "FIGURE", "CENTER"})) {
    int weight = ClassWeight(h);
    int images = fig_.images[size_t(e)];
    if (text < kMinParagraphChars && images == 0) return true;
    // A container of blocks whose links lie in some of them (a table of
    // contents beside a column of text) is judged block by block.
    auto holds_text = [&] {
      if (tag != "DIV" && tag != "SECTION") return false;
      for (int c : page_.Children(e))
        if (fig_.text[size_t(c)] >= 200 && LinkDensity(fig_, c) < 0.2 && IsBlockTag(page_.TagName(c))) return true;
      return false;
    };
    if (weight < 25 && ld > 0.33 && !holds_text()) return true;
    if (ld > 0.5 && !holds_text()) return true;
    if (images > 2 && text < 50 * images && tag != "FIGURE") return true;
  }
  if (TagIn(tag, {"P", "LI", "DD", "SPAN", "STRONG", "B", "EM", "BLOCKQUOTE"}) && text > 0 && ld > 0.6) return true;
  return false;
}

bool Extractor::IsIntroLine(int e) const {
  int text = fig_.text[size_t(e)];
  if (text == 0 || text > 60 || HasBlockChild(page_, e)) return false;
  std::string line = ParagraphText(page_, e);
  return !line.empty() && (line.back() == ':' || line.back() == '?');
}

// "Read also:", "More topics:" and the like: a short line ending in a colon
// or a question, after which the text holds nothing but links. Text that
// follows makes it a heading of the text and it stays.
bool Extractor::IntroducesNoText(int e, int main) const {
  std::string_view tag = page_.TagName(e);
  if (!TagIn(tag, {"P", "H2", "H3", "H4", "H5", "H6", "DIV", "STRONG", "B"})) return false;
  if (!IsIntroLine(e)) return false;
  // What follows, up to the end of the part; a line with very much after it
  // is left in place rather than read at length.
  int looked = 0;
  for (int a = e; a != main && a >= 0; a = page_.Parent(a)) {
    int parent = page_.Parent(a);
    if (parent < 0) return false;
    bool after = false;
    for (int c : page_.Children(parent)) {
      if (c == a) {
        after = true;
        continue;
      }
      if (!after || fig_.invisible[size_t(c)] || fig_.text[size_t(c)] == 0) continue;
      if (++looked > 64) return false;
      if (LinkDensity(fig_, c) <= 0.5 && !DropByLook(c, main) && !IsIntroLine(c)) return false;
    }
  }
  return true;
}

void Extractor::EmitText(std::string_view text) {
  if (state_.body.size() >= kFullBody) return;
  std::string whole;
  for (size_t i = 0; i < text.size(); ++i) {
    bool nbsp = IsNbspAt(text, i);
    if (IsAsciiSpace(text[i]) || nbsp) {
      if (nbsp) ++i;
      pending_space_ = true;
      continue;
    }
    size_t j = i;
    while (j < text.size() && !IsAsciiSpace(text[j]) && !IsNbspAt(text, j)) ++j;
    std::string_view word = text.substr(i, j - i);
    i = j - 1;
    if (word.find("\xC2\xAD") != std::string_view::npos) {
      // Soft hyphens only tell a browser where it may break a word; kept,
      // they would hide the word from a search of the stored text.
      whole.clear();
      for (size_t k = 0; k < word.size(); ++k) {
        if (word.compare(k, 2, "\xC2\xAD") == 0) ++k;
        else whole += word[k];
      }
      if (whole.empty()) continue;
      word = whole;
    }
    if (pending_break_) {
      if (!at_start_) AddParagraph(state_, "1");
      pending_break_ = pending_space_ = false;
    } else if (pending_space_ && !at_start_) {
      state_.body += ' ';
    }
    pending_space_ = false;
    at_start_ = false;
    AppendEscapedBodyText(state_.body, word);
  }
}

void Extractor::EmitImage(int e) {
  std::string src = PictureSource(page_, e);
  if (src.empty()) return;
  if (pending_break_ && !at_start_) AddParagraph(state_, "1");
  pending_break_ = pending_space_ = false;
  at_start_ = false;
  AddImage(state_, src);
  // A figure's caption belongs to its picture, not to the text.
  for (int a = page_.Parent(e), up = 0; a >= 0 && up < 3; a = page_.Parent(a), ++up) {
    if (page_.TagName(a) != "FIGURE") continue;
    for (int c : page_.Children(a))
      if (page_.TagName(c) == "FIGCAPTION") {
        std::string caption = CleanText(page_.InnerText(c));
        if (!caption.empty()) AddCaption(state_, caption);
      }
    break;
  }
  Break();
}

void Extractor::Emit(int e, int main, int depth) {
  if (Drop(e, main)) return;
  std::string_view tag = page_.TagName(e);
  if (tag == "IMG") {
    EmitImage(e);
    return;
  }
  if (tag == "BR") {
    if (!at_start_) {
      state_.body += '\n';
      pending_space_ = false;
    }
    return;
  }
  if (tag == "FIGCAPTION") return;
  if (depth > kMaxDepth) {
    EmitText(page_.InnerText(e));
    return;
  }
  bool block = IsBlockTag(tag);
  if (block) Break();
  std::vector<HtmlDocument::ChildNode> kids;
  page_.ChildNodes(e, kids);
  for (const auto& k : kids) {
    if (k.element < 0) EmitText(k.text);
    else Emit(k.element, main, depth + 1);
  }
  if (block) Break();
  else if (tag == "TD" || tag == "TH") pending_space_ = true;
}

bool Extractor::Within(int inner, int outer) const {
  for (int a = inner; a >= 0; a = page_.Parent(a))
    if (a == outer) return true;
  return false;
}

// A second-level heading right below the headline that reads as a sentence:
// the standfirst of sites that mark it up as a heading.
bool Extractor::IsDek(int e) const {
  // A paragraph there is often the byline: it must be longer, a sentence.
  const bool paragraph = page_.TagName(e) == "P";
  if ((page_.TagName(e) != "H2" && !paragraph) || fig_.text[size_t(e)] < (paragraph ? 80 : 50)) return false;
  int parent = page_.Parent(e);
  if (parent < 0) return false;
  int before = -1;
  for (int c : page_.Children(parent)) {
    if (c == e) break;
    if (!page_.IsComment(c)) before = c;
  }
  if (before < 0 || page_.TagName(before) != "H1") return false;
  std::string text = ParagraphText(page_, e);
  return !text.empty() && (text.back() == '.' || text.back() == '!' || text.back() == '?' ||
                           (!paragraph && Contains(text, ", ")));
}

// The standfirst of the article when it lies before the chosen text, outside
// it: an element named as a lead, with little text between it and the text
// (a headline, a byline, a date), and no furniture around it other than the
// header that articles keep their headline and lead in.
std::vector<int> Extractor::Leads(int main, const std::vector<int>& parts) const {
  constexpr int kMaxGap = 300;  // visible characters between lead and text
  const int body = page_.Body();
  // Where the text begins: the first of its parts.
  const int start = parts.empty() ? main : *std::min_element(parts.begin(), parts.end());
  std::vector<int> candidates;
  for (int e = start - 1, tries = 0; e > body && tries < kMaxCandidates; --e) {
    std::string_view tag = page_.TagName(e);
    if (!TagIn(tag, {"P", "DIV", "SECTION", "H2", "H3", "H4", "SPAN", "STRONG", "B", "EM"})) continue;
    int text = fig_.text[size_t(e)];
    if (text < 30 || text > 1500 || LinkDensity(fig_, e) >= 0.2 || fig_.invisible[size_t(e)]) continue;
    std::string h = Hints(page_, e);
    if ((h.size() <= 1 || !IsLeadElement(h)) && !IsDek(e)) continue;
    ++tries;
    if (Within(start, e)) continue;
    bool furnished = false;
    for (int a = page_.Parent(e); a > body && !furnished; a = page_.Parent(a)) {
      if (fig_.invisible[size_t(a)]) furnished = true;
      else if (strict_ && page_.TagName(a) != "HEADER" && page_.Attribute(a, "role") != "banner" && Excluded(a))
        furnished = true;
    }
    if (!furnished) candidates.push_back(e);
  }
  if (candidates.empty()) return {};
  // Visible text outside links, per element, from the first candidate on.
  const int from = candidates.back();
  std::vector<int> own(size_t(start - from), 0);
  std::vector<HtmlDocument::ChildNode> kids;
  for (int e = from; e < start; ++e) {
    bool hidden = false, link = false;
    for (int a = e; a >= 0 && !(hidden && link); a = page_.Parent(a)) {
      if (fig_.invisible[size_t(a)]) hidden = true;
      if (page_.TagName(a) == "A") link = true;
      if (a < from) break;  // ancestors before the range: their figures say enough
    }
    if (hidden || link) continue;
    page_.ChildNodes(e, kids);
    for (const auto& k : kids)
      if (k.element < 0) own[size_t(e - from)] += int(CountChars(k.text));
  }
  auto last_descendant = [&](int e) {
    for (auto kids_of = page_.Children(e); !kids_of.empty(); kids_of = page_.Children(e)) e = kids_of.back();
    return e;
  };
  std::string text_of_main;
  std::vector<int> leads;
  int gap_end = start;  // the text, then each lead taken, going backwards
  for (int c : candidates) {
    int end = last_descendant(c);
    if (end >= gap_end) continue;  // inside a lead already taken
    int gap = 0;
    for (int e = end + 1; e < gap_end; ++e) gap += own[size_t(e - from)];
    if (gap > kMaxGap) break;
    bool taken = false;
    for (int p : parts) taken = taken || Within(c, p);
    if (taken) continue;
    // Sites that repeat their lead as the first paragraph need it once.
    std::string lead = ParagraphText(page_, c);
    if (text_of_main.empty()) text_of_main = CleanText(page_.InnerText(main));
    if (Contains(text_of_main, Utf8CutChars(lead, 60))) continue;
    leads.insert(leads.begin(), c);
    gap_end = c;
  }
  return leads;
}

void Extractor::Compose(int main) {
  // A sibling that reads as article text of its own: paragraphs, few links.
  auto article_like = [&](int s) {
    return !inside_furniture_[size_t(s)] && !fig_.invisible[size_t(s)] && fig_.paragraphs[size_t(s)] >= 3 &&
           fig_.text[size_t(s)] >= 400 && LinkDensity(fig_, s) < 0.2;
  };
  // Paragraph siblings of the main block that carry on its text.
  const int body = page_.Body();
  int parent = page_.Parent(main);
  double best = score_.empty() ? 0 : score_[size_t(main)];
  std::vector<int> parts;
  if (parent >= 0 && main != body) {
    for (int s : page_.Children(parent)) {
      if (s == main) {
        parts.push_back(s);
        continue;
      }
      if (inside_furniture_[size_t(s)] || fig_.invisible[size_t(s)]) continue;
      bool take = (score_[size_t(s)] >= std::max(10.0, best * 0.2) && LinkDensity(fig_, s) < 0.25) ||
                  article_like(s);
      // A paragraph, or a box of running text without blocks inside.
      std::string_view tag = page_.TagName(s);
      if (!take && (tag == "P" || (TagIn(tag, {"DIV", "SECTION"}) && !HasBlockChild(page_, s) &&
                                   fig_.text[size_t(s)] >= 150))) {
        int chars = fig_.text[size_t(s)];
        double ld = LinkDensity(fig_, s);
        std::string text = ParagraphText(page_, s);
        take = (chars > 80 && ld < 0.25) ||
               (chars > 0 && ld == 0 && (Contains(text, ". ") || (!text.empty() && text.back() == '.')));
      }
      if (take) parts.push_back(s);
    }
    // Wrappers that hold little besides the block count as the block: the
    // text of an article cut into boxes (an advertisement between) lies
    // beside them, in blocks of paragraphs of their own.
    int block = main;
    for (int p = parent; p > body && fig_.text[size_t(p)] <= fig_.text[size_t(block)] * 11 / 10 + 20 &&
                         !inside_furniture_[size_t(p)];
         p = page_.Parent(p))
      block = p;
    if (block != main && page_.Parent(block) >= 0) {
      // Rows of one page builder carry one class: the text's rows.
      const std::string row_class = page_.Attribute(block, "class");
      auto same_row = [&](int s) {
        return !row_class.empty() && !inside_furniture_[size_t(s)] && !fig_.invisible[size_t(s)] &&
               page_.TagName(s) == page_.TagName(block) && page_.Attribute(s, "class") == row_class &&
               fig_.text[size_t(s)] >= 80 && LinkDensity(fig_, s) < 0.2;
      };
      std::vector<int> before, after;
      for (int s : page_.Children(page_.Parent(block)))
        if (s != block && (article_like(s) || same_row(s) ||
                           (page_.TagName(s) == "P" && !inside_furniture_[size_t(s)] && fig_.text[size_t(s)] >= 300 &&
                            LinkDensity(fig_, s) < 0.2)))
          (s < block ? before : after).push_back(s);
      parts.insert(parts.begin(), before.begin(), before.end());
      parts.insert(parts.end(), after.begin(), after.end());
    }
  } else {
    parts.push_back(main);
  }
  for (int lead : Leads(main, parts)) Emit(lead, lead, 0);
  for (int p : parts) Emit(p, p, 0);
}

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

// Strips "By", "Von", "Text:" and the like from a byline.
std::string CleanByline(std::string s) {
  // Soft hyphens and zero-width spaces split a name only for the eye of the reader.
  for (const char* invisible : {"\xC2\xAD", "\xE2\x80\x8B"})
    for (size_t p; (p = s.find(invisible)) != std::string::npos;) s.erase(p, std::strlen(invisible));
  s = FirstLine(s);
  StripPunctuation(s);
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
  for (const char* cut : {" | ", " – ", " - ", " — ", " \xE2\x80\xA2", " \xC2\xB7", " am ", " on ", ", updated", " Updated", " @", " (",
                          ", dpa", ", AFP", ", Reuters", ", AP", ", KNA", ", epd"}) {
    size_t p = s.find(cut);
    if (p != std::string::npos && p > 2) s.erase(p);
  }
  for (const char* tail : {" Twitter", "Staff Writer", " Contributor"}) {
    size_t n = std::strlen(tail);
    if (s.size() > n && s.compare(s.size() - n, n, tail) == 0) s.erase(s.size() - n);
  }
  // "Name, CNN": the acronym of the publisher or agency after the name.
  if (size_t comma = s.rfind(", "); comma != std::string::npos && comma > 2) {
    std::string_view tail = std::string_view(s).substr(comma + 2);
    bool acronym = tail.size() >= 2 && tail.size() <= 6;
    for (char c : tail) acronym = acronym && c >= 'A' && c <= 'Z';
    if (acronym) s.erase(comma);
  }
  CutTrailingFields(s);
  while (!s.empty() && (s.back() == ',' || s.back() == '|' || s.back() == ':' || s.back() == ' ')) s.pop_back();
  // The byline's word alone, its name missing.
  if (TagIn(AsciiLower(s), {"by", "von", "par", "por", "door", "di", "text", "autor", "author", "redaktion"})) return {};
  return TrimCopy(s);
}

bool PlausibleName(std::string_view s) {
  if (s.empty() || Utf8Length(s) > 80) return false;
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

bool IsPlaceholderSource(std::string_view src) {
  if (src.empty()) return true;
  std::string s = AsciiLower(src);
  return StartsWith(s, "data:") || AnyOf(s, {"placeholder", "blank.gif", "spacer", "lazy", "1x1", "pixel.gif",
                                             "transparent.gif", "grey.gif", "loading"});
}

// The largest (else the last) address of a srcset value.
std::string FromSrcset(std::string_view srcset) {
  std::string best;
  int best_width = -1;
  size_t pos = 0;
  while (pos < srcset.size()) {
    size_t comma = srcset.find(", ", pos);
    std::string_view item = srcset.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
    pos = comma == std::string_view::npos ? srcset.size() : comma + 2;
    item = TrimView(item);
    size_t sp = item.find(' ');
    std::string_view url = item.substr(0, sp);
    int width = sp == std::string_view::npos ? 0 : LeadingInt(TrimView(item.substr(sp)));
    if (url.empty()) continue;
    if (width >= best_width) {
      best_width = width;
      best = std::string(url);
    }
  }
  return best;
}

}  // namespace

bool ParseIsoDate(std::string_view text, DateTime& out) {
  text = TrimView(text);
  auto num = [&](size_t at, size_t len, int& v) {
    if (at + len > text.size()) return false;
    v = 0;
    for (size_t i = at; i < at + len; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      v = v * 10 + (text[i] - '0');
    }
    return true;
  };
  int y, mo, d, h = 0, mi = 0, s = 0;
  if (!num(0, 4, y) || text.size() < 10 || text[4] != '-' || !num(5, 2, mo) || text[7] != '-' || !num(8, 2, d))
    return false;
  if (text.size() >= 16 && (text[10] == 'T' || text[10] == ' ') && num(11, 2, h) && text[13] == ':' &&
      num(14, 2, mi)) {
    if (text.size() >= 19 && text[16] == ':') num(17, 2, s);
  } else {
    h = mi = s = 0;
  }
  DateTime dt = DateTime::Make(y, mo, d, h, mi, s);
  if (!dt.valid()) return false;
  out = dt;
  return true;
}

std::string PictureSource(const HtmlDocument& page, int img) {
  std::string src = page.Attribute(img, "src");
  size_t slash = src.rfind('/');
  std::string_view file = slash == std::string::npos ? std::string_view(src) : std::string_view(src).substr(slash);
  if (src.empty() || StartsWith(AsciiLower(src), "data:") || IsPlaceholderSource(file)) {
    std::string lazy;
    for (const char* a : {"data-src", "data-lazy-src", "data-original", "data-url", "data-lazy", "data-hi-res-src"}) {
      lazy = TrimCopy(page.Attribute(img, a));
      if (!lazy.empty()) break;
    }
    if (lazy.empty()) lazy = FromSrcset(page.Attribute(img, "data-srcset"));
    if (lazy.empty()) lazy = FromSrcset(page.Attribute(img, "srcset"));
    if (lazy.empty()) return {};
    src = ResolveUrl(page.BaseUrl(), lazy);
  }
  if (src.empty() || StartsWith(AsciiLower(src), "data:")) return {};
  // Tracking pixels and icons are no pictures of the news.
  for (const char* dim : {"width", "height"}) {
    std::string v = page.Attribute(img, dim);
    if (!v.empty() && v.find('%') == std::string::npos && LeadingInt(v) > 0 && LeadingInt(v) < 50) return {};
  }
  return src;
}

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

int WordCount(std::string_view s) {
  int words = 0;
  bool in_word = false;
  for (char c : s) {
    if (c == ' ') in_word = false;
    else if (!in_word) in_word = true, ++words;
  }
  return words;
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
std::string CutSiteName(const std::string& base, const SiteNames& site) {
  for (const char* sep : {" | ", " – ", " — ", " - ", " :: ", " » ", " · ", " / "}) {
    size_t p = base.rfind(sep);
    if (p == std::string::npos || p == 0) continue;
    std::string head = base.substr(0, p), tail = base.substr(p + std::strlen(sep));
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

// Whether the element holds more visible text than max characters; never,
// without figures.
bool Longer(const PageFigures* fig, int e, int max) { return fig && fig->text[size_t(e)] > max; }

// A heading of the page, and its text without a kicker (the short line above
// a headline that many sites put inside the same heading).
struct Heading {
  int level = 0;
  std::string text;
  std::string rest;           // empty when the heading has no kicker
  std::string folded_text, folded_rest;  // as FoldTitle gives them
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

Heading ReadHeading(const HtmlDocument& page, int e, int level) {
  Heading h;
  h.level = level;
  h.text = CleanText(page.InnerText(e));
  std::span<const int> kids = page.Children(e);
  if (kids.empty()) return h;
  std::vector<HtmlDocument::ChildNode> nodes;
  page.ChildNodes(e, nodes);
  for (const auto& n : nodes) {
    if (n.element < 0) {
      if (!TrimView(n.text).empty()) return h;  // the heading opens with text: no kicker
      continue;
    }
    if (page.IsComment(n.element)) continue;
    if (!TagIn(page.TagName(n.element), {"SPAN", "SMALL", "STRONG", "B", "EM", "I", "DIV", "P", "MARK"})) return h;
    std::string kicker = CleanText(page.InnerText(n.element));
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
  for (bool cut_kicker : {false, true}) {
    auto says_in = [&](const Heading& h, const std::string& w, const std::string& written, bool or_more) {
      return cut_kicker ? says(h.rest, h.folded_rest, w, written, or_more)
                        : says(h.text, h.folded_text, w, written, or_more);
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

std::string TitleOf(const HtmlDocument& page, const PageFigures* fig) {
  const TitleTexts t = ReadTitleTexts(page, fig);
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
  std::string base = !og.empty() ? og : title;
  std::string cut = CutSiteName(base, site);
  if (!cut.empty()) return cut;
  if (!base.empty()) return base;
  return top.empty() ? std::string() : top[0]->text;
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
  size_t pos = 0;
  while (pos < hints.size()) {
    size_t end = hints.find(' ', pos);
    if (end == std::string_view::npos) end = hints.size();
    std::string_view token = hints.substr(pos, end - pos);
    pos = end + 1;
    if (token.empty() || StartsWith(token, "has-") || StartsWith(token, "no-") || StartsWith(token, "is-") ||
        StartsWith(token, "with-"))
      continue;
    for (std::string_view word : {"teaser", "related", "recommend", "popular", "most-read", "sidebar"}) {
      size_t at = token.find(word);
      if (at == 0 || (at != std::string_view::npos && (token[at - 1] == '-' || token[at - 1] == '_')))
        return true;
    }
  }
  return false;
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
    "Autore: ",     "Auteur: "};

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

// Where a byline begins in a line of text: at its start, after a separator
// ("- Redaktion: Name"), or after the date ("06.11.2023 13:30 von Name");
// empty when the line is no byline.
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
  if (line.empty() || line[0] < '0' || line[0] > '9') return {};
  for (std::string_view w : {" von ", " by ", " Von ", " By "}) {
    size_t at = line.find(w);
    if (at != std::string_view::npos && starts_byline(line.substr(at + 1))) return line.substr(at + 1);
  }
  return {};
}

// Whether e stands in a comment, whose "by" lines name the commenters.
bool InComment(const HtmlDocument& page, int e) {
  for (int up = 0; e >= 0 && up < 16; ++up, e = page.Parent(e)) {
    if (page.TagName(e) == "BODY") return false;
    if (AnyOf(Hints(page, e), {"comment", "kommentar", "respond", "reply"})) return true;
  }
  return false;
}

// The page's first visible first-level heading, -1 when there is none.
int FirstHeadline(const HtmlDocument& page, const PageFigures* fig) {
  for (int e = 0; e < page.ElementCount(); ++e)
    if (page.TagName(e) == "H1" && !(fig && fig->invisible[size_t(e)])) return e;
  return -1;
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
    if (first == kids.size() || kids[first].element >= 0) continue;
    // Most texts are ruled out by their first letter, before any copying.
    std::string_view own = TrimView(kids[first].text);
    if (own.empty() || !std::strchr("BbVvTAaPWGEDRQpd-|/\xC2\xE2" "0123456789", own[0])) continue;
    if (BylineStart(CleanText(own)).empty()) continue;
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
    std::string name = CleanByline(page.InnerText(FormattedName(page, e)));
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
      DateTime t = DateTime::Make(1899, 12, 30);
      std::string text = page.InnerText(e);
      if (ParseDate(text, "D0*M0*Y1", {}, t) && t.valid()) return t;
    }
  }
  return DateTime{};
}

std::string AutoTitle(const HtmlDocument& page) { return TitleOf(page, nullptr); }
std::string AutoAuthor(const HtmlDocument& page) {
  const PageFigures fig = Measure(page);
  return AuthorOf(page, fig, -1);
}
DateTime AutoDate(const HtmlDocument& page) { return DateOf(page, nullptr); }

// Characters of a composed body that a reader sees as text.
size_t VisibleBodyChars(std::string_view body) {
  size_t n = 0;
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '[' && body.compare(i, 3, "[[{") == 0) {
      size_t end = body.find("}]]", i);
      if (end != std::string::npos) i = end + 2;
      continue;
    }
    if (body[i] == '<') {
      size_t end = body.find('>', i);
      if (end != std::string::npos) i = end;
      continue;
    }
    if (body[i] == '&' && body.compare(i, 6, "&#160;") == 0) {
      i += 5;
      continue;
    }
    if (!IsAsciiSpace(body[i]) && (static_cast<unsigned char>(body[i]) & 0xC0) != 0x80) ++n;
  }
  return n;
}

AutoExtractResult AutoExtract(const HtmlDocument& page, ExtractionState& state) {
  AutoExtractResult result;
  if (page.Body() < 0) return result;
  const PageFigures fig = Measure(page);
  // First with the furniture hints; when they leave too little (a wrapper
  // named like furniture), once more without them, keeping the longer text.
  ExtractionState strict = state, relaxed = state;
  Extractor first(page, strict, fig, true);
  int main = first.ChooseMainBlock();
  if (main >= 0) first.Compose(main);
  size_t chars = VisibleBodyChars(strict.body);
  if (chars < 250) {
    Extractor second(page, relaxed, fig, false);
    int other = second.ChooseMainBlock();
    if (other >= 0) second.Compose(other);
    if (VisibleBodyChars(relaxed.body) > chars * 2) {
      strict = std::move(relaxed);
      main = other;
      chars = VisibleBodyChars(strict.body);
    }
  }
  result.main_block = main;
  if (chars == 0) return result;  // pictures alone are no news text
  state = std::move(strict);
  result.found = true;
  state.title = TitleOf(page, &fig);
  state.author = AuthorOf(page, fig, main);
  result.date = DateOf(page, &fig);
  return result;
}

}  // namespace orvo
