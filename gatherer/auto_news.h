// What a run does for pairs whose masks stop yielding: the per-pair health
// record with its log line and status text, links from the site's feed when
// the list mask finds none, automatic extraction when the news mask leaves the
// body empty, and the optional report of a broken pair to the updates server.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gatherer/masks/extraction.h"
#include "gatherer/masks/html_document.h"
#include "store/mask_health.h"

namespace orvo {

class Database;
class HttpSession;
struct UpdateServer;

// Settings of section Download read when a run's window is created.
struct AutoNewsSettings {
  bool autoExtract = true;    // AutoExtract, default 1
  bool reportBroken = false;  // ReportBrokenMasks, default 0
  static AutoNewsSettings Read();
};

// Links of the feed behind a list page whose list mask found none: the page
// itself when it is a feed, else the first advertised feed that yields links
// (fetched with http). Empty when there is none.
std::vector<NewsLink> FeedLinks(const HtmlDocument& page, std::string_view bytes, HttpSession& http);

// The "/report.asp" address beside the updates server's catalogue page.
std::string ReportUrl(const UpdateServer& server);

// One run's pair records: Begin at each category's list phase, counters while
// its pages are handled, Finish when it is done.
class RunHealth {
 public:
  using Report = std::function<void(const std::string&)>;

  void Begin(int siteCatRel);
  PairRun* Current() { return current_ ? &*current_ : nullptr; }
  // Records the current pair; a broken pair gets one log line and one status
  // text, and when asked, a report to the updates server (once, when it
  // breaks). No-op between pairs.
  void Finish(Database* db, const Report& status, HttpSession* http, const UpdateServer* server,
              bool reportBroken);

 private:
  std::optional<PairRun> current_;
};

}  // namespace orvo
