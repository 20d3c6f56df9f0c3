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

}  // namespace orvo
