// The HTML document layer over gumbo, used for downloaded pages and for masks
// alike: element tree with upper-case tag names (comments are elements named
// "!"), attributes by name, innerText as a browser renders it, the text next
// to an element, and href/src as absolute addresses.
#pragma once

#include <atomic>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvo {

// The four places next to an element where text can lie.
enum class AdjacentPosition { kBeforeBegin, kAfterBegin, kBeforeEnd, kAfterEnd };

// Elements are named by their document-order index (0 is the HTML element);
// -1 stands for "no element".
inline constexpr size_t kMaxNesting = 512;

class HtmlDocument {
 public:
  HtmlDocument();
  ~HtmlDocument();
  HtmlDocument(HtmlDocument&&) noexcept;
  HtmlDocument& operator=(HtmlDocument&&) noexcept;

  // Parses UTF-8 text; url is the page address that href/src resolve
  // against, charset the name the page declared (kept for the caller).
  // Elements nest at most kMaxNesting deep, as in browsers: deeper start
  // tags (and their end tags) are left out, their content stays.
  static HtmlDocument Parse(std::string utf8_text, std::string url = {},
                            std::string declared_charset = {});
  // As Parse; set_aside_raw_text false sends every script and style through
  // the tokenizer, which gives the same tree more slowly (for tests).
  // A parse whose `cancel` becomes true (its caller stopped waiting) gives
  // up soon after and returns a document without a tree.
  static HtmlDocument ParseWith(std::string utf8_text, std::string url, std::string declared_charset,
                                bool set_aside_raw_text, const std::atomic<bool>* cancel = nullptr);
  // The text ParseWith gives gumbo, with the raw text set aside and dropped:
  // for measuring gumbo's own part of a parse.
  static std::string TextForParser(std::string utf8_text);
  // Decodes downloaded bytes (see DecodePage) and parses them.
  static HtmlDocument FromBytes(std::string_view bytes, std::string_view header_charset,
                                std::string url, const std::atomic<bool>* cancel = nullptr);

  bool HasTree() const;
  int Body() const;  // -1 for a frameset page or no tree
  int ElementCount() const;
  const std::string& Url() const;
  const std::string& BaseUrl() const;          // BASE href resolved, else Url()
  const std::string& DeclaredCharset() const;  // empty when the page named none
  // Heap bytes the tree holds (the parser's own tree is gone once parsed).
  size_t MemoryUsed() const;

  // Element children in document order, comments included.
  std::span<const int> Children(int element) const;
  int Parent(int element) const;
  std::string_view TagName(int element) const;  // "DIV", "!", "CMNT", ...
  bool IsComment(int element) const;
  // How many children of the parent with the same tag name come before it.
  int SameTagIndex(int element) const;

  // Attribute value by name (letter case ignored); absent reads as empty.
  // href and src come back as absolute addresses.
  std::string Attribute(int element, std::string_view name) const;
  bool HasAttribute(int element, std::string_view name) const;
  std::string ClassName(int element) const { return Attribute(element, "class"); }

  // The text as a browser shows it: block elements and BR break lines, runs of
  // white space collapse, scripts, styles and hidden elements show nothing.
  std::string InnerText(int element) const;
  // Text of the text nodes right next to the element at pos: each run of
  // white space becomes one space (one line feed when it held one), the ends
  // kept; empty when an element or nothing lies there.
  std::string AdjacentText(int element, AdjacentPosition pos) const;
  // The text of a comment element.
  std::string CommentText(int element) const;

  // The element's child nodes in document order, for code that weighs text
  // against markup: an element (comments included) comes as its id with
  // empty text, a text node as -1 with its raw text, except that runs of
  // white space outside pre, textarea and raw text elements are one space
  // (one line feed when they held one). Fills out (cleared first).
  struct ChildNode {
    int element;
    std::string_view text;
  };
  void ChildNodes(int element, std::vector<ChildNode>& out) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvo
