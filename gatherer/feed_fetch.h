// Reading the feed of an own site: one conditional request with its caps and
// the server's Retry-After, and the discovery behind `orvo site add` (a feed,
// a page advertising feeds, or a page with a feed at a well-known path).
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "gatherer/masks/feed.h"
#include "store/own_sites.h"

namespace orvo {

class HttpSession;

// Feeds past this are not read (and the user is told).
inline constexpr size_t kOwnFeedLimit = 16u << 20;

struct FeedFetch {
  enum class Outcome { kFeed, kNotModified, kFailed };
  Outcome outcome = Outcome::kFailed;
  std::string error;  // in words, for the log and the status line
  ParsedFeed feed;
  std::string etag, lastModified;
  long status = 0;
};

// GETs url with If-None-Match / If-Modified-Since from the validators given.
// A 429 or 503 whose Retry-After fits in timeoutSeconds is waited for and
// asked once more (the wait ends early while *cancel is true). A 304 is
// kNotModified and costs no parse.
FeedFetch FetchFeed(HttpSession& http, const std::string& url, const std::string& etag, const std::string& lastModified,
                    int timeoutSeconds, const std::atomic<bool>* cancel = nullptr);

// An address as a browser takes it from the address bar: white space
// trimmed, http:// when it names no scheme, spaces and bytes past ASCII in
// the path and query percent-encoded.
std::string NormalizeAddress(const std::string& typed);

struct Discovery {
  bool ok = false;
  std::string error;               // what was found instead, and what to do
  std::vector<std::string> feeds;  // the feeds the page advertises, in order
  std::string feedUrl;             // the one taken
  OwnKind kind = OwnKind::kFeed;   // kPage when the address was a page
  std::string pageUrl;
  ParsedFeed feed;
  // What automatic extraction gives for the first entry's page.
  std::string previewTitle, previewText;
  std::string previewError;
};

// Finds the feed behind address: feedIndex (0-based) picks one of several
// advertised feeds. Well-known paths (/feed, /rss, /atom.xml, /index.xml,
// /feed.xml) are tried when a page advertises none.
Discovery Discover(HttpSession& http, const std::string& address, size_t feedIndex, int timeoutSeconds);

// Fills the preview fields of d from the first entry's page.
void PreviewFirstEntry(HttpSession& http, Discovery& d);

}  // namespace orvo
