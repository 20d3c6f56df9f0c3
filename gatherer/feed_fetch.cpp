#include "feed_fetch.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "gatherer/autoextract/auto_extract.h"
#include "gatherer/masks/html_document.h"
#include "gatherer/masks/text_util.h"
#include "gatherer/masks/url.h"
#include "http_client.h"

namespace orvo {

namespace {

constexpr const char* kWellKnown[] = {"/feed", "/rss", "/atom.xml", "/index.xml", "/feed.xml"};

std::string Failure(const HttpResponse& r) {
  if (!r.ok()) return r.error;
  return "HTTP status " + std::to_string(r.status);
}

// Seconds of a Retry-After header (a number; a date is not waited for).
int RetryAfterSeconds(const HttpResponse& r) {
  const std::string v = TrimCopy(r.Header("retry-after"));
  if (v.empty() || v.size() > 6 || v.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::stoi(v);
}

void Wait(int seconds, const std::atomic<bool>* cancel) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < until && !(cancel && *cancel))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

bool LooksLikeHtml(const std::string& bytes, const std::string& contentType) {
  if (AsciiLower(contentType).find("html") != std::string::npos) return true;
  const std::string head = AsciiLower(bytes.substr(0, 2048));
  return head.find("<html") != std::string::npos || head.find("<!doctype html") != std::string::npos ||
         head.find("<head") != std::string::npos || head.find("<body") != std::string::npos;
}

std::string Origin(const std::string& url) {
  size_t scheme = url.find("://");
  if (scheme == std::string::npos) return url;
  size_t slash = url.find('/', scheme + 3);
  return slash == std::string::npos ? url : url.substr(0, slash);
}

}  // namespace

FeedFetch FetchFeed(HttpSession& http, const std::string& url, const std::string& etag, const std::string& lastModified,
                    int timeoutSeconds, const std::atomic<bool>* cancel) {
  FeedFetch out;
  std::vector<std::string> headers = {
      "Accept: application/rss+xml, application/atom+xml, application/xml;q=0.9, */*;q=0.5"};
  if (!etag.empty()) headers.push_back("If-None-Match: " + etag);
  if (!lastModified.empty()) headers.push_back("If-Modified-Since: " + lastModified);
  http.SetBodyLimit(kOwnFeedLimit);
  std::string bytes;
  HttpResponse r;
  for (int attempt = 0; attempt < 2; ++attempt) {
    r = http.Get(url, headers, &bytes);
    const int after = r.ok() && (r.status == 429 || r.status == 503) ? RetryAfterSeconds(r) : -1;
    if (attempt > 0 || after < 0 || after > timeoutSeconds) break;
    Wait(after, cancel);
    if (cancel && *cancel) break;
  }
  http.SetBodyLimit(32u << 20);
  out.status = r.status;
  if (r.ok() && r.status == 304) {
    out.outcome = FeedFetch::Outcome::kNotModified;
    out.etag = etag;
    out.lastModified = lastModified;
    return out;
  }
  if (!r.ok() || r.status >= 400) {
    out.error = "the feed did not answer (" + Failure(r) + ")";
    if (r.ok() && (r.status == 429 || r.status == 503) && !r.Header("retry-after").empty())
      out.error += "; the server asks to come back after " + r.Header("retry-after");
    return out;
  }
  if (r.limited) {
    out.error = "the feed is larger than " + std::to_string(kOwnFeedLimit >> 20) + " MB and is not read";
    return out;
  }
  if (!LooksLikeFeed(bytes)) {
    out.error = LooksLikeHtml(bytes, r.Header("content-type"))
                    ? "the address answers with a web page instead of its feed"
                    : "the address answers with something that is not a feed";
    return out;
  }
  out.feed = ParseFeed(bytes, r.finalUrl.empty() ? url : r.finalUrl);
  if (!out.feed.ok) {
    out.error = out.feed.error;
    return out;
  }
  out.outcome = FeedFetch::Outcome::kFeed;
  out.etag = r.Header("etag");
  out.lastModified = r.Header("last-modified");
  return out;
}

std::string NormalizeAddress(const std::string& typed) {
  std::string s = TrimCopy(typed);
  if (s.find("://") == std::string::npos) s = "http://" + s;
  const size_t hostStart = s.find("://") + 3;
  size_t pathStart = s.find_first_of("/?#", hostStart);
  if (pathStart == std::string::npos) {
    s += "/";
    pathStart = s.size() - 1;
  }
  static const char* hex = "0123456789ABCDEF";
  std::string out = s.substr(0, pathStart);
  for (size_t i = pathStart; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c <= ' ' || c >= 0x7F || c == '"' || c == '<' || c == '>') {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += char(c);
    }
  }
  return out;
}

