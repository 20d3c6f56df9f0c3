// Benchmark of own sites at scale: an OPML of 500 feeds served on 127.0.0.1
// (20 entries each, each entry's page an article of ../shared/corpus, or a
// synthetic one when the corpus is absent) is imported with the real
// `orvo site import`, then downloaded with ParallelSites 1 and 8. Prints the
// time, items a second, CPU per item and peak memory of the engine, whether
// every entry was stored once, and for a second download how many feeds
// answered 304 and how long it took.
//
//   own_sites_bench [--feeds N] [--entries M] [--lanes 1,8] [--shared DIR]
//
// The feeds are served by a child process, so the engine's figures are its
// own; each download runs in a process of its own too.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine_home.h"
#include "fixture_server.h"
#include "http_client.h"
#include "run.h"

using namespace orvo;
namespace fs = std::filesystem;

namespace {

struct Options {
  int feeds = 500;
  int entries = 20;
  std::vector<int> lanes = {1, 8};
  fs::path shared;
};

std::vector<std::string> LoadPages(const fs::path& shared, bool* synthetic) {
  std::vector<std::string> pages;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(shared / "corpus" / "articles" / "pages", ec)) {
    if (e.path().extension() != ".html") continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    pages.push_back(s.str());
  }
  *synthetic = pages.empty();
  if (pages.empty()) {
    for (int i = 0; i < 50; ++i) {
      std::string p;
      for (int k = 0; k < 12; ++k)
        p += "<p>Paragraph " + std::to_string(k) + " of synthetic article " + std::to_string(i) +
             ", with enough words and commas to be read as the text of a story.</p>";
      pages.push_back("<html><head><title>Article " + std::to_string(i) + "</title></head><body><article><h1>Article " +
                      std::to_string(i) + "</h1>" + p + "</article></body></html>");
    }
  }
  return pages;
}

// The feed server, in a child process until it is killed.
[[noreturn]] void Serve(const Options& o, const std::vector<std::string>& pages, int portPipe) {
  testing::FixtureServer fx;
  auto notModified = std::make_shared<std::atomic<int>>(0);
  auto& s = fx.server();
  s.Get(R"(/f/(\d+)\.xml)", [&o, &fx, notModified](const httplib::Request& req, httplib::Response& res) {
    const std::string n = req.matches[1];
    const std::string etag = "\"f" + n + "\"";
    if (req.get_header_value("If-None-Match") == etag) {
      ++*notModified;
      res.status = 304;
      return;
    }
    std::string items;
    for (int k = 0; k < o.entries; ++k) {
      const std::string url = fx.Url("/p/" + n + "/" + std::to_string(k) + ".html");
      items += "<item><title>Entry " + std::to_string(k) + " of feed " + n + "</title><link>" + url +
               "</link><pubDate>Mon, 07 Dec 2026 10:" + std::to_string(10 + k % 50) + ":00 GMT</pubDate></item>";
    }
    res.set_header("ETag", etag);
    res.set_content(
        "<?xml version='1.0'?><rss version='2.0'><channel><title>Feed " + n + "</title>" + items + "</channel></rss>",
        "application/rss+xml");
  });
  s.Get(R"(/p/(\d+)/(\d+)\.html)", [&o, &pages](const httplib::Request& req, httplib::Response& res) {
    const size_t i = static_cast<size_t>(std::stoi(req.matches[1]) * o.entries + std::stoi(req.matches[2]));
    res.set_content(pages[i % pages.size()], "text/html");
  });
  s.Get("/not-modified", [notModified](const httplib::Request&, httplib::Response& res) {
    res.set_content(std::to_string(notModified->exchange(0)), "text/plain");
  });
  fx.ServePlain();
  fx.Start();
  const int port = fx.port();
  if (::write(portPipe, &port, sizeof port) != sizeof port) std::_Exit(1);
  ::close(portPipe);
  for (;;) ::pause();
}

double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int RunOnce(QCoreApplication& app, int* status) {
  GathererEngine engine;
  int ms = 0;
  QElapsedTimer timer;
  QObject::connect(&engine, &GathererEngine::Complite, [&](int s) {
    *status = s;
    ms = int(timer.elapsed());
    app.quit();
  });
  timer.start();
  engine.StartProcess();
  app.exec();
  engine.WaitForIndexWork();
  return ms;
}

