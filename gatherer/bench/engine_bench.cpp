// Benchmark of a whole download: a local news site of N stories with two
// images each, served by a child process on 127.0.0.1, gathered by the engine
// with its sequential navigation. Prints items stored per second, pages per
// second, the engine's CPU time per item and its peak memory. The site
// serves its pages uncompressed over kept-alive connections, so that its own
// work (it runs in a child process, counted apart) does not set the pace.
//
//   engine_bench [--items N] [--images K]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "database.h"
#include "engine_home.h"
#include "news_sites.h"
#include "run.h"

using namespace orvo;

namespace {

void Usage() {
  std::printf(
      "usage: engine_bench [--items N] [--images K]\n"
      "Runs a whole download against a local site of N stories (default 1000)\n"
      "with K images each (default 2), twice, each time beside curl fetching the\n"
      "same files, and prints the faster run's items/s, pages/s and peak memory.\n");
}

// curl alone fetching the same pages and images over one kept-alive
// connection, each written to a file of its own in `dir`: the floor of the
// network and file work the engine does. Seconds, or 0 without curl.
double CurlSameFiles(const std::vector<std::string>& pages, int port, int images, const std::string& dir) {
  if (pages.empty() || std::system("command -v curl >/dev/null 2>&1") != 0) return 0;
  std::string config;
  int n = 0;
  for (const std::string& page : pages) {
    config += "url = \"" + page + "\"\noutput = \"" + dir + "/p" + std::to_string(n++) + ".html\"\n";
    const size_t slash = page.rfind('/'), dot = page.rfind('.');
    if (slash == std::string::npos || dot == std::string::npos || dot < slash) continue;
    const std::string story = page.substr(slash + 1, dot - slash - 1);
    for (int k = 0; k < images; ++k)
      config += "url = \"http://127.0.0.1:" + std::to_string(port) + "/a/img/" + story + "_" + std::to_string(k) +
                ".png\"\noutput = \"" + dir + "/i" + std::to_string(n++) + ".png\"\n";
  }
  const std::string cfg = dir + "/curl.cfg";
  if (FILE* f = std::fopen(cfg.c_str(), "w")) {
    std::fwrite(config.data(), 1, config.size(), f);
    std::fclose(f);
  }
  QElapsedTimer timer;
  timer.start();
  const int rc = std::system(("curl -s -K '" + cfg + "'").c_str());
  const double seconds = timer.nsecsElapsed() / 1e9;
  return rc == 0 ? seconds : 0;
}

}  // namespace

