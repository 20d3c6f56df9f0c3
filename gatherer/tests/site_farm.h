// Many small news sites on one 127.0.0.1 server, for the runs that fetch
// several sites at once and for their benchmark: the updates server lists
// "Site 1" ... "Site N", each with one category "News", a list page and its
// stories, optionally slow, sharing stories, or with a site that hangs.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "fixture_server.h"

namespace orvo::testing {

class EngineHome;

struct SiteFarmOptions {
  int sites = 4;
  int stories = 5;         // of each site, /s<k>/<n>.html
  int imagesPerStory = 0;  // /s<k>/img/<n>_<i>.png
  int delayMs = 0;         // every list and story page answers after this long
  int sharedStories = 0;   // listed by every site after its own, /shared/<n>.html
  int hangingSite = 0;     // when not 0, this site's list page answers only once released
  bool plain = false;      // never compressed, connections kept open (benchmarks)
};

class SiteFarm {
 public:
  explicit SiteFarm(const SiteFarmOptions& options = {});

  FixtureServer& fixture() { return fx_; }
  const SiteFarmOptions& options() const { return options_; }
  // DownloadURL for ORVO.ini: the catalogue page without its scheme.
  std::string DownloadUrl() const;
  std::string Url(const std::string& path) const { return fx_.Url(path); }
  static std::string SiteName(int site) { return "Site " + std::to_string(site); }
  std::string Story(int site, int n) const;
  std::string SharedStory(int n) const { return Url("/shared/" + std::to_string(n) + ".html"); }
  // Every address a complete run stores.
  std::vector<std::string> AllStories() const;

  // Every request ("GET /s1/list.html"), in the order it arrived: unlike the
  // server's own record, not in the order the answers were finished.
  std::vector<std::string> Arrivals();
  // The requests of one site's pages and images, in the order they arrived.
  std::vector<std::string> SiteRequests(int site);
  // The most list and story pages that were being answered at one time.
  int MostPagesAtOnce() const { return mostAtOnce_; }
  // Lets the hanging site answer.
  void Release() { released_ = true; }
  bool hanging() const { return hangingNow_ > 0; }

 private:
  void Arrived(const httplib::Request& req);
  void Page(httplib::Response& res, const std::string& html);
  void Wait(int ms);

  SiteFarmOptions options_;
  std::atomic<int> atOnce_{0};
  std::atomic<int> mostAtOnce_{0};
  std::atomic<bool> released_{false};
  std::atomic<int> hangingNow_{0};
  std::mutex mutex_;
  std::vector<std::string> arrivals_;
  FixtureServer fx_;
};

// Writes ORVO.ini (PathDB, DownloadURL, ConnectTimeout, and ParallelSites when
// not 0) and adds every site's pair, selected, with masks the update fills.
void PrepareFarmHome(EngineHome& home, SiteFarm& farm, int connectTimeout, int parallelSites);

}  // namespace orvo::testing
