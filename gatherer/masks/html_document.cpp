#include "gatherer/masks/html_document.h"

#include <gumbo.h>

#include <algorithm>
#include <array>
#include <deque>
#include <unordered_map>
#include <vector>

#include "gatherer/masks/charset.h"
#include "gatherer/masks/text_util.h"
#include "gatherer/masks/url.h"

namespace orvo {

namespace {

const char kCommentTag[] = "!";

// Upper-case names of gumbo's known tags, built once; pointer identity of
// these names is what SameTagIndex compares.
const std::array<std::string, GUMBO_TAG_LAST + 1>& KnownTagNames() {
  static const auto names = [] {
    std::array<std::string, GUMBO_TAG_LAST + 1> n;
    for (int t = 0; t < GUMBO_TAG_LAST; ++t)
      n[t] = AsciiUpper(gumbo_normalized_tagname(static_cast<GumboTag>(t)));
    return n;
  }();
  return names;
}

enum TagKind : unsigned char { kInline = 0, kBlock, kParagraph, kSkip, kBreak, kCell, kPre };

const std::array<TagKind, GUMBO_TAG_LAST + 1>& TagKinds() {
  static const auto kinds = [] {
    std::array<TagKind, GUMBO_TAG_LAST + 1> k{};
    for (GumboTag t :
         {GUMBO_TAG_ADDRESS, GUMBO_TAG_ARTICLE, GUMBO_TAG_ASIDE, GUMBO_TAG_BLOCKQUOTE,
          GUMBO_TAG_BODY, GUMBO_TAG_CENTER, GUMBO_TAG_DD, GUMBO_TAG_DETAILS,
          GUMBO_TAG_DIR, GUMBO_TAG_DIV, GUMBO_TAG_DL, GUMBO_TAG_DT, GUMBO_TAG_FIELDSET,
          GUMBO_TAG_FIGCAPTION, GUMBO_TAG_FIGURE, GUMBO_TAG_FOOTER, GUMBO_TAG_FORM, GUMBO_TAG_H1,
          GUMBO_TAG_H2, GUMBO_TAG_H3, GUMBO_TAG_H4, GUMBO_TAG_H5, GUMBO_TAG_H6, GUMBO_TAG_HEADER,
          GUMBO_TAG_HGROUP, GUMBO_TAG_HR, GUMBO_TAG_HTML, GUMBO_TAG_LEGEND, GUMBO_TAG_LI,
          GUMBO_TAG_MAIN, GUMBO_TAG_MENU, GUMBO_TAG_NAV, GUMBO_TAG_OL, GUMBO_TAG_SECTION,
          GUMBO_TAG_SUMMARY, GUMBO_TAG_TABLE, GUMBO_TAG_TR, GUMBO_TAG_UL, GUMBO_TAG_CAPTION,
          GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT, GUMBO_TAG_OPTION})
      k[t] = kBlock;
    k[GUMBO_TAG_P] = kParagraph;
    for (GumboTag t : {GUMBO_TAG_SCRIPT, GUMBO_TAG_STYLE, GUMBO_TAG_NOSCRIPT, GUMBO_TAG_TEMPLATE,
                       GUMBO_TAG_HEAD, GUMBO_TAG_TITLE, GUMBO_TAG_IFRAME, GUMBO_TAG_OBJECT,
                       GUMBO_TAG_EMBED, GUMBO_TAG_NOFRAMES, GUMBO_TAG_NOEMBED, GUMBO_TAG_AUDIO,
                       GUMBO_TAG_VIDEO, GUMBO_TAG_CANVAS, GUMBO_TAG_SELECT, GUMBO_TAG_META,
                       GUMBO_TAG_LINK})
      k[t] = kSkip;
    k[GUMBO_TAG_BR] = kBreak;
    k[GUMBO_TAG_TD] = kCell;
    k[GUMBO_TAG_TH] = kCell;
    for (GumboTag t : {GUMBO_TAG_PRE, GUMBO_TAG_TEXTAREA, GUMBO_TAG_LISTING, GUMBO_TAG_PLAINTEXT})
      k[t] = kPre;
    return k;
  }();
  return kinds;
}

bool IsElementNode(const GumboNode* n) {
  return n->type == GUMBO_NODE_ELEMENT || n->type == GUMBO_NODE_TEMPLATE;
}
bool IsTextNode(const GumboNode* n) {
  return n->type == GUMBO_NODE_TEXT || n->type == GUMBO_NODE_WHITESPACE ||
         n->type == GUMBO_NODE_CDATA;
}

const GumboVector* ChildVector(const GumboNode* n) {
  if (n->type == GUMBO_NODE_DOCUMENT) return &n->v.document.children;
  if (IsElementNode(n)) return &n->v.element.children;
  return nullptr;
}

const GumboAttribute* FindAttribute(const GumboNode* n, std::string_view name) {
  if (!IsElementNode(n)) return nullptr;
  const GumboVector& attrs = n->v.element.attributes;
  for (unsigned i = 0; i < attrs.length; ++i) {
    auto* a = static_cast<const GumboAttribute*>(attrs.data[i]);
    if (EqualsIgnoreCase(a->name, name)) return a;
  }
  return nullptr;
}

bool IsHidden(const GumboNode* n) {
  if (FindAttribute(n, "hidden")) return true;
  const GumboAttribute* style = FindAttribute(n, "style");
  if (!style) return false;
  std::string s;
  for (const char* p = style->value; *p; ++p)
    if (!IsAsciiSpace(*p)) s += char(*p >= 'A' && *p <= 'Z' ? *p - 'A' + 'a' : *p);
  return s.find("display:none") != std::string::npos ||
         s.find("visibility:hidden") != std::string::npos;
}

// Builds innerText the way a browser lays it out, as a sequence of text runs
// and required line breaks.
class TextSink {
 public:
  void Text(std::string_view s) {
    for (char c : s) {
      if (IsAsciiSpace(c)) {
        pending_space_ = true;
        continue;
      }
      Flush();
      out_ += c;
    }
  }
  void PreText(std::string_view s) {
    if (s.empty()) return;
    Flush();
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '\r') {
        out_ += '\n';
        if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
      } else {
        out_ += s[i];
      }
    }
  }
  void Break(int n) { pending_breaks_ = std::max(pending_breaks_, n); }
  void Tab() { pending_tab_ = true; }
  void NewLine() {
    if (pending_breaks_ > 0 && !out_.empty()) out_.append(size_t(pending_breaks_), '\n');
    out_ += '\n';
    pending_breaks_ = 0;
    pending_space_ = pending_tab_ = false;
  }
  std::string Take() { return std::move(out_); }

