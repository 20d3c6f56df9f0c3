#include "gatherer/masks/extraction.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "gatherer/masks/text_util.h"
#include "text.h"

namespace orvo {

const char* const kExcludedLinkExtensions[8] = {"asf", "avi", "mpg", "mpeg",
                                                 "mp3", "wmf", "wmv", "wav"};
const char kParagraphBreak1[] = "<br />&#160;&#160;&#160;&#160;";
const char kParagraphBreak2[] = "<br clear=\"left\" />&#160;&#160;&#160;&#160;";

namespace {

// A mask deeper than this is not a description of any real page; the walk
// stops descending there rather than exhaust the stack.
constexpr int kMaxWalkDepth = 1000;

// Each character takes at most 4 bytes and finishing only makes the text
// longer, so a raw body this long already holds every character the stored
// body can keep: more text could not change what is stored.
constexpr size_t kFullBodyBytes = 4 * (kMaxBodyChars + 1);
constexpr size_t kFullFieldBytes = 4 * (kMaxFieldChars + 1);

bool Full(const std::string& text, size_t bytes) { return text.size() >= bytes; }

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// The body is HTML: page text goes in escaped, so that "a < b" or an
// escaped "&lt;script&gt;" on the page stays text in the reader.
void AppendBodyText(std::string& body, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '&':
        body += "&amp;";
        break;
      case '<':
        body += "&lt;";
        break;
      case '>':
        body += "&gt;";
        break;
      default:
        body += c;
    }
  }
}

// Length of a cut of body to at most max_chars characters that does not end
// inside a tag, an entity or an image placeholder.
std::string CutBody(const std::string& body, size_t max_chars) {
  std::string cut = Utf8CutChars(body, max_chars);
  if (cut.size() == body.size()) return cut;
  size_t lt = cut.rfind('<'), amp = cut.rfind('&'), ph = cut.rfind("[[{");
  size_t from = std::string::npos;
  if (lt != std::string::npos && cut.find('>', lt) == std::string::npos) from = lt;
  if (amp != std::string::npos && cut.size() - amp <= 8 &&
      cut.find(';', amp) == std::string::npos)
    from = std::min(from, amp);
  if (ph != std::string::npos && cut.find("}]]", ph) == std::string::npos) from = std::min(from, ph);
  if (from != std::string::npos) cut.erase(from);
  return cut;
}

void AppendWithSpace(std::string& field, std::string_view text) {
  if (!field.empty()) field += ' ';
  field += text;
}

class Walker {
 public:
  Walker(const HtmlDocument& page, const Mask& mask, ExtractionState& state,
         std::optional<std::chrono::steady_clock::time_point> deadline)
      : page_(page), mdoc_(mask.document), mask_(mask), state_(state), deadline_(deadline) {}

  // The deadline passed: the walk stopped where it was.
  bool cut() const { return cut_; }

  void Walk(int p, int m, int depth) {
    if (depth > kMaxWalkDepth || cut_) return;
    std::string_view page_tag = page_.TagName(p);
    const bool body_full = !state_.list_phase && Full(state_.body, kFullBodyBytes);
    for (int e : mdoc_.Children(m)) {
      // A mask of many repeated nodes on a big page multiplies the work.
      if (deadline_ && (++steps_ & 4095) == 0 && std::chrono::steady_clock::now() > *deadline_) cut_ = true;
      if (cut_) return;
      // Nothing this part of the mask could add would still be stored.
      if (body_full && BodyOnly(e)) continue;
      std::string_view tag = mdoc_.TagName(e);
      if (tag == "CMNT") tag = "!";
      if (tag != page_tag) continue;  // both upper-case already
      std::string ord = mdoc_.Attribute(e, "ord");
      int k = LeadingInt(ord);
      if (k != -1 && page_.SameTagIndex(p) != k) continue;
      // Classes match under the same Unicode case folding as LIKE and searches.
      if (!EqualsNoCase(mdoc_.Attribute(e, "class"), page_.ClassName(p))) continue;
      Apply(p, e, depth);
    }
  }