// One import and two downloads with `lanes`, in this (child) process.
int Measure(const Options& o, int port, int lanes) {
  int argc = 1;
  char name[] = "own_sites_bench";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  testing::EngineHome home;
  Settings s = home.settings();
  s.WriteText(kSystemSection, "PathDB", home.dbPath());
  s.WriteText(kSystemSection, "DownloadURL", "");
  s.WriteInt(kDownloadSection, "ConnectTimeout", 60);
  s.WriteInt(kDownloadSection, "ParallelSites", lanes);
  // The corpus pages name pictures on hosts this machine cannot reach.
  s.WriteInt(kDownloadSection, "LoadImages", 0);
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  {
    std::ofstream opml(home.File("feeds.opml"));
    opml << "<?xml version='1.0'?><opml version='2.0'><body><outline text='Bench'>";
    for (int n = 0; n < o.feeds; ++n)
      opml << "<outline type='rss' text='Feed " << n << "' xmlUrl='" << base << "/f/" << n << ".xml'/>";
    opml << "</outline></body></opml>";
  }
  QElapsedTimer importTimer;
  importTimer.start();
  const std::string cmd = std::string(ORVO_BIN_DIR) + "/orvo site import " + home.File("feeds.opml") + " --home " +
                          home.dir() + " > /dev/null";
  if (std::system(cmd.c_str()) != 0) {
    std::printf("orvo site import failed: %s\n", cmd.c_str());
    return 1;
  }
  const double importMs = importTimer.elapsed();

  int status = 0;
  const double cpu0 = CpuSeconds();
  const int ms = RunOnce(app, &status);
  const double cpu = CpuSeconds() - cpu0;
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  const int64_t stored = home.Count("SELECT count(*) FROM newsitem");
  const int64_t distinct = home.Count("SELECT count(DISTINCT src_url) FROM newsitem");
  const int64_t expected = int64_t(o.feeds) * o.entries;
  std::printf(
      "ParallelSites %d: import of %d feeds %.0f ms; download %.1f s (Complite %d), %lld items, %.1f items/s, "
      "CPU %.2f ms/item, peak memory %.0f MB; every entry stored once: %s\n",
      lanes, o.feeds, importMs, ms / 1000.0, status, static_cast<long long>(stored), stored * 1000.0 / std::max(ms, 1),
      stored ? cpu * 1000 / double(stored) : 0.0, u.ru_maxrss / 1024.0,
      stored == expected && distinct == expected ? "yes" : "NO");

  HttpSession http;
  std::string reset;
  http.Get(base + "/not-modified", &reset);
  const int again = RunOnce(app, &status);
  std::string answered;
  http.Get(base + "/not-modified", &answered);
  std::printf(
      "ParallelSites %d: second download %.2f s (Complite %d), %s of %d feeds answered 304, %lld items "
      "stored in all\n",
      lanes, again / 1000.0, status, answered.c_str(), o.feeds,
      static_cast<long long>(home.Count("SELECT count(*) FROM newsitem")));
  std::fflush(stdout);
  return stored == expected && distinct == expected ? 0 : 1;
}

std::vector<int> ParseList(const char* s) {
  std::vector<int> out;
  std::stringstream in(s);
  std::string part;
  while (std::getline(in, part, ',')) out.push_back(std::atoi(part.c_str()));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const char* env = std::getenv("ORVO_SHARED"))
    o.shared = env;
  else
    o.shared = fs::path(ORVO_SOURCE_DIR).parent_path() / "shared";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if (a == "--feeds" && more)
      o.feeds = std::atoi(argv[++i]);
    else if (a == "--entries" && more)
      o.entries = std::atoi(argv[++i]);
    else if (a == "--lanes" && more)
      o.lanes = ParseList(argv[++i]);
    else if (a == "--shared" && more)
      o.shared = argv[++i];
    else {
      std::printf(
          "usage: own_sites_bench [--feeds N] [--entries M] [--lanes 1,8] [--shared DIR]\n"
          "Imports an OPML of N feeds (default 500) of M entries (default 20) served on\n"
          "127.0.0.1, downloads them once per ParallelSites value and once more (304s),\n"
          "and prints time, items/s, CPU per item, peak memory and the 304 count.\n");
      return a == "--help" ? 0 : 2;
    }
  }
  if (o.feeds < 1 || o.entries < 1 || o.lanes.empty()) return 2;
  bool synthetic = false;
  const std::vector<std::string> pages = LoadPages(o.shared, &synthetic);
  std::printf("%d feeds of %d entries; article pages: %s\n", o.feeds, o.entries,
              synthetic ? "synthetic (no corpus found)"
                        : (std::to_string(pages.size()) + " corpus pages from " + o.shared.string()).c_str());
  std::fflush(stdout);
  int fds[2];
  if (::pipe(fds) != 0) return 1;
  const pid_t server = ::fork();
  if (server == 0) {
    ::close(fds[0]);
    Serve(o, pages, fds[1]);
  }
  ::close(fds[1]);
  int port = 0;
  if (::read(fds[0], &port, sizeof port) != sizeof port) return 1;
  int failures = 0;
  for (int lanes : o.lanes) {
    const pid_t child = ::fork();
    if (child == 0) std::_Exit(Measure(o, port, lanes));
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
  }
  ::kill(server, SIGTERM);
  ::waitpid(server, nullptr, 0);
  return failures == 0 ? 0 : 1;
}