 private:
  void Flush() {
    if (!out_.empty()) {
      if (pending_breaks_ > 0) out_.append(size_t(pending_breaks_), '\n');
      else if (pending_tab_) out_ += '\t';
      else if (pending_space_ && out_.back() != '\n') out_ += ' ';
    }
    pending_breaks_ = 0;
    pending_space_ = pending_tab_ = false;
  }

  std::string out_;
  int pending_breaks_ = 0;
  bool pending_space_ = false;
  bool pending_tab_ = false;
};

struct Element {
  const GumboNode* node;
  const char* tag;  // interned upper-case name
  int parent;
  int first_child;  // into child_ids
  int child_count;
  int same_tag_index;
};

}  // namespace

struct HtmlDocument::Impl {
  std::string text;
  std::string url;
  std::string base_url;
  std::string charset;
  GumboOutput* output = nullptr;
  std::vector<Element> elements;
  std::vector<int> child_ids;
  std::deque<std::string> unknown_names;
  int body = -1;

  ~Impl() {
    if (output) gumbo_destroy_output(&Options(), output);
  }

  static const GumboOptions& Options() {
    static const GumboOptions options = [] {
      GumboOptions o = kGumboDefaultOptions;
      o.max_errors = 0;  // parse errors are not used; recording them costs time
      return o;
    }();
    return options;
  }

  const char* TagOf(const GumboNode* n, std::unordered_map<std::string, const char*>& interned) {
    if (n->type == GUMBO_NODE_COMMENT) return kCommentTag;
    const GumboElement& e = n->v.element;
    if (e.tag != GUMBO_TAG_UNKNOWN) return KnownTagNames()[e.tag].c_str();
    GumboStringPiece piece = e.original_tag;
    if (piece.length > 0) gumbo_tag_from_original_text(&piece);
    std::string name = AsciiUpper(std::string_view(piece.data ? piece.data : "", piece.length));
    auto it = interned.find(name);
    if (it != interned.end()) return it->second;
    unknown_names.push_back(name);
    const char* p = unknown_names.back().c_str();
    interned.emplace(std::move(name), p);
    return p;
  }

  void Build() {
    if (!output || !output->root) return;
    std::unordered_map<std::string, const char*> interned;
    std::vector<std::pair<const GumboNode*, int>> stack;
    stack.push_back({output->root, -1});
    while (!stack.empty()) {
      auto [node, parent] = stack.back();
      stack.pop_back();
      int id = int(elements.size());
      elements.push_back({node, TagOf(node, interned), parent, 0, 0, 0});
      if (!IsElementNode(node)) continue;
      const GumboVector& kids = node->v.element.children;
      for (unsigned i = kids.length; i-- > 0;) {
        auto* k = static_cast<const GumboNode*>(kids.data[i]);
        if (IsElementNode(k) || k->type == GUMBO_NODE_COMMENT) stack.push_back({k, id});
      }
    }
    // Children lists: ids grow in document order, so one pass per parent fills
    // each list already sorted.
    for (const Element& e : elements)
      if (e.parent >= 0) ++elements[e.parent].child_count;
    int offset = 0;
    for (Element& e : elements) {
      e.first_child = offset;
      offset += e.child_count;
      e.child_count = 0;
    }
    child_ids.resize(size_t(offset));
    for (int id = 0; id < int(elements.size()); ++id) {
      int p = elements[id].parent;
      if (p < 0) continue;
      Element& pe = elements[p];
      child_ids[size_t(pe.first_child + pe.child_count++)] = id;
    }
    std::vector<std::pair<const char*, int>> counts;
    for (Element& pe : elements) {
      counts.clear();
      for (int i = 0; i < pe.child_count; ++i) {
        Element& c = elements[child_ids[size_t(pe.first_child + i)]];
        auto it = std::find_if(counts.begin(), counts.end(),
                               [&](const auto& kv) { return kv.first == c.tag; });
        if (it == counts.end()) {
          counts.push_back({c.tag, 1});
          c.same_tag_index = 0;
        } else {
          c.same_tag_index = it->second++;
        }
      }
    }
    base_url = url;
    bool base_seen = false;
    for (int id = 0; id < int(elements.size()); ++id) {
      const GumboNode* n = elements[id].node;
      if (!IsElementNode(n)) continue;
      if (n->v.element.tag == GUMBO_TAG_BODY && body < 0 && elements[id].parent == 0) body = id;
      if (!base_seen && n->v.element.tag == GUMBO_TAG_BASE) {
        if (const GumboAttribute* href = FindAttribute(n, "href")) {
          base_url = ResolveUrl(url, href->value);
          base_seen = true;
        }
      }
    }
  }

  bool Valid(int e) const { return e >= 0 && e < int(elements.size()); }
};

HtmlDocument::HtmlDocument() : impl_(std::make_unique<Impl>()) {}
HtmlDocument::~HtmlDocument() = default;
HtmlDocument::HtmlDocument(HtmlDocument&&) noexcept = default;
HtmlDocument& HtmlDocument::operator=(HtmlDocument&&) noexcept = default;

HtmlDocument HtmlDocument::Parse(std::string utf8_text, std::string url,
                                 std::string declared_charset) {
  HtmlDocument doc;
  Impl& d = *doc.impl_;
  d.text = std::move(utf8_text);
  d.url = std::move(url);
  d.charset = std::move(declared_charset);
  // gumbo keeps pointers into the text, which therefore lives in Impl.
  d.output = gumbo_parse_with_options(&Impl::Options(), d.text.data(), d.text.size());
  d.Build();
  return doc;
}

HtmlDocument HtmlDocument::FromBytes(std::string_view bytes, std::string_view header_charset,
                                     std::string url) {
  DecodedPage page = DecodePage(bytes, header_charset);
  return Parse(std::move(page.text), std::move(url), std::move(page.declared_charset));
}

bool HtmlDocument::HasTree() const { return !impl_->elements.empty(); }
int HtmlDocument::Body() const { return impl_->body; }
int HtmlDocument::ElementCount() const { return int(impl_->elements.size()); }
const std::string& HtmlDocument::Url() const { return impl_->url; }
const std::string& HtmlDocument::BaseUrl() const { return impl_->base_url; }
const std::string& HtmlDocument::DeclaredCharset() const { return impl_->charset; }
const std::string& HtmlDocument::Text() const { return impl_->text; }

std::span<const int> HtmlDocument::Children(int element) const {
  if (!impl_->Valid(element)) return {};
  const Element& e = impl_->elements[size_t(element)];
  return {impl_->child_ids.data() + e.first_child, size_t(e.child_count)};
}

