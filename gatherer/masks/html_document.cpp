#include "gatherer/masks/html_document.h"

#include <gumbo.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <csetjmp>
#include <cstring>
#include <new>
#include <deque>
#include <string>
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

enum NodeKind : unsigned char { kElementNode, kTextNode, kCommentNode };

// One node of the compact tree that replaces gumbo's once parsing is done:
// gumbo's own tree takes ten times a page's size, this one about three.
struct Node {
  int parent = -1;
  int first_child = -1;
  int next = -1;
  int prev = -1;
  unsigned text_off = 0;  // text and comment content, in the arena
  unsigned text_len = 0;
  unsigned attr_begin = 0;
  unsigned attr_count = 0;
  unsigned short tag = GUMBO_TAG_UNKNOWN;
  NodeKind kind = kElementNode;
};

struct Attr {
  unsigned name_off, name_len, value_off, value_len;
};

struct Element {
  int node;
  const char* tag;  // interned upper-case name
  int parent;
  int first_child;  // into child_ids
  int child_count;
  int same_tag_index;
};

// Stands for a script or style text set aside before the parse (see
// SetAsideRawText): the marker, its number, the marker again.
// A private-use character, which the tokenizer passes as it is.
constexpr std::string_view kMarker = "\xEE\x80\x80";
constexpr std::string_view kMarkerTag = "\xEE\x80\x80orvo-raw:";

// A text node's text with the set-aside texts back in place of their markers.
std::string PutBack(std::string_view t, const std::vector<std::string>& aside) {
  std::string out;
  size_t from = 0;
  for (size_t at; (at = t.find(kMarkerTag, from)) != std::string_view::npos;) {
    size_t digits = at + kMarkerTag.size(), end = digits, n = 0;
    while (end < t.size() && t[end] >= '0' && t[end] <= '9' && end - digits < 9) n = n * 10 + size_t(t[end++] - '0');
    if (end == digits || t.compare(end, kMarker.size(), kMarker) != 0 || n >= aside.size()) {
      out.append(t.substr(from, digits - from));
      from = digits;
      continue;
    }
    out.append(t.substr(from, at - from));
    out.append(aside[n]);
    from = end + kMarker.size();
  }
  out.append(t.substr(from));
  return out;
}

// Gumbo allocates and frees a small block for nearly every character run,
// token and node it builds, and its tree is thrown away as soon as it is
// copied. One parse therefore takes its memory from a pool: blocks of a few
// sizes, each size with its list of freed blocks to serve again, larger ones
// from malloc; all of it goes at once when the pool does, without a walk
// over gumbo's tree.
class ParsePool {
 public:
  ParsePool() = default;
  ParsePool(const ParsePool&) = delete;
  ParsePool& operator=(const ParsePool&) = delete;
  ~ParsePool() {
    for (Large* l = large_; l;) {
      Large* next = l->next;
      std::free(l);
      l = next;
    }
    std::vector<void*>& spare = Spare().chunks;
    for (void* c : chunks_) {
      if (spare.size() < kSpareChunks) spare.push_back(c);
      else std::free(c);
    }
  }

  static void* Allocate(void* self, size_t size) {
    ParsePool* pool = static_cast<ParsePool*>(self);
    // The parser allocates for every node and token, so this is where an
    // abandoned parse learns of it. Nothing but the parser's C frames lies
    // between here and the setjmp, and all it holds is in this pool.
    if (pool->cancel_ && (++pool->calls_ & 1023) == 0 && pool->cancel_->load(std::memory_order_relaxed))
      std::longjmp(*pool->escape_, 1);
    return pool->Get(size);
  }
  // Parses check `cancel` from time to time and leave through `escape`.
  void SetCancel(const std::atomic<bool>* cancel, std::jmp_buf* escape) {
    cancel_ = cancel;
    escape_ = escape;
  }
  static void Deallocate(void* self, void* p) { static_cast<ParsePool*>(self)->Put(p); }

 private:
  // Blocks of 16 << k bytes for k below kSizes, each after an 8-byte header
  // that names its size (or kLarge); payloads are 8-byte aligned, all gumbo needs.
  const std::atomic<bool>* cancel_ = nullptr;
  std::jmp_buf* escape_ = nullptr;
  unsigned calls_ = 0;
  static constexpr unsigned kSizes = 9;
  static constexpr std::uint64_t kLarge = 0xFF;
  static constexpr size_t kChunkBytes = size_t(256) << 10;
  // A few chunks stay with the thread for its next parse: fresh memory from
  // the system costs a page fault per page, about as much as the parse saves.
  static constexpr size_t kSpareChunks = 8;
  struct SpareChunks {
    std::vector<void*> chunks;
    ~SpareChunks() {
      for (void* c : chunks) std::free(c);
    }
  };
  static SpareChunks& Spare() {
    thread_local SpareChunks spare;
    return spare;
  }