int main(int argc, char** argv) {
  int items = 1000;
  int images = 2;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--items") && i + 1 < argc) {
      items = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--images") && i + 1 < argc) {
      images = std::atoi(argv[++i]);
    } else {
      Usage();
      return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
    }
  }

  // The site lives in a child process so that its memory is not counted.
  int pipefd[2];
  if (::pipe(pipefd) != 0) return 1;
  pid_t child = ::fork();
  if (child == 0) {
    ::close(pipefd[0]);
    testing::NewsNetworkOptions o;
    o.articlesA = items;
    o.articlesB = 0;
    o.imagesPerArticle = images;
    o.plain = true;
    testing::NewsNetwork net(o);
    int port = net.fixture().port();
    if (::write(pipefd[1], &port, sizeof port) != sizeof port) ::_exit(1);
    ::close(pipefd[1]);
    for (;;) ::pause();
  }
  ::close(pipefd[1]);
  int port = 0;
  if (::read(pipefd[0], &port, sizeof port) != sizeof port) {
    std::fprintf(stderr, "engine_bench: the fixture site did not start\n");
    return 1;
  }

  QCoreApplication app(argc, argv);
  auto cpu = [](const struct rusage& r) {
    return r.ru_utime.tv_sec + r.ru_utime.tv_usec / 1e6 + r.ru_stime.tv_sec + r.ru_stime.tv_usec / 1e6;
  };
  // One whole download into a program folder of its own, kept until the end.
  struct EngineRun {
    std::unique_ptr<testing::EngineHome> home;
    int status = -1;
    double seconds = 0, cpuSeconds = 0;
    int64_t stored = 0, storedImages = 0;
  };
  auto runEngine = [&] {
    EngineRun r;
    r.home = std::make_unique<testing::EngineHome>();
    testing::EngineHome& home = *r.home;
    Settings s = home.settings();
    s.WriteText(kSystemSection, "PathDB", home.dbPath());
    s.WriteText(kSystemSection, "DownloadURL", "127.0.0.1:" + std::to_string(port) + "/upd/catalog.asp");
    s.WriteInt(kDownloadSection, "ConnectTimeout", 30);
    int64_t a = home.AddPair("Site A", "News", true);
    home.AddMask(a, 0, 1);
    home.AddMask(a, 1, 1);
    struct rusage before {}, after {};
    ::getrusage(RUSAGE_SELF, &before);
    GathererEngine engine;
    QElapsedTimer timer;
    QObject::connect(&engine, &GathererEngine::Complite, [&](int st) {
      r.status = st;
      r.seconds = timer.nsecsElapsed() / 1e9;
      app.quit();
    });
    timer.start();
    engine.StartProcess();
    app.exec();
    ::getrusage(RUSAGE_SELF, &after);
    r.cpuSeconds = cpu(after) - cpu(before);
    r.stored = home.Count("SELECT count(*) FROM newsitem");
    r.storedImages = home.Count("SELECT count(*) FROM newsimages");
    return r;
  };
  // The engine and curl take turns, twice each, and no file is deleted until
  // all four are done: on ext4 creating files soon after many were deleted
  // is slow (the allocator checks each recently freed inode), so whoever ran
  // right after a deletion, or first into a fresh folder, would pay for it.
  // Each is judged by its faster run.
  std::vector<EngineRun> engineRuns;
  std::vector<double> curlRuns;
  std::vector<std::string> storyUrls;
  testing::TempDir curlDir;
  for (int run = 0; run < 2; ++run) {
    engineRuns.push_back(runEngine());
    if (run == 0) {
      std::unique_ptr<Database> db;
      if (Database::Open(engineRuns[0].home->dbPath(), Database::Mode::kExisting, &db) == 0) {
        Statement st(*db, "SELECT src_url FROM newsitem ORDER BY id");
        while (st.Next()) storyUrls.push_back(st.Text(0));
      }
    }
    const std::string dir = curlDir.File("run" + std::to_string(run));
    std::filesystem::create_directory(dir);
    const double t = CurlSameFiles(storyUrls, port, images, dir);
    if (t > 0) curlRuns.push_back(t);
  }
  const EngineRun& best = *std::min_element(engineRuns.begin(), engineRuns.end(), [](const EngineRun& x, const EngineRun& y) {
    return x.seconds < y.seconds;
  });
  const int status = best.status;
  const double seconds = best.seconds;
  const int64_t stored = best.stored, storedImages = best.storedImages;
  const double curlSeconds = curlRuns.empty() ? 0 : *std::min_element(curlRuns.begin(), curlRuns.end());
  struct rusage ru {}, site {};
  ::getrusage(RUSAGE_SELF, &ru);
  ::kill(child, SIGTERM);
  ::wait4(child, nullptr, 0, &site);
  const int pages = items + 2;  // news pages, the list page and the catalogue
  std::printf("status %d, %lld items and %lld images stored in %.2f s (runs %.2f, %.2f s)\n", status,
              static_cast<long long>(stored), static_cast<long long>(storedImages), seconds, engineRuns.front().seconds,
              engineRuns.back().seconds);
  std::printf("items per second: %.1f\n", stored / seconds);
  std::printf("pages per second: %.1f\n", pages / seconds);
  std::printf("images per second: %.1f\n", storedImages / seconds);
  if (stored > 0) {
    std::printf("engine CPU per item: %.2f ms (user + system, the faster run)\n", best.cpuSeconds * 1000 / stored);
    std::printf("fixture site CPU per item: %.2f ms\n", cpu(site) * 1000 / (stored * 2));
  }
  std::printf("peak memory (max RSS): %.1f MiB\n", ru.ru_maxrss / 1024.0);
  if (curlSeconds > 0)
    std::printf("curl writing the same %zu pages and their images to files: %.2f s (runs %.2f, %.2f s), %.1f items/s; "
                "the engine at %.2fx\n",
                storyUrls.size(), curlSeconds, curlRuns.front(), curlRuns.back(), storyUrls.size() / curlSeconds,
                curlSeconds / seconds);
  else
    std::printf("curl writing the same files: not measured (no curl program)\n");
  const bool allStored = std::all_of(engineRuns.begin(), engineRuns.end(),
                                     [&](const EngineRun& r) { return r.status == 1 && r.stored == items; });
  return allStored ? 0 : 1;
}
