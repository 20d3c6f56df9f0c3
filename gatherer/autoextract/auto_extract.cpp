#include "gatherer/autoextract/auto_extract.h"

#include <cstring>
#include <string_view>
#include <utility>

#include "gatherer/autoextract/author.h"
#include "gatherer/autoextract/date.h"
#include "gatherer/autoextract/main_block.h"
#include "gatherer/autoextract/page_figures.h"
#include "gatherer/autoextract/title.h"
#include "gatherer/masks/text_util.h"

namespace orvo {

namespace {

using namespace autoextract;

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


// A body longer than the store keeps ends at the last paragraph that fits
// whole (else the last sentence): the store would cut it mid-word. Counted as
// the store counts, a line feed as its "<br />".
void CutAtParagraphEnd(std::string& body) {
  size_t chars = 0, paragraph_end = 0, sentence_end = 0;
  const std::string_view b = body;
  for (size_t i = 0; i < b.size(); ++i) {
    if (b[i] == '<' && (b.compare(i, std::strlen(kParagraphBreak1), kParagraphBreak1) == 0 ||
                        b.compare(i, std::strlen(kParagraphBreak2), kParagraphBreak2) == 0))
      paragraph_end = i;
    else if (b[i] == '\n')
      paragraph_end = i;
    else if (b[i] == ' ' && i > 0 && (b[i - 1] == '.' || b[i - 1] == '!' || b[i - 1] == '?'))
      sentence_end = i;
    chars += b[i] == '\n' ? 6 : (static_cast<unsigned char>(b[i]) & 0xC0) != 0x80;
    if (chars > kMaxBodyChars) {
      const size_t end = paragraph_end > 0 ? paragraph_end : sentence_end;
      if (end > 0) body.erase(end);
      return;
    }
  }
}

}  // namespace

std::string AutoTitle(const HtmlDocument& page) { return TitleOf(page, nullptr); }
std::string AutoAuthor(const HtmlDocument& page) {
  const PageFigures fig = Measure(page);
  return AuthorOf(page, fig, -1);
}
DateTime AutoDate(const HtmlDocument& page) { return DateOf(page, nullptr); }

AutoExtractResult AutoExtract(const HtmlDocument& page, ExtractionState& state) {
  AutoExtractResult result;
  if (page.Body() < 0) return result;
  const PageFigures fig = Measure(page);
  // First with the furniture hints; when they leave too little (a wrapper
  // named like furniture), once more without them, keeping the longer text.
  ExtractionState strict = state, relaxed = state;
  int main = ComposeMainText(page, fig, true, strict);
  size_t chars = VisibleBodyChars(strict.body);
  if (chars < 250) {
    const int other = ComposeMainText(page, fig, false, relaxed);
    if (VisibleBodyChars(relaxed.body) > chars * 2) {
      strict = std::move(relaxed);
      main = other;
      chars = VisibleBodyChars(strict.body);
    }
  }
  result.main_block = main;
  if (chars == 0) return result;  // pictures alone are no news text
  state = std::move(strict);
  CutAtParagraphEnd(state.body);
  result.found = true;
  state.title = TitleOf(page, &fig);
  state.author = AuthorOf(page, fig, main);
  result.date = DateOf(page, &fig);
  return result;
}

}  // namespace orvo