  struct Large {
    Large* prev;
    Large* next;
    std::uint64_t unused;
    std::uint64_t header;  // right before the payload, as for small blocks
  };

  void* Get(size_t size) {
    unsigned k = 0;
    while (k < kSizes && (size_t(16) << k) < size) ++k;
    if (k == kSizes) return GetLarge(size);
    if (void* p = free_[k]) {
      std::memcpy(&free_[k], p, sizeof(void*));
      return p;
    }
    const size_t need = sizeof(std::uint64_t) + (size_t(16) << k);
    if (size_t(end_ - next_) < need) {
      std::vector<void*>& spare = Spare().chunks;
      void* chunk = nullptr;
      if (!spare.empty()) {
        chunk = spare.back();
        spare.pop_back();
      } else if (!(chunk = std::malloc(kChunkBytes))) {
        throw std::bad_alloc();
      }
      chunks_.push_back(chunk);
      next_ = static_cast<char*>(chunk);
      end_ = next_ + kChunkBytes;
    }
    std::uint64_t header = k;
    std::memcpy(next_, &header, sizeof header);
    void* p = next_ + sizeof header;
    next_ += need;
    return p;
  }

  void* GetLarge(size_t size) {
    auto* l = static_cast<Large*>(std::malloc(sizeof(Large) + size));
    if (!l) throw std::bad_alloc();
    l->prev = nullptr;
    l->next = large_;
    l->header = kLarge;
    if (large_) large_->prev = l;
    large_ = l;
    return l + 1;
  }

  void Put(void* p) {
    if (!p) return;
    std::uint64_t header;
    std::memcpy(&header, static_cast<char*>(p) - sizeof header, sizeof header);
    if (header == kLarge) {
      Large* l = static_cast<Large*>(p) - 1;
      if (l->prev) l->prev->next = l->next;
      else large_ = l->next;
      if (l->next) l->next->prev = l->prev;
      std::free(l);
      return;
    }
    std::memcpy(p, &free_[header], sizeof(void*));
    free_[header] = p;
  }

  std::vector<void*> chunks_;
  char* next_ = nullptr;
  char* end_ = nullptr;
  std::array<void*, kSizes> free_{};
  Large* large_ = nullptr;
};

}  // namespace

struct HtmlDocument::Impl {
  std::string url;
  std::string base_url;
  std::string charset;
  std::string arena;  // all texts, attribute names and values
  std::vector<Node> nodes;
  std::vector<Attr> attrs;
  std::vector<Element> elements;
  std::vector<int> child_ids;
  std::deque<std::string> unknown_names;
  std::vector<int> element_of;  // per node: its element id, -1 for text
  int body = -1;

  static const GumboOptions& Options() {
    static const GumboOptions options = [] {
      GumboOptions o = kGumboDefaultOptions;
      o.max_errors = 0;  // parse errors are not used; recording them costs time
      return o;
    }();
    return options;
  }

  std::string_view Str(unsigned off, unsigned len) const {
    return std::string_view(arena).substr(off, len);
  }
  std::string_view NodeText(int n) const { return Str(nodes[n].text_off, nodes[n].text_len); }