int HtmlDocument::Parent(int element) const {
  return impl_->Valid(element) ? impl_->elements[size_t(element)].parent : -1;
}

std::string_view HtmlDocument::TagName(int element) const {
  return impl_->Valid(element) ? std::string_view(impl_->elements[size_t(element)].tag)
                               : std::string_view();
}

bool HtmlDocument::IsComment(int element) const {
  return impl_->Valid(element) && impl_->elements[size_t(element)].tag == kCommentTag;
}

int HtmlDocument::SameTagIndex(int element) const {
  return impl_->Valid(element) ? impl_->elements[size_t(element)].same_tag_index : 0;
}

bool HtmlDocument::HasAttribute(int element, std::string_view name) const {
  return impl_->Valid(element) && FindAttribute(impl_->elements[size_t(element)].node, name);
}

std::string HtmlDocument::Attribute(int element, std::string_view name) const {
  if (!impl_->Valid(element)) return {};
  const GumboAttribute* a = FindAttribute(impl_->elements[size_t(element)].node, name);
  if (!a) return {};
  if (EqualsIgnoreCase(name, "href") || EqualsIgnoreCase(name, "src"))
    return ResolveUrl(impl_->base_url, a->value);
  return a->value;
}

std::string HtmlDocument::InnerText(int element) const {
  if (!impl_->Valid(element) || IsComment(element)) return {};
  const auto& kinds = TagKinds();
  TextSink sink;
  // Explicit stack: pages nest deeper than a thread's stack allows recursion.
  struct Frame {
    const GumboNode* node;
    unsigned next;
    int pre_depth;
  };
  std::vector<Frame> stack;
  stack.push_back({impl_->elements[size_t(element)].node, 0, 0});
  while (!stack.empty()) {
    Frame& f = stack.back();
    const GumboVector& kids = f.node->v.element.children;
    if (f.next >= kids.length) {
      TagKind k = kinds[f.node->v.element.tag];
      if (k == kBlock || k == kPre) sink.Break(1);
      else if (k == kParagraph) sink.Break(2);
      else if (k == kCell) sink.Tab();
      stack.pop_back();
      continue;
    }
    auto* child = static_cast<const GumboNode*>(kids.data[f.next++]);
    int pre = f.pre_depth;
    if (IsTextNode(child)) {
      if (pre > 0) sink.PreText(child->v.text.text);
      else sink.Text(child->v.text.text);
      continue;
    }
    if (!IsElementNode(child)) continue;
    TagKind k = kinds[child->v.element.tag];
    if (k == kSkip || IsHidden(child)) continue;
    if (k == kBreak) {
      sink.NewLine();
      continue;
    }
    if (k == kBlock || k == kPre) sink.Break(1);
    else if (k == kParagraph) sink.Break(2);
    stack.push_back({child, 0, pre + (k == kPre ? 1 : 0)});
  }
  return sink.Take();
}

std::string HtmlDocument::AdjacentText(int element, AdjacentPosition pos) const {
  if (!impl_->Valid(element)) return {};
  const GumboNode* n = impl_->elements[size_t(element)].node;
  const GumboVector* list = nullptr;
  long start = 0, step = 1;
  switch (pos) {
    case AdjacentPosition::kBeforeBegin:
    case AdjacentPosition::kAfterEnd:
      if (!n->parent) return {};
      list = ChildVector(n->parent);
      step = pos == AdjacentPosition::kBeforeBegin ? -1 : 1;
      start = long(n->index_within_parent) + step;
      break;
    case AdjacentPosition::kAfterBegin:
    case AdjacentPosition::kBeforeEnd:
      list = ChildVector(n);
      step = pos == AdjacentPosition::kAfterBegin ? 1 : -1;
      start = list && step < 0 ? long(list->length) - 1 : 0;
      break;
  }
  if (!list) return {};
  long first = start, last = start - step;
  for (long i = start; i >= 0 && i < long(list->length); i += step) {
    if (!IsTextNode(static_cast<const GumboNode*>(list->data[i]))) break;
    last = i;
  }
  if (step < 0) std::swap(first, last);
  std::string joined;
  for (long i = first; i <= last; ++i)
    joined += static_cast<const GumboNode*>(list->data[i])->v.text.text;
  return CollapseSpaces(joined);
}

std::string HtmlDocument::CommentText(int element) const {
  if (!IsComment(element)) return {};
  return impl_->elements[size_t(element)].node->v.text.text;
}

}  // namespace orvo
