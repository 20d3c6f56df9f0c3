// Benchmark of downloads that fetch several sites at once: a local farm of
// 20 sites with 50 stories each, every list and story page answering after
// 100 ms, gathered whole with ParallelSites 1, 4 and 8. Prints items per
// second for each, the ratio to one site at a time, and whether every
// address was stored exactly once.
//
//   parallel_bench [--sites N] [--stories M] [--delay MS] [--images K] [--lanes 1,4,8]
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine_home.h"
#include "run.h"
#include "site_farm.h"

using namespace orvo;

namespace {

void Usage() {
  std::printf(
      "usage: parallel_bench [--sites N] [--stories M] [--delay MS] [--images K] [--lanes 1,4,8]\n"
      "Downloads a local farm of N sites (default 20) with M stories each (default 50),\n"
      "every page answering after MS milliseconds (default 100), once for each\n"
      "ParallelSites value of --lanes, and prints items/s and the speed-up.\n");
}

struct Figures {
  int status = -1;
  double seconds = 0;
  int64_t stored = 0;
  bool eachOnce = false;
};

Figures RunWith(QCoreApplication& app, testing::SiteFarm& farm, int lanes) {
  Figures f;
  testing::EngineHome home;
  testing::PrepareFarmHome(home, farm, 30, lanes);
  GathererEngine engine;
  QElapsedTimer timer;
  QObject::connect(&engine, &GathererEngine::Complite, [&](int status) {
    f.status = status;
    f.seconds = timer.nsecsElapsed() / 1e9;
    app.quit();
  });
  timer.start();
  engine.StartProcess();
  app.exec();
  std::map<std::string, int64_t> counts;
  Statement st(home.db(), "SELECT src_url, count(*) FROM newsitem GROUP BY src_url");
  while (st.Next()) {
    counts[st.Text(0)] = st.Int(1);
    f.stored += st.Int(1);
  }
  const std::vector<std::string> all = farm.AllStories();
  f.eachOnce = counts.size() == all.size();
  for (const std::string& a : all) f.eachOnce = f.eachOnce && counts.count(a) && counts[a] == 1;
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  testing::SiteFarmOptions o;
  o.sites = 20;
  o.stories = 50;
  o.delayMs = 100;
  o.plain = true;
  std::vector<int> lanes = {1, 4, 8};
  for (int i = 1; i < argc; ++i) {
    auto value = [&](int* out) {
      if (i + 1 >= argc) return false;
      *out = std::atoi(argv[++i]);
      return true;
    };
    bool ok = true;
    if (!std::strcmp(argv[i], "--sites")) ok = value(&o.sites);
    else if (!std::strcmp(argv[i], "--stories")) ok = value(&o.stories);
    else if (!std::strcmp(argv[i], "--delay")) ok = value(&o.delayMs);
    else if (!std::strcmp(argv[i], "--images")) ok = value(&o.imagesPerStory);
    else if (!std::strcmp(argv[i], "--lanes") && i + 1 < argc) {
      lanes.clear();
      std::stringstream list(argv[++i]);
      for (std::string n; std::getline(list, n, ',');) lanes.push_back(std::atoi(n.c_str()));
    } else {
      ok = false;
    }
    if (!ok || lanes.empty() || o.sites < 1 || o.stories < 1) {
      Usage();
      return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
    }
  }

  QCoreApplication app(argc, argv);
  testing::SiteFarm farm(o);
  std::printf("%d sites x %d stories, %d images each, every page answers after %d ms\n", o.sites, o.stories,
              o.imagesPerStory, o.delayMs);
  bool allGood = true;
  double first = 0, rate = 0;
  for (int n : lanes) {
    const Figures f = RunWith(app, farm, n);
    rate = f.seconds > 0 ? f.stored / f.seconds : 0;
    if (first == 0) first = rate;
    std::printf("ParallelSites %2d: status %d, %lld items in %.2f s, %.1f items/s, %.2fx; every address stored once: %s\n",
                n, f.status, static_cast<long long>(f.stored), f.seconds, rate, first > 0 ? rate / first : 0.0,
                f.eachOnce ? "yes" : "NO");
    std::fflush(stdout);
    allGood = allGood && f.status == 1 && f.eachOnce;
  }
  if (lanes.size() > 1 && first > 0)
    std::printf("speed-up of ParallelSites %d over %d: %.2fx (target: at least 6x with 8 over 1)\n", lanes.back(),
                lanes.front(), rate / first);
  std::printf("every address stored exactly once in every run: %s\n", allGood ? "yes" : "NO");
  return allGood ? 0 : 1;
}
