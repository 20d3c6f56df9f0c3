// The extraction interpreter: walks a page's document against a mask and
// collects news links with dates (list pages) or the title, author, body and
// images of one news item (news pages), plus the composition of that body.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gatherer/masks/date_parse.h"
#include "gatherer/masks/html_document.h"
#include "gatherer/masks/mask.h"

namespace orvo {

struct NewsLink {
  std::string address;
  DateTime date;  // zero date, status null, until a date is found
};

struct ImageRef {
  std::string source;  // absolute address; empty while only its caption is known
  std::string caption;
};

// Capture buffers of one gathering window, filled by WalkPage.
struct ExtractionState {
  std::string body;
  std::string title;
  std::string author;
  std::vector<ImageRef> images;  // position = placeholder number
  std::vector<NewsLink> links;
  std::string date_text;
  DateTime current_date;
  bool date_first = false;
  bool last_parse_ok = false;
  bool list_phase = false;
  bool load_images = true;  // the LoadImages setting
  DateTime page_now;        // when the page's walk began; its year fills dates without one

  // What the run driver does before each page's walk.
  void BeginPage(const DateTime& now) {
    date_first = false;
    current_date = now;
    page_now = now;
  }
  // What the item store does after taking a news item.
  void ClearNewsItem() {
    body.clear();
    title.clear();
    author.clear();
    images.clear();
  }
};

// Extensions of links that are never news pages.
extern const char* const kExcludedLinkExtensions[8];

// Normalises a candidate news link; false when it is to be dropped.
bool AcceptLink(std::string_view href, std::string& accepted);

// Walks page against mask into state. Nothing happens without a page body or
// a loaded mask. Call state.BeginPage(now) first. False when the walk passed
// `deadline` and stopped part way (state then holds a part of the page).
bool WalkPage(const HtmlDocument& page, const Mask& mask, ExtractionState& state,
              std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);

// After a list page's walk: links without a valid date take one from their
// address (mask.date_in_url) or now; links older than `days` days are
// dropped. days 0 does nothing.
void ApplyLinkDates(const Mask& mask, int days, const DateTime& now, ExtractionState& state);

// Body composition.
extern const char kParagraphBreak1[];
extern const char kParagraphBreak2[];
void AddParagraph(ExtractionState& state, std::string_view value);
void AddImage(ExtractionState& state, std::string_view source);
void AddCaption(ExtractionState& state, std::string_view text);
// Appends page text to a body, HTML-escaped as the walk appends it.
void AppendEscapedBodyText(std::string& body, std::string_view text);

// A news item as it is stored: line feeds as "<br />", body cut to 63,499
// characters (never inside a character, a tag, an entity or a placeholder),
// title, author and address to 254 characters. Page text in the body is
// HTML-escaped; title, author and captions are plain text.
struct FinishedNewsItem {
  std::string body;
  std::string title;
  std::string author;
  std::string address;
  std::vector<ImageRef> images;
};
constexpr size_t kMaxBodyChars = 63499;
constexpr size_t kMaxFieldChars = 254;
FinishedNewsItem FinishNewsItem(const ExtractionState& state, std::string_view address);

}  // namespace orvo