Discovery Discover(HttpSession& http, const std::string& address, size_t feedIndex, int timeoutSeconds) {
  Discovery d;
  const std::string url = NormalizeAddress(address);
  std::string bytes;
  http.SetBodyLimit(kOwnFeedLimit);
  HttpResponse r = http.Get(url, {}, &bytes);
  http.SetBodyLimit(32u << 20);
  if (!r.ok() || r.status >= 400) {
    d.error = "Can not read " + url + ": " + Failure(r) + ". Check the address and the network.";
    return d;
  }
  if (r.limited) {
    d.error = url + " is larger than " + std::to_string(kOwnFeedLimit >> 20) + " MB; it is not read.";
    return d;
  }
  const std::string final = r.finalUrl.empty() ? url : r.finalUrl;
  auto take = [&](const std::string& feedUrl, OwnKind kind) {
    FeedFetch f = FetchFeed(http, feedUrl, "", "", timeoutSeconds);
    if (f.outcome != FeedFetch::Outcome::kFeed) {
      d.error = "The feed " + feedUrl + " can not be read: " + f.error + ".";
      return false;
    }
    d.ok = true;
    d.feedUrl = feedUrl;
    d.kind = kind;
    d.feed = std::move(f.feed);
    if (d.pageUrl.empty()) d.pageUrl = d.feed.siteUrl;
    return true;
  };
  if (LooksLikeFeed(bytes)) {
    ParsedFeed feed = ParseFeed(bytes, final);
    if (!feed.ok) {
      d.error = "The feed " + url + " can not be read: " + feed.error + ".";
      return d;
    }
    d.ok = true;
    d.feedUrl = url;
    d.feed = std::move(feed);
    d.pageUrl = d.feed.siteUrl;
    return d;
  }
  if (!LooksLikeHtml(bytes, r.Header("content-type"))) {
    const std::string type = r.Header("content-type");
    d.error = url + " is neither a feed nor a web page" + (type.empty() ? "" : " (it is " + type + ")") +
              ". Give the address of the site's feed or of its front page.";
    return d;
  }
  d.pageUrl = final;
  HtmlDocument page = HtmlDocument::FromBytes(bytes, "", final);
  d.feeds = AdvertisedFeeds(page);
  if (!d.feeds.empty()) {
    if (feedIndex >= d.feeds.size()) {
      d.error = "The page advertises " + std::to_string(d.feeds.size()) + " feeds; choose one of 1 to " +
                std::to_string(d.feeds.size()) + ".";
      return d;
    }
    take(d.feeds[feedIndex], OwnKind::kPage);
    return d;
  }
  const std::string origin = Origin(final);
  for (const char* path : kWellKnown) {
    std::string probe;
    http.SetBodyLimit(kOwnFeedLimit);
    HttpResponse p = http.Get(origin + path, {}, &probe);
    http.SetBodyLimit(32u << 20);
    if (p.ok() && p.status == 200 && !p.limited && LooksLikeFeed(probe)) {
      ParsedFeed feed = ParseFeed(probe, p.finalUrl.empty() ? origin + path : p.finalUrl);
      if (!feed.ok) continue;
      d.ok = true;
      d.feedUrl = origin + path;
      d.kind = OwnKind::kPage;
      d.feed = std::move(feed);
      return d;
    }
  }
  d.error = "No feed found: " + final +
            " advertises none and none answers at /feed, /rss, /atom.xml, /index.xml or /feed.xml. Nothing was stored.";
  return d;
}

void PreviewFirstEntry(HttpSession& http, Discovery& d) {
  if (d.feed.entries.empty()) return;
  const std::string& address = d.feed.entries.front().address;
  std::string bytes;
  HttpResponse r = http.Get(address, {}, &bytes);
  if (!r.ok() || r.status >= 400) {
    d.previewError = "its page can not be read (" + Failure(r) + ")";
    return;
  }
  HtmlDocument page = HtmlDocument::FromBytes(bytes, "", r.finalUrl.empty() ? address : r.finalUrl);
  ExtractionState state;
  state.load_images = false;
  AutoExtractResult found = AutoExtract(page, state);
  if (!found.found) {
    d.previewError = "automatic extraction finds no text on its page";
    return;
  }
  FinishedNewsItem item = FinishNewsItem(state, address);
  d.previewTitle = item.title;
  HtmlDocument body = HtmlDocument::Parse("<html><body>" + item.body + "</body></html>");
  std::string text = body.Body() >= 0 ? body.InnerText(body.Body()) : "";
  // The preview is words only: no picture placeholders, no line breaks.
  std::string words;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 3, "[[{") == 0) {
      const size_t end = text.find("}]]", i);
      if (end != std::string::npos) {
        i = end + 2;
        continue;
      }
    }
    const char c = text[i] == '\n' ? ' ' : text[i];
    if (c == ' ' && (words.empty() || words.back() == ' ')) continue;
    words += c;
  }
  text = TrimCopy(words);
  if (text.size() > 160) {
    size_t cut = 160;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text = text.substr(0, cut) + "...";
  }
  d.previewText = text;
}

}  // namespace orvo
