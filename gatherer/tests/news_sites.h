// A small news network on 127.0.0.1 for the run's tests and the benchmark:
// the updates server (catalogue, masks, end) and two sites, one in UTF-8 and
// one in windows-1251, with list pages, articles and images, plus pages that
// fail on purpose.
#pragma once

#include <atomic>
#include <string>

#include "fixture_server.h"

namespace orvo::testing {

struct NewsNetworkOptions {
  int articlesA = 3;  // UTF-8 site "Site A", category "News"
  int articlesB = 2;  // windows-1251 site, category "Мир"
  int imagesPerArticle = 2;
  bool with404 = false;      // site A lists a news page that answers 404
  bool withStalled = false;  // site A lists a news page that never completes
  bool withForm = false;     // site A's list mask sends form fields a=1, b=2
  // When not 0, the last image of each site A story lives on this port of
  // 127.0.0.1 (where nothing listens, say).
  int deadImagePort = 0;
  // For benchmarks: answers are never compressed (the engine's cost, not the
  // fixture's, is measured) and connections stay open for every request.
  bool plain = false;
};

class NewsNetwork {
 public:
  explicit NewsNetwork(const NewsNetworkOptions& options = {});

  FixtureServer& fixture() { return fx_; }
  // DownloadURL for ORVO.ini: the catalogue page without its scheme.
  std::string DownloadUrl() const;
  std::string Url(const std::string& path) const { return fx_.Url(path); }
  std::string ArticleA(int n) const { return Url("/a/" + std::to_string(n) + ".html"); }
  std::string ArticleB(int n) const { return Url("/b/" + std::to_string(n) + ".html"); }
  static std::string TitleB(int n);  // the UTF-8 title the windows-1251 page carries

  // Behaviour switches, changeable between runs.
  std::atomic<bool> emptyCatalogue{false};  // a catalogue that lists no site
  std::atomic<bool> stallCatalogue{false};  // the catalogue page never answers
  std::atomic<bool> onlySiteA{false};       // the catalogue no longer lists site B
  std::atomic<bool> bareArticlesB{false};   // site B's stories lack the block its mask reads
  // When not 0, each run's first catalogue request lists no site and its
  // second answers with this HTTP status, or never answers when -1.
  std::atomic<int> emptyThenFail{0};
  std::atomic<int> maskVersion{3};
  // While set, this image of site A ("2_1" for story 2's second) takes its
  // request and does not answer.
  std::atomic<bool> hangImage{false};
  std::atomic<bool> imageHanging{false};  // the hanging image's request is being held
  // While set, mask fetches take their request and do not answer.
  std::atomic<bool> hangMasks{false};
  std::string hangingImage = "2_1";
  std::string lastListBody;                 // body of the last POST to site A's list

 private:
  NewsNetworkOptions options_;
  std::atomic<int> catalogueRequests_{0};
  FixtureServer fx_;
};

// Writes ORVO.ini (PathDB, DownloadURL, ConnectTimeout) into the program
// folder and adds both pairs, selected, with empty masks.
class EngineHome;
void PrepareNewsHome(EngineHome& home, NewsNetwork& net, int connectTimeout);
// The same for another program folder (a server's on a private bus): creates
// folder/news.db too. Returns the database path. With a postgresql://
// `database` the folder's [Database] Url names it instead, and the pairs go
// into it unless it holds the news tables already.
std::string PrepareNewsFolder(const std::string& folder, NewsNetwork& net, int connectTimeout,
                              const std::string& database = {});

}  // namespace orvo::testing