  unsigned Append(std::string_view s) {
    unsigned off = unsigned(arena.size());
    arena.append(s);
    return off;
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

  // Copies gumbo's tree below root into the compact tree, in document order.
  void Copy(const GumboNode* root, size_t text_size, const std::vector<std::string>& aside) {
    arena.reserve(text_size);
    std::unordered_map<std::string, const char*> interned;
    struct Item {
      const GumboNode* g;
      int parent;
    };
    std::vector<Item> stack{{root, -1}};
    std::vector<int> last_child;  // per node, while building
    while (!stack.empty()) {
      Item it = stack.back();
      stack.pop_back();
      const GumboNode* g = it.g;
      int id = int(nodes.size());
      Node n;
      n.parent = it.parent;
      if (IsElementNode(g)) {
        n.kind = kElementNode;
        n.tag = static_cast<unsigned short>(g->v.element.tag);
        n.attr_begin = unsigned(attrs.size());
        const GumboVector& av = g->v.element.attributes;
        for (unsigned i = 0; i < av.length; ++i) {
          auto* a = static_cast<const GumboAttribute*>(av.data[i]);
          std::string_view name(a->name), value(a->value);
          std::string restored;
          if (!aside.empty() && value.find(kMarkerTag) != std::string_view::npos) value = restored = PutBack(value, aside);
          unsigned name_off = Append(name);
          unsigned value_off = Append(value);
          attrs.push_back({name_off, unsigned(name.size()), value_off, unsigned(value.size())});
        }
        n.attr_count = av.length;
      } else {
        n.kind = g->type == GUMBO_NODE_COMMENT ? kCommentNode : kTextNode;
        std::string_view t(g->v.text.text);
        std::string restored;
        if (!aside.empty() && t.find(kMarkerTag) != std::string_view::npos) t = restored = PutBack(t, aside);
        n.text_off = Append(t);
        n.text_len = unsigned(t.size());
      }
      nodes.push_back(n);
      last_child.push_back(-1);
      if (it.parent >= 0) {
        int prev = last_child[size_t(it.parent)];
        if (prev < 0) {
          nodes[size_t(it.parent)].first_child = id;
        } else {
          nodes[size_t(prev)].next = id;
          nodes[size_t(id)].prev = prev;
        }
        last_child[size_t(it.parent)] = id;
      }
      if (n.kind == kElementNode || n.kind == kCommentNode) {
        elements.push_back({id, TagOf(g, interned), -1, 0, 0, 0});
      }
      if (!IsElementNode(g)) continue;
      const GumboVector& kids = g->v.element.children;
      for (unsigned i = kids.length; i-- > 0;) {
        auto* k = static_cast<const GumboNode*>(kids.data[i]);
        if (IsElementNode(k) || IsTextNode(k) || k->type == GUMBO_NODE_COMMENT)
          stack.push_back({k, id});
      }
    }
    arena.shrink_to_fit();
    nodes.shrink_to_fit();
    attrs.shrink_to_fit();
    elements.shrink_to_fit();
  }

  void Index() {
    // Element ids of nodes, to find each element's parent element.
    element_of.assign(nodes.size(), -1);
    for (int id = 0; id < int(elements.size()); ++id) element_of[size_t(elements[id].node)] = id;
    for (Element& e : elements) {
      int p = nodes[size_t(e.node)].parent;
      e.parent = p >= 0 ? element_of[size_t(p)] : -1;
    }
    // Children lists: ids grow in document order, so one pass fills each
    // parent's list already sorted.
    for (const Element& e : elements)
      if (e.parent >= 0) ++elements[size_t(e.parent)].child_count;
    int offset = 0;
    for (Element& e : elements) {
      e.first_child = offset;
      offset += e.child_count;
      e.child_count = 0;
    }
    child_ids.resize(size_t(offset));
    for (int id = 0; id < int(elements.size()); ++id) {
      int p = elements[size_t(id)].parent;
      if (p < 0) continue;
      Element& pe = elements[size_t(p)];
      child_ids[size_t(pe.first_child + pe.child_count++)] = id;
    }
    std::vector<std::pair<const char*, int>> counts;
    for (Element& pe : elements) {
      counts.clear();
      for (int i = 0; i < pe.child_count; ++i) {
        Element& c = elements[size_t(child_ids[size_t(pe.first_child + i)])];
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
      const Node& n = nodes[size_t(elements[size_t(id)].node)];
      if (n.kind != kElementNode) continue;
      if (n.tag == GUMBO_TAG_BODY && body < 0 && elements[size_t(id)].parent == 0) body = id;
      if (!base_seen && n.tag == GUMBO_TAG_BASE) {
        if (const Attr* href = FindAttr(elements[size_t(id)].node, "href")) {
          base_url = ResolveUrl(url, Str(href->value_off, href->value_len));
          base_seen = true;
        }
      }
    }
  }

  const Attr* FindAttr(int node, std::string_view name) const {
    const Node& n = nodes[size_t(node)];
    for (unsigned i = 0; i < n.attr_count; ++i) {
      const Attr& a = attrs[n.attr_begin + i];
      if (EqualsIgnoreCase(Str(a.name_off, a.name_len), name)) return &a;
    }
    return nullptr;
  }

  bool IsHidden(int node) const {
    if (FindAttr(node, "hidden")) return true;
    const Attr* style = FindAttr(node, "style");
    if (!style) return false;
    std::string s;
    for (char c : Str(style->value_off, style->value_len))
      if (!IsAsciiSpace(c)) s += char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s.find("display:none") != std::string::npos ||
           s.find("visibility:hidden") != std::string::npos;
  }

  bool Valid(int e) const { return e >= 0 && e < int(elements.size()); }
};

namespace {

bool IsTagNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == ':';
}

bool OneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Elements that never hold others, or whose next start closes them, or that
// the parser places itself: they do not make the tree deeper.
bool Flat(std::string_view n) {
  return OneOf(n, {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "param", "source",
                   "track", "wbr", "keygen", "frame", "image", "p", "li", "dt", "dd", "option", "optgroup", "tr",
                   "td", "th", "tbody", "thead", "tfoot", "colgroup", "caption", "rb", "rt", "rp", "rtc", "html",
                   "head", "body"});
}

// A start tag of these closes an open element of the same name.
bool ClosesItsOwn(std::string_view n) { return OneOf(n, {"a", "nobr", "button", "form", "select", "table"}); }

bool RawText(std::string_view n) {
  return OneOf(n, {"script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes"});
}

// End of the tag that starts at `from` ('<'): just past its '>', quotes in
// attribute values respected; the text's end when it is not closed.
size_t TagEnd(std::string_view s, size_t from) {
  char quote = 0;
  for (size_t i = from + 1; i < s.size(); ++i) {
    char c = s[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      // Only an attribute value opens a quote: right after '='.
      size_t k = i;
      while (k > from && IsAsciiSpace(s[k - 1])) --k;
      if (k > from && s[k - 1] == '=') quote = c;
    } else if (c == '>') {
      return i + 1;
    }
  }
  return s.size();
}

// Leaves out the start tags that would nest elements deeper than max_depth,
// with their end tags, so that no page makes the tree builder's scope checks
// quadratic. The depth is followed as a tolerant parser does: an end tag
// closes up to its open element, and elements that close themselves or
// never hold others do not count. Pages within the limit pass unchanged.
std::string CapNesting(std::string text, size_t max_depth) {
  const std::string_view s(text);
  size_t opens = 0;
  for (char c : s) opens += c == '<';
  if (opens <= max_depth) return text;  // cannot nest that deep

  // A first pass only looks for a start tag to leave out; most pages have
  // none and pass as they are, without a copy.
  std::string out;
  auto run = [&](bool build) {
    std::vector<std::string> open;
    std::unordered_map<std::string, size_t> dropped;
    size_t foreign = 0;  // open svg/math elements: "/>" closes there
    bool form_open = false;  // the tree builder's form element: until its end tag
    size_t i = 0;
    auto name_at = [&](size_t at) {
      std::string name;
      while (at < s.size() && IsTagNameChar(s[at])) name += char(std::tolower(static_cast<unsigned char>(s[at++])));
      return name;
    };
    auto pop_to = [&](size_t depth) {
      while (open.size() > depth) {
        if (open.back() == "svg" || open.back() == "math") --foreign;
        open.pop_back();
      }
    };
    while (i < s.size()) {
      size_t lt = s.find('<', i);
      if (lt == std::string_view::npos) lt = s.size();
      if (build) out.append(s.substr(i, lt - i));
      i = lt;
      if (i >= s.size()) break;
      if (s.compare(i, 4, "<!--") == 0) {
        // As the tokenizer ends a comment: "<!-->" and "<!--->" are whole
        // ones, and "--!>" ends one as "-->" does.
        size_t end;
        if (s.compare(i + 4, 1, ">") == 0) {
          end = i + 5;
        } else if (s.compare(i + 4, 2, "->") == 0) {
          end = i + 6;
        } else {
          const size_t plain = s.find("-->", i + 4), bang = s.find("--!>", i + 4);
          end = std::min(plain == std::string_view::npos ? s.size() : plain + 3,
                         bang == std::string_view::npos ? s.size() : bang + 4);
        }
        if (build) out.append(s.substr(i, end - i));
        i = end;
        continue;
      }
      const bool closing = i + 1 < s.size() && s[i + 1] == '/';
      const size_t name_from = i + (closing ? 2 : 1);
      if (name_from >= s.size() || !std::isalpha(static_cast<unsigned char>(s[name_from]))) {
        // "<!DOCTYPE ...>" and "<?...>" pass whole, "< 5" is text.
        const bool declaration = !closing && name_from < s.size() && (s[name_from] == '!' || s[name_from] == '?');
        const size_t end = declaration ? TagEnd(s, i) : i + 1;
        if (build) out.append(s.substr(i, end - i));
        i = end;
        continue;
      }
      const std::string name = name_at(name_from);
      const size_t end = TagEnd(s, i);
      const std::string_view tag = s.substr(i, end - i);
      i = end;
      if (closing) {
        if (auto it = dropped.empty() ? dropped.end() : dropped.find(name); it != dropped.end() && it->second > 0) {
          --it->second;
          continue;
        }
        if (name == "form") form_open = false;
        for (size_t k = open.size(); k-- > 0;)
          if (open[k] == name) {
            pop_to(k);
            break;
          }
        if (build) out.append(tag);
        continue;
      }
      const bool self_closed = foreign > 0 && tag.size() >= 2 && tag[tag.size() - 2] == '/';
      // The tree builder ignores a form inside a form: it opens nothing.
      const bool ignored = name == "form" && form_open;
      if (!Flat(name) && !self_closed && !ignored) {
        if (ClosesItsOwn(name))
          for (size_t k = open.size(); k-- > 0;)
            if (open[k] == name) {
              pop_to(k);
              break;
            }
        if (open.size() >= max_depth && !RawText(name)) {
          if (!build) return true;
          ++dropped[name];
          continue;
        }
        open.push_back(name);
        if (name == "svg" || name == "math") ++foreign;
        if (name == "form") form_open = true;
      }
      if (build) out.append(tag);
      if (RawText(name)) {
        // Its text is not markup: copy up to its end tag.
        size_t close = i;
        while ((close = s.find("</", close)) != std::string_view::npos &&
               !EqualsIgnoreCase(s.substr(close + 2, name.size()), name))
          close += 2;
        if (close == std::string_view::npos) close = s.size();
        if (build) out.append(s.substr(i, close - i));
        i = close;
      } else if (name == "plaintext") {
        if (build) out.append(s.substr(i));
        break;
      }
    }
    return false;
  };
  if (!run(false)) return text;
  out.reserve(s.size());
  run(true);
  return out;
}

// Big scripts and styles cost the tokenizer most of its time (one token per
// character) while their text is never markup: they are set aside before the
// parse, a marker in their place, and put back into the tree afterwards
// exactly as the tokenizer would have kept them. Whatever could make the
// tokenizer read them otherwise (comment-like openings inside a script,
// foreign content, text that is not valid UTF-8) is left to the tokenizer.
constexpr size_t kSetAsideMin = 32;

// Where the raw text that starts at `from` ends for element `name`: at
// "</name" followed by white space, '/' or '>'; npos when it does not end.
size_t RawTextEnd(std::string_view s, size_t from, std::string_view name) {
  for (size_t close = from; (close = s.find("</", close)) != std::string_view::npos; close += 2) {
    if (!EqualsIgnoreCase(s.substr(close + 2, name.size()), name)) continue;
    const size_t after = close + 2 + name.size();
    if (after >= s.size()) return std::string_view::npos;
    const char c = s[after];
    if (IsAsciiSpace(c) || c == '/' || c == '>') return close;
  }
  return std::string_view::npos;
}

// Code points the tokenizer replaces by U+FFFD: controls other than white
// space, and noncharacters.
bool ReplacedByTokenizer(char32_t c) {
  return c == 0 || (c >= 0x1 && c <= 0x8) || c == 0xB || (c >= 0xE && c <= 0x1F) || (c >= 0x7F && c <= 0x9F) ||
         (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFF) == 0xFFFE || (c & 0xFFFF) == 0xFFFF;
}

// The raw text (valid UTF-8) as the tokenizer keeps it: line ends as "\n",
// the code points above as U+FFFD.
std::string AsTokenized(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  // Bytes that can start nothing the tokenizer changes.
  auto plain = [](unsigned char c) {
    return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n' || c == '\f' || (c >= 0x80 && c <= 0xC1) ||
           (c >= 0xC3 && c <= 0xEE);
  };
  for (size_t i = 0; i < raw.size();) {
    size_t run = i;
    while (run < raw.size() && plain(static_cast<unsigned char>(raw[run]))) ++run;
    out.append(raw.substr(i, run - i));
    i = run;
    if (i >= raw.size()) break;
    const unsigned char c = static_cast<unsigned char>(raw[i]);
    if (c == '\r') {
      out += '\n';
      i += i + 1 < raw.size() && raw[i + 1] == '\n' ? 2 : 1;
      continue;
    }
    const size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t cp = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
    for (size_t k = 1; k < len && i + k < raw.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(raw[i + k]) & 0x3F);
    if (ReplacedByTokenizer(cp)) out += "\xEF\xBF\xBD";
    else out.append(raw.substr(i, len));
    i += len;
  }
  return out;
}

// Long attribute values (addresses, srcsets, drawings' paths, data for
// scripts) cost the tokenizer a step per character too; a quoted one that
// holds no character reference and nothing the tokenizer would change is set
// aside as well. Appends the tag [from, end) to out; false when none was.
constexpr size_t kValueAsideMin = 32;

bool SetAsideValues(std::string_view s, size_t from, size_t end, std::string& out, size_t& copied,
                    std::vector<std::string>& aside) {
  bool any = false;
  for (size_t i = from + 1; i < end; ++i) {
    const char q = s[i];
    if (q != '"' && q != '\'') continue;
    size_t k = i;
    while (k > from && IsAsciiSpace(s[k - 1])) --k;
    if (k <= from || s[k - 1] != '=') continue;
    // The '=' follows a name that white space opens ("a=b='c'" is one
    // unquoted value to the tokenizer).
    size_t n = k - 1;
    while (n > from && IsAsciiSpace(s[n - 1])) --n;
    const size_t name_end = n;
    while (n > from && !IsAsciiSpace(s[n - 1]) && !std::strchr("\"'=<>/", s[n - 1])) --n;
    const bool named = n < name_end && n > from && IsAsciiSpace(s[n - 1]);
    const size_t close = s.find(q, i + 1);
    if (!named) return any;  // the rest of the tag is left to the tokenizer
    if (close == std::string_view::npos || close >= end) return any;
    const std::string_view value = s.substr(i + 1, close - i - 1);
    if (value.size() >= kValueAsideMin && value.find('&') == std::string_view::npos && IsValidUtf8(value)) {
      std::string tokenized = AsTokenized(value);
      if (tokenized == value) {
        if (out.empty()) out.reserve(s.size());
        out.append(s.substr(copied, i + 1 - copied));
        out.append(kMarkerTag);
        out.append(std::to_string(aside.size()));
        out.append(kMarker);
        aside.push_back(std::move(tokenized));
        copied = close;
        any = true;
      }
    }
    i = close;
  }
  return any;
}

std::string SetAsideRawText(std::string text, std::vector<std::string>& aside) {
  const std::string_view s(text);
  if (s.find(kMarkerTag) != std::string_view::npos) return text;  // markers must be ours alone
  std::string out;
  size_t copied = 0;  // s up to here is in out (when anything was set aside)
  size_t foreign = 0;
  size_t i = 0;
  auto name_at = [&](size_t at) {
    std::string name;
    while (at < s.size() && IsTagNameChar(s[at]) && name.size() < 16)
      name += char(std::tolower(static_cast<unsigned char>(s[at++])));
    return name;
  };
  while ((i = s.find('<', i)) != std::string_view::npos) {
    if (s.compare(i, 4, "<!--") == 0) {
      size_t end = s.find("-->", i + 4);
      if (end == std::string_view::npos) break;
      i = end + 3;
      continue;
    }
    const bool closing = i + 1 < s.size() && s[i + 1] == '/';
    const size_t name_from = i + (closing ? 2 : 1);
    if (name_from >= s.size() || !std::isalpha(static_cast<unsigned char>(s[name_from]))) {
      const bool declaration = !closing && name_from < s.size() && (s[name_from] == '!' || s[name_from] == '?');
      i = declaration ? TagEnd(s, i) : i + 1;
      continue;
    }
    const std::string name = name_at(name_from);
    const size_t end = TagEnd(s, i);
    if (end >= s.size()) break;
    const bool self_closed = s[end - 2] == '/';
    if (!closing && end - i > kValueAsideMin) SetAsideValues(s, i, end, out, copied, aside);
    i = end;
    if (closing) {
      if ((name == "svg" || name == "math") && foreign > 0) --foreign;
      continue;
    }
    if (name == "svg" || name == "math") {
      if (!self_closed) ++foreign;
      continue;
    }
    if (name == "plaintext" && foreign == 0) break;
    if (foreign > 0 || !RawText(name)) continue;
    const size_t close = RawTextEnd(s, end, name);
    if (close == std::string_view::npos) break;
    const std::string_view raw = s.substr(end, close - end);
    i = close;
    const bool script = name == "script";
    if ((!script && name != "style") || raw.size() < kSetAsideMin ||
        (script && raw.find("<!--") != std::string_view::npos) || !IsValidUtf8(raw))
      continue;
    if (out.empty()) out.reserve(s.size());
    out.append(s.substr(copied, end - copied));
    out.append(kMarkerTag);
    out.append(std::to_string(aside.size()));
    out.append(kMarker);
    aside.push_back(AsTokenized(raw));
    copied = close;
  }
  if (aside.empty()) return text;
  out.append(s.substr(copied));
  return out;
}

// Runs of white space between tags are most of a page's text nodes after its
// scripts, and the tokenizer reads them character by character while the
// document layer shows each run as one space, or one line feed when it held
// one. They are shortened so before the parse. Tags, comments and the text of
// elements that keep their white space (pre, textarea, raw text) pass whole.
std::string CollapseSpaceRuns(std::string text) {
  const std::string_view s(text);
  auto space = [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\f'; };
  auto keeps_spaces = [](std::string_view n) {
    return RawText(n) || OneOf(n, {"pre", "listing", "plaintext", "noscript"});
  };
  std::string out;
  size_t copied = 0;  // s up to here is in out
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '<') {
      if (s.compare(i, 4, "<!--") == 0) {
        const size_t end = s.find("-->", i + 4);
        if (end == std::string_view::npos) break;
        i = end + 3;
        continue;
      }
      const bool closing = i + 1 < s.size() && s[i + 1] == '/';
      const size_t name_from = i + (closing ? 2 : 1);
      if (name_from >= s.size()) break;
      if (!std::isalpha(static_cast<unsigned char>(s[name_from]))) {
        const bool declaration = !closing && (s[name_from] == '!' || s[name_from] == '?');
        i = declaration ? TagEnd(s, i) : i + 1;
        continue;
      }
      std::string name;
      for (size_t at = name_from; at < s.size() && IsTagNameChar(s[at]) && name.size() < 16; ++at)
        name += char(std::tolower(static_cast<unsigned char>(s[at])));
      i = TagEnd(s, i);
      if (closing || !keeps_spaces(name)) continue;
      if (name == "plaintext") break;
      const size_t close = RawTextEnd(s, i, name);
      if (close == std::string_view::npos) break;
      i = close;
      continue;
    }
    if (!space(c) || i + 1 >= s.size() || !space(s[i + 1])) {
      ++i;
      continue;
    }
    size_t end = i;
    bool line = false;
    while (end < s.size() && space(s[end])) line |= s[end] == '\n' || s[end] == '\r', ++end;
    if (out.empty()) out.reserve(s.size());
    out.append(s.substr(copied, i - copied));
    out += line ? '\n' : ' ';
    copied = i = end;
  }
  if (copied == 0) return text;
  out.append(s.substr(copied));
  return out;
}

// gumbo's parse, or null when `cancel` stopped it. Its output lives in the
// pool and goes with it, also when the parse is left half done.
GumboOutput* ParseOrGiveUp(const GumboOptions& options, const std::string& text, ParsePool& pool,
                           const std::atomic<bool>* cancel) {
  std::jmp_buf escape;
  pool.SetCancel(cancel, &escape);
  if (setjmp(escape) != 0) {
    pool.SetCancel(nullptr, nullptr);
    return nullptr;
  }
  GumboOutput* output = gumbo_parse_with_options(&options, text.data(), text.size());
  pool.SetCancel(nullptr, nullptr);
  return output;
}

}  // namespace