 private:
  void Apply(int p, int e, int depth) {
    if (mdoc_.HasAttribute(e, "paragraph")) AddParagraph(state_, mdoc_.Attribute(e, "paragraph"));
    Adjacent(e, "beforebegin", p, AdjacentPosition::kBeforeBegin);
    Adjacent(e, "afterBegin", p, AdjacentPosition::kAfterBegin);
    std::string role = mdoc_.Attribute(e, "role");
    if (role == "text") {
      if (!Full(state_.body, kFullBodyBytes)) AppendBodyText(state_.body, page_.InnerText(p));
    } else if (role == "header") {
      if (!Full(state_.title, kFullFieldBytes)) state_.title += page_.InnerText(p);
    } else if (role == "img") {
      AddImage(state_, page_.Attribute(p, "src"));
    } else if (role == "imgtext") {
      AddCaption(state_, page_.InnerText(p));
    } else if (role == "author") {
      state_.author = page_.InnerText(p);
    } else if (state_.list_phase && role == "link") {
      CaptureLink(p);
    } else if (state_.list_phase && role == "date") {
      state_.date_text = page_.InnerText(p);
    }
    if (state_.list_phase && !state_.date_text.empty()) CaptureDate(e);
    for (int q : page_.Children(p)) Walk(q, e, depth + 1);
    Adjacent(e, "textafter", p, AdjacentPosition::kAfterEnd);
    Adjacent(e, "beforeEnd", p, AdjacentPosition::kBeforeEnd);
  }

  void Adjacent(int e, std::string_view attribute, int p, AdjacentPosition pos) {
    std::string code = mdoc_.Attribute(e, attribute);
    if (code.empty()) return;
    const int destination = LeadingInt(code);
    if ((destination == 1 && Full(state_.body, kFullBodyBytes)) ||
        (destination == 2 && Full(state_.title, kFullFieldBytes)))
      return;
    std::string text = page_.AdjacentText(p, pos);
    // The body keeps the spaces and line feeds around the text; the plain
    // fields want it trimmed.
    if (destination != 1) text = TrimCopy(text);
    switch (destination) {
      case 1:
        AppendBodyText(state_.body, text);
        break;
      case 2:
        AppendWithSpace(state_.title, text);
        break;
      case 3:
        AppendWithSpace(state_.author, text);
        break;
      case 4:
        AddCaption(state_, text);
        break;
      case 5:
        state_.date_text = text;
        break;
      default:
        break;
    }
  }

  // True when mask element e, with everything under it, writes only to the
  // body: text, pictures, paragraph breaks and adjacent text for the body.
  bool BodyOnly(int e) {
    if (body_only_.empty()) body_only_.assign(size_t(mdoc_.ElementCount()), -1);
    signed char& known = body_only_[size_t(e)];
    if (known >= 0) return known != 0;
    const std::string role = mdoc_.Attribute(e, "role");
    bool only = role.empty() || role == "text" || role == "img";
    for (const char* a : {"beforebegin", "afterBegin", "textafter", "beforeEnd"}) {
      const std::string code = mdoc_.Attribute(e, a);
      only = only && (code.empty() || LeadingInt(code) == 1);
    }
    for (int c : mdoc_.Children(e)) only = only && BodyOnly(c);
    known = only ? 1 : 0;
    return only;
  }

  void CaptureLink(int p) {
    std::string address;
    if (!AcceptLink(page_.Attribute(p, "href"), address)) return;
    NewsLink link{address, DateTime::Zero()};
    if (state_.date_first) {
      link.date = state_.current_date;
      if (!state_.last_parse_ok && !mask_.date_in_url.empty())
        link.date.status = DateTime::Status::kNull;
    }
    // Filled at the first link: a news page walked with a long list in hand
    // captures none, and would pay for the whole set at every item.
    if (!seen_filled_) {
      for (const NewsLink& l : state_.links) seen_links_.insert(l.address);
      seen_filled_ = true;
    }
    if (!seen_links_.insert(link.address).second) return;
    state_.links.push_back(std::move(link));
  }

  void CaptureDate(int e) {
    std::string pattern = mdoc_.Attribute(e, "dateFrmt");
    std::vector<std::string> months = SplitMonthNames(mdoc_.Attribute(e, "MonthFrmt"));
    if (mdoc_.Attribute(e, "dateFirst") == "1") state_.date_first = true;
    state_.last_parse_ok =
        ParseDate(state_.date_text, pattern, months, state_.current_date, state_.page_now.year);
    if (!state_.date_first && !state_.links.empty()) {
      NewsLink& last = state_.links.back();
      last.date = state_.current_date;
      if (!state_.last_parse_ok && !mask_.date_in_url.empty())
        last.date.status = DateTime::Status::kNull;
    }
    state_.date_text.clear();
  }

