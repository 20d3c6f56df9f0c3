// News feeds (RSS and Atom) as a second source of news links: for a list page
// whose list mask finds nothing, the feed the page advertises, or the list
// address itself when it is a feed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "gatherer/masks/extraction.h"
#include "gatherer/masks/html_document.h"

namespace orvo {

// True when bytes hold an RSS, RDF or Atom document rather than a web page.
bool LooksLikeFeed(std::string_view bytes);

// The feeds a page advertises with <link rel="alternate" type="application/
// rss+xml"> (or atom+xml), as absolute addresses, in page order.
std::vector<std::string> AdvertisedFeeds(const HtmlDocument& page);

// The items of a feed as news links (each address once, in feed order), the
// date from pubDate, dc:date, published or updated; a link without a readable
// date keeps the null date. base resolves relative addresses. Not a feed, or
// not well-formed: no link.
std::vector<NewsLink> ReadFeed(std::string_view bytes, std::string_view base);

// "Tue, 10 Jun 2003 04:00:00 GMT" (the zone is ignored: list dates are local
// wall-clock times throughout).
bool ParseFeedDate(std::string_view text, DateTime& out);

// One entry of a feed, as a user's own site gives it.
struct FeedEntry {
  std::string address;  // absolute, accepted as a news link
  std::string title;    // plain text, entities and markup resolved
  std::string author;
  std::string content;       // HTML: content:encoded or Atom content, else the summary
  bool fullContent = false;  // content came from content:encoded or Atom content
  DateTime date;             // local time; null when the entry has none
};

struct ParsedFeed {
  bool ok = false;
  std::string error;   // why not, with where for broken XML
  std::string format;  // "RSS 2.0", "RSS 1.0", "Atom 1.0", "RSS 0.91"
  std::string title;
  std::string siteUrl;             // the site's own page, when the feed names it
  std::vector<FeedEntry> entries;  // each address once, in feed order
  int skipped = 0;                 // entries without a usable link
};

// Reads an RSS 0.9x/2.0, RSS 1.0 (RDF) or Atom 1.0 document. base is the
// address it came from; xml:base on the feed, entry or link comes first.
ParsedFeed ParseFeed(std::string_view bytes, std::string_view base);

// An RSS or Atom date in any of its forms (RFC 822 with or without the day
// name and with a named or numeric zone, RFC 3339 / ISO 8601, W3C-DTF) as
// local time; a date without a zone is taken as local already.
bool ParseEntryDate(std::string_view text, DateTime& out);

// Feed content HTML as a stored body: the body composition's paragraphs and
// pictures only (no scripts, styles, event attributes or frames), images
// appended to state.images.
void ComposeFeedContent(std::string_view html, std::string_view base, ExtractionState& state);

}  // namespace orvo