HtmlDocument::HtmlDocument() : impl_(std::make_unique<Impl>()) {}
HtmlDocument::~HtmlDocument() = default;
HtmlDocument::HtmlDocument(HtmlDocument&&) noexcept = default;
HtmlDocument& HtmlDocument::operator=(HtmlDocument&&) noexcept = default;

HtmlDocument HtmlDocument::Parse(std::string utf8_text, std::string url,
                                 std::string declared_charset) {
  return ParseWith(std::move(utf8_text), std::move(url), std::move(declared_charset), true);
}

HtmlDocument HtmlDocument::ParseWith(std::string utf8_text, std::string url, std::string declared_charset,
                                     bool set_aside_raw_text, const std::atomic<bool>* cancel) {
  HtmlDocument doc;
  Impl& d = *doc.impl_;
  d.url = std::move(url);
  d.charset = std::move(declared_charset);
  const size_t text_size = utf8_text.size();
  std::vector<std::string> aside;
  if (set_aside_raw_text) utf8_text = SetAsideRawText(std::move(utf8_text), aside);
  utf8_text = CollapseSpaceRuns(std::move(utf8_text));
  utf8_text = CapNesting(std::move(utf8_text), kMaxNesting);
  ParsePool pool;
  GumboOptions options = Impl::Options();
  options.allocator = &ParsePool::Allocate;
  options.deallocator = &ParsePool::Deallocate;
  options.userdata = &pool;
  GumboOutput* output = ParseOrGiveUp(options, utf8_text, pool, cancel);
  if (output && output->root) d.Copy(output->root, text_size, aside);
  d.Index();
  return doc;
}