  const HtmlDocument& page_;
  const HtmlDocument& mdoc_;
  const Mask& mask_;
  ExtractionState& state_;
  std::unordered_set<std::string> seen_links_;  // a list page may hold 100,000 links
  std::vector<signed char> body_only_;          // per mask element: -1 not yet known
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  unsigned steps_ = 0;
  bool cut_ = false;
  bool seen_filled_ = false;
};

}  // namespace

bool AcceptLink(std::string_view href, std::string& accepted) {
  std::string_view s = href;
  if (s.size() > 4) {
    size_t inner = s.find("http://", 4);
    if (inner != std::string_view::npos) s.remove_prefix(inner);
  }
  s = TrimView(s);
  // Script addresses are matched in any letter case, as browsers match schemes.
  if (s.empty() || AsciiLower(s).find("javascript:") != std::string::npos) return false;
  std::string_view path = s.substr(0, s.find('?'));
  size_t dot = path.rfind('.');
  std::string ext = dot == std::string_view::npos ? std::string() : AsciiLower(path.substr(dot + 1));
  for (const char* x : kExcludedLinkExtensions)
    if (ext == x) return false;
  accepted.assign(s);
  return true;
}

bool WalkPage(const HtmlDocument& page, const Mask& mask, ExtractionState& state,
              std::optional<std::chrono::steady_clock::time_point> deadline) {
  if (page.Body() < 0 || mask.document.Body() < 0 || mask.head < 0) return true;
  Walker walker(page, mask, state, deadline);
  int mask_body = mask.document.Body();
  for (int q : page.Children(page.Body())) walker.Walk(q, mask_body, 0);
  return !walker.cut();
}

void ApplyLinkDates(const Mask& mask, int days, const DateTime& now, ExtractionState& state) {
  if (state.links.empty() || days == 0) return;
  // One pass and one compaction: erasing one by one is quadratic on long lists.
  std::vector<char> drop(state.links.size(), 0);
  for (size_t i = state.links.size(); i-- > 0;) {
    NewsLink& link = state.links[i];
    if (!link.date.valid()) {
      DateTime d = DateTime::Zero();
      if (ParseDate(link.address, mask.date_in_url, mask.month_names, d, now.year)) {
        link.date = d;
      } else {
        link.date = now;
      }
    }
    if (!link.date.valid() || !now.valid()) continue;
    double span = now.Serial() - link.date.Serial();
    if (double(days) < std::round(span)) drop[i] = 1;
  }
  size_t kept = 0;
  for (size_t i = 0; i < state.links.size(); ++i) {
    if (drop[i]) continue;
    // Moving a link onto itself would empty its address.
    if (kept != i) state.links[kept] = std::move(state.links[i]);
    ++kept;
  }
  state.links.resize(kept);
}

void AddParagraph(ExtractionState& state, std::string_view value) {
  const char* brk = value == "1" ? kParagraphBreak1 : value == "2" ? kParagraphBreak2 : nullptr;
  if (brk && !Full(state.body, kFullBodyBytes) && !EndsWith(state.body, brk)) state.body += brk;
}

void AddImage(ExtractionState& state, std::string_view source) {
  // A placeholder beyond the stored body would name a picture no one sees.
  if (Full(state.body, kFullBodyBytes)) return;
  std::string src = state.load_images ? std::string(source) : std::string();
  size_t n = state.images.size();
  size_t number;
  if (n == 0 || !state.images.back().source.empty()) {
    number = n;
    state.images.push_back({src, {}});
  } else {
    number = n - 1;
    state.images.back().source = src;
  }
  state.body += "[[{" + std::to_string(number) + "}]]";
}

void AddCaption(ExtractionState& state, std::string_view text) {
  if (!state.images.empty() && state.images.back().caption.empty()) {
    state.images.back().caption = text;
  } else {
    state.images.push_back({{}, std::string(text)});
  }
}

void AppendEscapedBodyText(std::string& body, std::string_view text) { AppendBodyText(body, text); }

FinishedNewsItem FinishNewsItem(const ExtractionState& state, std::string_view address) {
  FinishedNewsItem item;
  std::string body;
  body.reserve(state.body.size());
  for (char c : state.body) {
    if (c == '\n') body += "<br />";
    else body += c;
  }
  item.body = CutBody(body, kMaxBodyChars);
  item.title = Utf8CutChars(state.title, kMaxFieldChars);
  item.author = Utf8CutChars(state.author, kMaxFieldChars);
  item.address = Utf8CutChars(address, kMaxFieldChars);
  item.images = state.images;
  return item;
}

}  // namespace orvo
