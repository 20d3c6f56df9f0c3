#include "auto_news.h"

#include <ctime>
#include <optional>

#include "catalogue.h"
#include "database.h"
#include "eventlog.h"
#include "gatherer/masks/feed.h"
#include "http_client.h"
#include "settings.h"
#include "store/masks.h"
#include "store/pairs.h"

namespace orvo {

namespace {

// A feed is small; anything bigger is not what the page advertised.
constexpr size_t kFeedLimit = 4u << 20;

std::string FormEscape(std::string_view s) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.' || c == '~') {
      out += char(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

void SendReport(Database& db, HttpSession& http, const UpdateServer& server, int siteCatRel,
                const HealthVerdict& verdict) {
  std::string site, category;
  if (std::optional<SitePair> pair = ReadSitePair(db, siteCatRel)) {
    site = pair->site;
    category = pair->category;
  }
  const std::string body = "site=" + FormEscape(site) + "&category=" + FormEscape(category) +
                           "&versions=" + FormEscape(MaskVersions(db, siteCatRel)) +
                           "&symptom=" + FormEscape(verdict.symptom);
  std::string answer;
  HttpResponse r = http.Post(ReportUrl(server), body, {"Content-Type: application/x-www-form-urlencoded"}, &answer);
  if (!r.ok() || r.status != 200)
    WriteEventLog("Can not report the broken mask to " + ReportUrl(server) +
                  (r.ok() ? " (HTTP " + std::to_string(r.status) + ")" : " (" + r.error + ")"));
}

}  // namespace

AutoNewsSettings AutoNewsSettings::Read() {
  Settings settings = Settings::Shared();
  AutoNewsSettings s;
  s.autoExtract = settings.ReadInt(kDownloadSection, "AutoExtract", 1) != 0;
  s.reportBroken = settings.ReadInt(kDownloadSection, "ReportBrokenMasks", 0) != 0;
  return s;
}

std::vector<NewsLink> FeedLinks(const HtmlDocument& page, std::string_view bytes, HttpSession& http) {
  if (LooksLikeFeed(bytes)) return ReadFeed(bytes, page.Url());
  for (const std::string& address : AdvertisedFeeds(page)) {
    std::string feed;
    http.SetBodyLimit(kFeedLimit);
    HttpResponse r = http.Get(address, &feed);
    http.SetBodyLimit(32u << 20);
    if (!r.ok() || r.status != 200) {
      WriteEventLog("NAVIGATE ERROR, URL: " + address + " (feed" + (r.ok() ? ", HTTP " + std::to_string(r.status) : ", " + r.error) + ")");
      continue;
    }
    std::vector<NewsLink> links = ReadFeed(feed, address);
    if (!links.empty()) return links;
  }
  return {};
}

std::string ReportUrl(const UpdateServer& server) {
  std::string base = server.maskUrl;
  size_t slash = base.rfind('/');
  if (slash != std::string::npos) base.resize(slash);
  return base + "/report.asp";
}

void RunHealth::Begin(int siteCatRel) {
  current_ = PairRun{};
  current_->siteCatRel = siteCatRel;
}

void RunHealth::Finish(Database* db, const Report& status, HttpSession* http, const UpdateServer* server,
                       bool reportBroken) {
  if (!current_) return;
  PairRun run = *current_;
  current_.reset();
  if (!db) return;
  const HealthVerdict before = LatestHealth(*db, run.siteCatRel);
  const HealthVerdict verdict = RecordPairRun(*db, run, std::time(nullptr));
  if (verdict.state != PairHealth::kBroken || !run.listLoaded) return;
  const std::string text = BrokenPairText(PairName(*db, run.siteCatRel), verdict);
  WriteEventLog(text);
  if (status) status(text);
  const bool newlyBroken = !before.known || before.state != PairHealth::kBroken;
  if (reportBroken && newlyBroken && http && server) SendReport(*db, *http, *server, run.siteCatRel, verdict);
}

}  // namespace orvo