std::string HtmlDocument::TextForParser(std::string utf8_text) {
  std::vector<std::string> aside;
  return CapNesting(CollapseSpaceRuns(SetAsideRawText(std::move(utf8_text), aside)), kMaxNesting);
}

HtmlDocument HtmlDocument::FromBytes(std::string_view bytes, std::string_view header_charset,
                                     std::string url, const std::atomic<bool>* cancel) {
  DecodedPage page = DecodePage(bytes, header_charset);
  return ParseWith(std::move(page.text), std::move(url), std::move(page.declared_charset), true, cancel);
}

bool HtmlDocument::HasTree() const { return !impl_->elements.empty(); }
int HtmlDocument::Body() const { return impl_->body; }
int HtmlDocument::ElementCount() const { return int(impl_->elements.size()); }
const std::string& HtmlDocument::Url() const { return impl_->url; }
const std::string& HtmlDocument::BaseUrl() const { return impl_->base_url; }
const std::string& HtmlDocument::DeclaredCharset() const { return impl_->charset; }

size_t HtmlDocument::MemoryUsed() const {
  const Impl& d = *impl_;
  size_t names = 0;
  for (const std::string& n : d.unknown_names) names += n.capacity() + sizeof n;
  return sizeof d + d.url.capacity() + d.base_url.capacity() + d.charset.capacity() +
         d.arena.capacity() + d.nodes.capacity() * sizeof(Node) +
         d.attrs.capacity() * sizeof(Attr) + d.elements.capacity() * sizeof(Element) +
         d.child_ids.capacity() * sizeof(int) + d.element_of.capacity() * sizeof(int) + names;
}

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
  return impl_->Valid(element) && impl_->FindAttr(impl_->elements[size_t(element)].node, name);
}

