// Automatic extraction: finds the news of a page without a mask, for pairs
// whose news mask is missing or no longer matches. The main text block is
// chosen by text and link density, paragraph structure and class/id hints;
// title, author, date and pictures come from the page's usual places. The
// body is composed with the same operations as a mask walk, so the item
// store and everything after it see no difference.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "gatherer/masks/date_parse.h"
#include "gatherer/masks/extraction.h"
#include "gatherer/masks/html_document.h"
#include "gatherer/masks/picture_source.h"

namespace orvo {

struct AutoExtractResult {
  bool found = false;  // a main block with text was found (the body is not empty)
  DateTime date;       // the page's publication date; status null when none was read
  int main_block = -1; // the element chosen as the main block
};

// Appends title, author, body and images of page to state (which should be
// empty for a news item, as after ClearNewsItem). Framesets, empty pages and
// pages of only links give found == false and leave the body empty.
AutoExtractResult AutoExtract(const HtmlDocument& page, ExtractionState& state);

// The parts on their own, without the figures of a main block, for tests.
std::string AutoTitle(const HtmlDocument& page);
std::string AutoAuthor(const HtmlDocument& page);
DateTime AutoDate(const HtmlDocument& page);

}  // namespace orvo
