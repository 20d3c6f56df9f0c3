// Automatic extraction's main text: the block chosen by text and link
// density, paragraph structure and class/id hints, and its composition into
// a body with the standfirst and the parts beside it.
#include "gatherer/autoextract/main_block.h"

#include <algorithm>
#include <span>
#include <utility>

#include "gatherer/autoextract/page_figures.h"
#include "gatherer/masks/picture_source.h"
#include "gatherer/masks/text_util.h"

namespace orvo::autoextract {

namespace {

// Deeper than this the composition stops descending; no article nests so.
constexpr int kMaxDepth = 400;
// Shortest text a paragraph needs to count towards its block's score.
constexpr int kMinParagraphChars = 25;
// Text loose in a box among blocks needs more to count: labels and dates
// stand so too.
constexpr int kLooseTextChars = 100;
// The composed body stops growing here; the store cuts it shorter anyway.
constexpr size_t kFullBody = 4 * (kMaxBodyChars + 1);

// The opening words of what sites put around a text to ask something of its
// reader: money, an address for a newsletter, a login, consent to cookies,
// a share of a post they liked.
bool IsAppeal(std::string_view line) {
  const std::string lower = Utf8Lower(line.substr(0, 80));
  for (std::string_view words :
       {"if you enjoyed", "if you liked", "did you enjoy", "enjoyed this post", "enjoyed this article",
        "please log in", "please sign in", "you must be logged in", "log in to ", "sign in to ", "login to ",
        "bitte melden sie sich an", "sign up for our newsletter", "subscribe to our newsletter",
        "get our newsletter", "newsletter abonnieren", "abonnieren sie unseren newsletter", "we use cookies",
        "this website uses cookies", "this site uses cookies", "our site uses cookies", "wir verwenden cookies",
        "wir nutzen cookies", "diese website verwendet cookies", "diese webseite verwendet cookies",
        "support independent journalism", "support our journalism", "please donate", "donate now", "donate today",
        "jetzt spenden", "unterst\xC3\xBCtzen sie unsere arbeit", "unterst\xC3\xBCtzen sie unseren journalismus",
        "become a patron", "become a member",
        // A paywall's and an app's prompts.
        "to view the full story", "to read the full story", "to read the full article", "to continue reading",
        "subscribe now", "subscribe to continue", "subscribe to read", "first-time subscribers", "already a subscriber",
        "if you're already a subscriber", "if you\xE2\x80\x99re already a subscriber", "jetzt abonnieren",
        "weiterlesen mit", "for the latest stories", "for the latest news", "download our app", "download the app",
        "get our app", "suscr\xC3\xAD" "bete", "\xC2\xA1mira lo que tiene nuestro canal", "\xC3\xBA" "nete a nuestro canal",
        // Disclosures of advertising.
        "*werbung", "*anzeige", "dieser beitrag enth\xC3\xA4lt werbung", "dieser artikel enth\xC3\xA4lt werbung",
        "this post contains affiliate", "this post may contain affiliate", "this article contains affiliate",
        // The consent an embedded post or video waits for.
        "um deine pers\xC3\xB6nlichen daten zu sch\xC3\xBCtzen", "um ihre pers\xC3\xB6nlichen daten zu sch\xC3\xBCtzen",
        "to protect your personal data", "to protect your privacy", "ich bin einverstanden, dass",
        "mit dem laden des inhalts akzeptieren", "wir ben\xC3\xB6tigen ihre zustimmung", "we need your consent",
        "an dieser stelle findest du einen externen inhalt", "an dieser stelle finden sie einen externen inhalt"})
    if (StartsWith(lower, words)) return true;
  return false;
}

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
  void MarkAuthorBoxes();
  bool Within(int inner, int outer) const;
  bool IntroducesNoText(int e, int main) const;
  bool IsIntroLine(int e) const;  // short, ending in a colon or a question
  bool IsPictureCredit(int e) const;
  bool MuchPlainText(int e, std::string_view hints) const;
  bool HoldsMostOfThePage(int e) const;
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
  std::vector<unsigned char> author_box_;  // an "About the author" heading and what it heads
  bool pending_break_ = false;
  bool pending_space_ = false;
  bool at_start_ = true;
};

// Pages of running text with few links, and wrappers of most of the page,
// are no furniture, whatever their names say: names are made of layouts
// ("two-col-sidebar"), of headings ("sharing-with-a-team") or of the widgets
// the text came with. Comments and lists of other articles are the
// exception: they are long texts too.
bool Extractor::MuchPlainText(int e, std::string_view hints) const {
  if (NamesOtherArticles(hints) ||
      AnyOf(hints, {"comment", "kommentar", "respond", "disqus", "discussion", "reply", "replies", "forum"}))
    return false;
  if (fig_.text[size_t(e)] >= 1000 && LinkDensity(fig_, e) < 0.15) return true;
  return HoldsMostOfThePage(e);
}

// A wrapper holding most of the page's text outside links is the page
// ("mmenu-pagewrapper", "layout-right-sidebar", a form around everything),
// whatever its name or tag says.
bool Extractor::HoldsMostOfThePage(int e) const {
  const int body = page_.Body();
  const int plain = fig_.text[size_t(e)] - fig_.links[size_t(e)];
  return plain >= 500 && plain * 2 > fig_.text[size_t(body)] - fig_.links[size_t(body)];
}

bool Extractor::Excluded(int e) const {
  if (!strict_) return false;
  std::string_view tag = page_.TagName(e);
  if (TagIn(tag, {"NAV", "ASIDE", "FOOTER", "FORM", "HEADER"})) return !HoldsMostOfThePage(e);
  std::string role = page_.Attribute(e, "role");
  if (role == "navigation" || role == "complementary" || role == "contentinfo" || role == "banner")
    return !HoldsMostOfThePage(e);
  if (tag == "BODY" || tag == "HTML" || tag == "MAIN" || tag == "ARTICLE") return false;
  std::string h = Hints(page_, e);
  if (h.size() <= 1) return false;
  return IsFurnitureHint(h) &&
         (!AnyOf(h, {"article", "content", "main", "body", "entry", "story"}) || NamesOtherArticles(h)) &&
         !IsLeadElement(h) && !MuchPlainText(e, h);
}

// Headings of the box about the writer that sites put under an article: the
// box's paragraphs are a biography, and they can outweigh a short text.
bool IsAuthorBoxHeading(std::string_view text) {
  std::string t = Utf8Lower(CleanText(text));
  while (!t.empty() && (t.back() == ':' || t.back() == ' ')) t.pop_back();
  return TagIn(t, {"autor", "autorin", "autoren", "autorinnen", "autor:innen", "autor*innen", "autor_innen",
                   "\xC3\xBC" "ber den autor", "\xC3\xBC" "ber die autorin", "\xC3\xBC" "ber die autoren",
                   "zum autor", "zur autorin", "zur person", "author", "authors", "the author", "about the author",
                   "about the authors", "about the writer", "about author", "l'auteur", "l\xE2\x80\x99" "auteur",
                   "\xC3\xA0 propos de l'auteur", "\xC3\xA0 propos de l\xE2\x80\x99" "auteur", "sobre el autor",
                   "sobre la autora", "sobre o autor", "over de auteur", "o autorze", "l'autore", "sull'autore"});
}

// Marks each author box heading and the siblings after it, up to the next
// heading of its rank or higher; a label in a paragraph of its own ("About
// the author") heads a box too. A heading alone in its wrapper stands for
// the wrapper. More text than a biography holds is left alone: a heading
// "Author" may open a whole text.
void Extractor::MarkAuthorBoxes() {
  constexpr int kMaxBiography = 800;  // visible characters, about 150 words
  const int n = page_.ElementCount();
  author_box_.assign(size_t(n), 0);
  std::vector<int> box;
  for (int e = page_.Body(), tries = 0; e >= 0 && e < n && tries < kMaxCandidates; ++e) {
    std::string_view tag = page_.TagName(e);
    const bool heading = TagIn(tag, {"H2", "H3", "H4", "H5", "H6"});
    if (!heading && !TagIn(tag, {"P", "DIV", "SPAN", "STRONG", "B"})) continue;
    // The labels run from "autor" to "à propos de l'auteur".
    const int chars = fig_.text[size_t(e)];
    if (chars < (heading ? 5 : 8) || chars > 40 || fig_.invisible[size_t(e)]) continue;
    if (!heading && HasBlockChild(page_, e)) continue;
    const std::string label = page_.InnerText(e);
    if (!IsAuthorBoxHeading(label) || (!heading && WordCount(CleanText(label)) < 2)) continue;
    ++tries;
    const int level = heading ? tag[1] - '0' : 7;
    int head = e;
    for (int p = page_.Parent(head); p > page_.Body() && fig_.text[size_t(p)] == fig_.text[size_t(head)];
         p = page_.Parent(p))
      head = p;
    const int parent = page_.Parent(head);
    if (parent < 0) continue;
    box.assign(1, head);
    int text = 0;
    bool after = false;
    for (int c : page_.Children(parent)) {
      if (c == head) {
        after = true;
        continue;
      }
      if (!after) continue;
      std::string_view t = page_.TagName(c);
      if (t.size() == 2 && t[0] == 'H' && t[1] >= '1' && t[1] - '0' <= level) break;
      box.push_back(c);
      text += fig_.text[size_t(c)];
    }
    if (text > kMaxBiography) continue;
    for (int c : box) author_box_[size_t(c)] = 1;
  }
}

int Extractor::ChooseMainBlock() {
  const int n = page_.ElementCount();
  const int body = page_.Body();
  if (body < 0) return -1;
  MarkAuthorBoxes();
  score_.assign(size_t(n), 0.0);
  // Furniture marks its whole subtree, so paragraphs of comments and
  // "related" boxes score nothing.
  inside_furniture_.assign(size_t(n), 0);
  std::vector<unsigned char> scored(size_t(n), 0);
  for (int e = 0; e < n; ++e) {
    int p = page_.Parent(e);
    if (p >= 0 && (inside_furniture_[size_t(p)] || fig_.invisible[size_t(p)]))
      inside_furniture_[size_t(e)] = 1;
    else if (author_box_[size_t(e)] || Excluded(e))
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
    const bool boxes = TagIn(tag, {"DIV", "SECTION", "ARTICLE", "SPAN", "MAIN"});
    const bool blocks = boxes && HasBlockChild(page_, e);
    if (blocks && fig_.text[size_t(e)] >= kMinParagraphChars) {
      // Text written straight into a box among its blocks ("text<br><br>text
      // <div class=ad>...</div>") is paragraphs without their tags: it
      // scores for the box itself.
      int chars = fig_.text[size_t(e)], links = fig_.links[size_t(e)], commas = fig_.commas[size_t(e)];
      for (int c : page_.Children(e)) {
        if (!IsBlockTag(page_.TagName(c))) continue;
        chars -= fig_.text[size_t(c)];
        links -= fig_.links[size_t(c)];
        commas -= fig_.commas[size_t(c)];
      }
      if (chars >= kLooseTextChars) {
        double s = 1.0 + double(commas) + std::min(chars / 100, 3);
        s *= 1.0 - std::min(1.0, double(links) / chars);
        int level = 0;
        for (int a = e; a >= 0 && level < 5; a = page_.Parent(a), ++level) {
          if (page_.TagName(a) == "HTML") break;
          init(a);
          double divider = level == 0 ? 1 : level == 1 ? 2 : level * 3;
          score_[size_t(a)] += s / divider;
        }
      }
    }
    bool paragraph = TagIn(tag, {"P", "PRE", "TD", "BLOCKQUOTE"}) ||
                     (boxes && !blocks && fig_.text[size_t(e)] >= kMinParagraphChars);
    if (!paragraph) continue;
    int chars = fig_.text[size_t(e)];
    if (chars < kMinParagraphChars) continue;
    if (tag == "TD" && HasBlockChild(page_, e)) continue;  // a layout cell, scored by its paragraphs
    // An appeal or a consent notice is written in sentences too; the boxes
    // they come in are read, not every paragraph of the page.
    if (boxes && chars <= 600 && IsAppeal(ParagraphText(page_, e))) continue;
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
  if (fig_.invisible[size_t(e)] || author_box_[size_t(e)]) return true;
  std::string_view tag = page_.TagName(e);
  if (tag == "H1") return true;
  if (TagIn(tag, {"NAV", "ASIDE", "FOOTER", "FORM", "HEADER"})) return !HoldsMostOfThePage(e);
  std::string h = Hints(page_, e);
  if (strict_ && h.size() > 1 && IsFurnitureHint(h) &&
      (!AnyOf(h, {"article", "content", "body", "entry", "story"}) || NamesOtherArticles(h)) && !IsLeadElement(h) &&
      !MuchPlainText(e, h))
    return true;
  int text = fig_.text[size_t(e)];
  if (text > 0 && text <= 250 && IsPictureCredit(e)) return true;
  if (text > 0 && text <= 600 && TagIn(tag, {"P", "DIV", "SECTION", "BLOCKQUOTE", "STRONG", "B", "EM", "SPAN"}) &&
      IsAppeal(ParagraphText(page_, e)))
    return true;
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

// A short block right after a picture that holds a copyright sign: the
// picture's caption and credit, whatever the markup calls it.
bool Extractor::IsPictureCredit(int e) const {
  if (!TagIn(page_.TagName(e), {"DIV", "P", "SPAN", "SMALL", "EM"})) return false;
  const int parent = page_.Parent(e);
  if (parent < 0 || !TrimView(page_.AdjacentText(e, AdjacentPosition::kBeforeBegin)).empty()) return false;
  // The element before it, found by its id: children come in id order.
  std::span<const int> kids = page_.Children(parent);
  auto at = std::lower_bound(kids.begin(), kids.end(), e);
  int before = -1;
  for (auto k = at; k != kids.begin();) {
    --k;
    if (page_.IsComment(*k) || fig_.invisible[size_t(*k)]) continue;
    before = *k;
    break;
  }
  if (before < 0 || fig_.images[size_t(before)] == 0 || fig_.text[size_t(before)] > 0) return false;
  std::string text = page_.InnerText(e);
  return Contains(text, "\xC2\xA9") || Contains(text, "(c)") || Contains(text, "(C)");
}

bool Extractor::IsIntroLine(int e) const {
  int text = fig_.text[size_t(e)];
  if (text == 0 || text > 60 || HasBlockChild(page_, e)) return false;
  std::string line = ParagraphText(page_, e);
  return !line.empty() && (line.back() == ':' || line.back() == '?');
}

// Lines that send the reader to other articles, whatever follows them.
bool PointsElsewhere(std::string_view line) {
  std::string lower = AsciiLower(line);
  for (const char* words : {"lesen sie auch", "lesen sie mehr", "mehr zum thema", "zum weiterlesen", "weiterlesen:",
                            "auch interessant", "das k\xC3\xB6nnte sie auch interessieren", "read also", "also read",
                            "read more", "see also", "you may also like", "lire aussi", "\xC3\xA0 lire aussi",
                            "\xC3\x80 lire aussi", "voir aussi", "lee tambi\xC3\xA9n", "leer tambi\xC3\xA9n",
                            "leggi anche", "lees ook", "czytaj te\xC5\xBC", "czytaj tak\xC5\xBC" "e",
                            "zobacz te\xC5\xBC", "zobacz tak\xC5\xBC" "e", "l\xC3\xA4s ocks\xC3\xA5",
                            "les ogs\xC3\xA5", "l\xC3\xA6s ogs\xC3\xA5"})
    if (StartsWith(lower, words)) return true;
  return false;
}

// "Read also:", "More topics:" and the like: a short line ending in a colon
// or a question, after which the text holds nothing but links. Text that
// follows makes it a heading of the text and it stays, unless the line's
// words send the reader away (what follows is then a teaser or a note).
bool Extractor::IntroducesNoText(int e, int main) const {
  std::string_view tag = page_.TagName(e);
  if (!TagIn(tag, {"P", "H2", "H3", "H4", "H5", "H6", "DIV", "STRONG", "B"})) return false;
  if (!IsIntroLine(e)) return false;
  if (PointsElsewhere(ParagraphText(page_, e))) return true;
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

bool Extractor::Within(int inner, int outer) const { return IsWithin(page_, inner, outer); }

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
    // The builder's rows may lie further up, past wrappers that hold more
    // than the text (an accordion, a picture's zoom box repeating its
    // caption): rows of an ancestor's own class beside it, level by level.
    const auto row_of = [&](int a, int s) {
      const std::string cls = page_.Attribute(a, "class");
      return !cls.empty() && s != a && !inside_furniture_[size_t(s)] && !fig_.invisible[size_t(s)] &&
             page_.TagName(s) == page_.TagName(a) && page_.Attribute(s, "class") == cls &&
             fig_.text[size_t(s)] >= 80 && LinkDensity(fig_, s) < 0.2;
    };
    for (int a = page_.Parent(block), up = 0; a > body && page_.Parent(a) >= 0 && up < 6 && !inside_furniture_[size_t(a)];
         a = page_.Parent(a), ++up) {
      std::vector<int> before, after;
      for (int s : page_.Children(page_.Parent(a)))
        if (row_of(a, s)) (s < a ? before : after).push_back(s);
      parts.insert(parts.begin(), before.begin(), before.end());
      parts.insert(parts.end(), after.begin(), after.end());
    }
  } else {
    parts.push_back(main);
  }
  for (int lead : Leads(main, parts)) Emit(lead, lead, 0);
  for (int p : parts) Emit(p, p, 0);
}


}  // namespace

int ComposeMainText(const HtmlDocument& page, const PageFigures& fig, bool strict, ExtractionState& state) {
  Extractor extractor(page, state, fig, strict);
  const int main = extractor.ChooseMainBlock();
  if (main >= 0) extractor.Compose(main);
  return main;
}

}  // namespace orvo::autoextract