std::string HtmlDocument::Attribute(int element, std::string_view name) const {
  if (!impl_->Valid(element)) return {};
  const Attr* a = impl_->FindAttr(impl_->elements[size_t(element)].node, name);
  if (!a) return {};
  std::string_view value = impl_->Str(a->value_off, a->value_len);
  if (EqualsIgnoreCase(name, "href") || EqualsIgnoreCase(name, "src"))
    return ResolveUrl(impl_->base_url, value);
  return std::string(value);
}

std::string HtmlDocument::InnerText(int element) const {
  if (!impl_->Valid(element) || IsComment(element)) return {};
  const Impl& d = *impl_;
  const auto& kinds = TagKinds();
  TextSink sink;
  int pre_depth = 0;
  // Walks the subtree by its sibling and parent links: no recursion, since
  // pages nest deeper than a thread's stack allows.
  auto enter = [&](int n) -> bool {  // true: element entered
    const Node& node = d.nodes[size_t(n)];
    if (node.kind == kTextNode) {
      if (pre_depth > 0) sink.PreText(d.NodeText(n));
      else sink.Text(d.NodeText(n));
      return false;
    }
    if (node.kind != kElementNode) return false;
    TagKind k = kinds[node.tag];
    if (k == kSkip || d.IsHidden(n)) return false;
    if (k == kBreak) {
      sink.NewLine();
      return false;
    }
    if (k == kBlock || k == kPre) sink.Break(1);
    else if (k == kParagraph) sink.Break(2);
    if (k == kPre) ++pre_depth;
    return true;
  };
  auto leave = [&](int n) {
    TagKind k = kinds[d.nodes[size_t(n)].tag];
    if (k == kBlock || k == kPre) sink.Break(1);
    else if (k == kParagraph) sink.Break(2);
    else if (k == kCell) sink.Tab();
    if (k == kPre) --pre_depth;
  };
  const int root = d.elements[size_t(element)].node;
  int cur = d.nodes[size_t(root)].first_child;
  while (cur >= 0) {
    if (enter(cur)) {
      if (d.nodes[size_t(cur)].first_child >= 0) {
        cur = d.nodes[size_t(cur)].first_child;
        continue;
      }
      leave(cur);
    }
    while (cur >= 0 && d.nodes[size_t(cur)].next < 0) {
      cur = d.nodes[size_t(cur)].parent;
      if (cur == root) cur = -1;
      else leave(cur);
    }
    if (cur >= 0) cur = d.nodes[size_t(cur)].next;
  }
  return sink.Take();
}

