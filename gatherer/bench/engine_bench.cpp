// Benchmark of a whole download: a local news site of N stories with two
// images each, served by a child process on 127.0.0.1, gathered by the engine
// with its sequential navigation. Prints items stored per second, pages per
// second, the engine's CPU time per item and its peak memory. The site
// serves its pages uncompressed over kept-alive connections, so that its own
// work (it runs in a child process, counted apart) does not set the pace.
//
//   engine_bench [--items N] [--images K] [--keep]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine_home.h"
#include "news_sites.h"
#include "run.h"

using namespace orvo;

namespace {

void Usage() {
  std::printf(
      "usage: engine_bench [--items N] [--images K]\n"
      "Runs one whole download against a local site of N stories (default 1000)\n"
      "with K images each (default 2) and prints items/s, pages/s and peak memory.\n");
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
  int status = -1;
  double seconds = 0;
  int64_t stored = 0, storedImages = 0;
  {
    testing::EngineHome home;
    Settings s = home.settings();
    s.WriteText(kSystemSection, "PathDB", home.dbPath());
    s.WriteText(kSystemSection, "DownloadURL", "127.0.0.1:" + std::to_string(port) + "/upd/catalog.asp");
    s.WriteInt(kDownloadSection, "ConnectTimeout", 30);
    int64_t a = home.AddPair("Site A", "News", true);
    home.AddMask(a, 0, 1);
    home.AddMask(a, 1, 1);

    GathererEngine engine;
    QElapsedTimer timer;
    QObject::connect(&engine, &GathererEngine::Complite, [&](int st) {
      status = st;
      seconds = timer.nsecsElapsed() / 1e9;
      app.quit();
    });
    timer.start();
    engine.StartProcess();
    app.exec();
    stored = home.Count("SELECT count(*) FROM newsitem");
    storedImages = home.Count("SELECT count(*) FROM newsimages");
  }
  struct rusage ru {}, site {};
  ::getrusage(RUSAGE_SELF, &ru);
  ::kill(child, SIGTERM);
  ::wait4(child, nullptr, 0, &site);
  auto cpu = [](const struct rusage& r) {
    return r.ru_utime.tv_sec + r.ru_utime.tv_usec / 1e6 + r.ru_stime.tv_sec + r.ru_stime.tv_usec / 1e6;
  };
  const int pages = items + 2;  // news pages, the list page and the catalogue
  std::printf("status %d, %lld items and %lld images stored in %.2f s\n", status, static_cast<long long>(stored),
              static_cast<long long>(storedImages), seconds);
  std::printf("items per second: %.1f\n", stored / seconds);
  std::printf("pages per second: %.1f\n", pages / seconds);
  std::printf("images per second: %.1f\n", storedImages / seconds);
  if (stored > 0) {
    std::printf("engine CPU per item: %.2f ms (user + system, whole process)\n", cpu(ru) * 1000 / stored);
    std::printf("fixture site CPU per item: %.2f ms\n", cpu(site) * 1000 / stored);
  }
  std::printf("peak memory (max RSS): %.1f MiB\n", ru.ru_maxrss / 1024.0);
  return status == 1 && stored == items ? 0 : 1;
}