std::string HtmlDocument::AdjacentText(int element, AdjacentPosition pos) const {
  if (!impl_->Valid(element)) return {};
  const Impl& d = *impl_;
  const int node = d.elements[size_t(element)].node;
  int start = -1;
  bool forward = true;
  switch (pos) {
    case AdjacentPosition::kBeforeBegin:
      start = d.nodes[size_t(node)].prev;
      forward = false;
      break;
    case AdjacentPosition::kAfterEnd:
      start = d.nodes[size_t(node)].next;
      break;
    case AdjacentPosition::kAfterBegin:
      start = d.nodes[size_t(node)].kind == kElementNode ? d.nodes[size_t(node)].first_child : -1;
      break;
    case AdjacentPosition::kBeforeEnd:
      start = d.nodes[size_t(node)].kind == kElementNode ? d.nodes[size_t(node)].first_child : -1;
      while (start >= 0 && d.nodes[size_t(start)].next >= 0) start = d.nodes[size_t(start)].next;
      forward = false;
      break;
  }
  // The run of text nodes next to that place, in document order.
  std::vector<int> run;
  for (int n = start; n >= 0 && d.nodes[size_t(n)].kind == kTextNode;
       n = forward ? d.nodes[size_t(n)].next : d.nodes[size_t(n)].prev)
    run.push_back(n);
  if (!forward) std::reverse(run.begin(), run.end());
  // Spaces are kept, not trimmed, so the words on either side stay apart; a
  // run of white space becomes one space, or one line feed if it held one.
  std::string out;
  bool pending = false, line_feed = false;
  for (int n : run) {
    for (char c : d.NodeText(n)) {
      if (IsAsciiSpace(c)) {
        pending = true;
        line_feed = line_feed || c == '\n';
        continue;
      }
      if (pending) out += line_feed ? '\n' : ' ';
      pending = line_feed = false;
      out += c;
    }
  }
  if (pending) out += line_feed ? '\n' : ' ';
  return out;
}

std::string HtmlDocument::CommentText(int element) const {
  if (!IsComment(element)) return {};
  return std::string(impl_->NodeText(impl_->elements[size_t(element)].node));
}

void HtmlDocument::ChildNodes(int element, std::vector<ChildNode>& out) const {
  out.clear();
  if (!impl_->Valid(element)) return;
  const Impl& d = *impl_;
  const Node& n = d.nodes[size_t(d.elements[size_t(element)].node)];
  if (n.kind != kElementNode) return;
  for (int c = n.first_child; c >= 0; c = d.nodes[size_t(c)].next) {
    if (d.nodes[size_t(c)].kind == kTextNode) out.push_back({-1, d.NodeText(c)});
    else out.push_back({d.element_of[size_t(c)], {}});
  }
}

}  // namespace orvo
