// Benchmark of the engine's store step: N news items with their pictures
// committed as a download commits them (one transaction per item, the look
// for the address inside it), by one engine and then by two engines at once,
// each with its own connection and its own addresses, on a SQLite file and on
// a PostgreSQL server. Prints items a second and how much two engines store
// beside one.
//
//   store_bench [--items N] [--pictures P] [--picture-bytes B] [--database postgresql://...]
//
// Without --database the PostgreSQL figures come from a server of its own
// (initdb and pg_ctl in a temporary folder) with the default settings.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "database.h"
#include "item_store.h"
#include "pg_scratch.h"
#include "test_support.h"

using namespace orvo;

namespace {

struct Options {
  int items = 10000;
  int pictures = 2;
  size_t pictureBytes = 20000;
  std::string database;  // a PostgreSQL database to use instead of a server of our own
};

// CPU seconds (user + system) a process of this machine has used so far: the
// server's backend of a connection, whose work is part of the store's cost.
double ProcessCpuSeconds(int64_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = stat.rfind(')');  // the name may hold spaces
  if (close == std::string::npos) return 0;
  std::istringstream fields(stat.substr(close + 2));
  std::string skip;
  for (int i = 3; i < 14; ++i) fields >> skip;  // state .. cmajflt
  double user = 0, system = 0;
  fields >> user >> system;
  return (user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double SelfCpuSeconds() {
  struct rusage r {};
  ::getrusage(RUSAGE_SELF, &r);
  auto s = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return s(r.ru_utime) + s(r.ru_stime);
}

// One engine's share: items `first` .. first + count - 1, each with its
// pictures. `serverCpu` gets what its server backend spent meanwhile.
int StoreShare(const std::string& location, const std::string& folder, const Options& o, int first, int count,
               double* serverCpu) {
  std::unique_ptr<Database> db;
  std::string why;
  if (Database::Open(location, Database::Mode::kExisting, &db, &why) != 0) {
    std::fprintf(stderr, "cannot open %s: %s\n", location.c_str(), why.c_str());
    return 0;
  }
  int64_t backend = 0;
  if (db->backend() == Database::Backend::kSqlite) {
    db->Exec("PRAGMA synchronous = NORMAL");  // as the engine runs
  } else {
    Statement pid(*db, "SELECT pg_backend_pid()");
    if (pid.Next()) backend = pid.Int(0);
  }
  const double serverBefore = backend ? ProcessCpuSeconds(backend) : 0;
  const std::string body(1500, 'x');
  // Pictures are JPEG or PNG, which do not compress again: bytes of a
  // compressible kind would spare PostgreSQL the work real ones cost it.
  std::vector<std::string> pictures;
  std::mt19937 random(7);
  for (int p = 0; p < o.pictures; ++p) {
    std::string bytes(o.pictureBytes, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    pictures.push_back(std::move(bytes));
  }
  int stored = 0;
  for (int n = first; n < first + count; ++n) {
    NewsItemRecord item;
    item.address = "http://bench.example/story/" + std::to_string(n) + ".html";
    item.title = "Story " + std::to_string(n);
    item.body = body;
    item.siteCatRel = 1;
    ImageFetch fetch;
    for (int p = 0; p < o.pictures; ++p) {
      item.body += "[[{" + std::to_string(p) + "}]]";
      fetch.files.push_back({static_cast<size_t>(p), {}, pictures[static_cast<size_t>(p)], ""});
    }
    if (CommitNewsItem(*db, item, fetch, folder, std::time(nullptr)).id > 0) ++stored;
  }
  *serverCpu = backend ? ProcessCpuSeconds(backend) - serverBefore : 0;
  return stored;
}

struct Figures {
  double itemsPerSecond = 0;
  double engineMsPerItem = 0;  // this process's CPU
  double serverMsPerItem = 0;  // the server's backends' CPU
  double coresBusy = 0;        // both over the wall time
};

// `engines` engines storing o.items each at once.
Figures Run(const std::string& location, const std::string& folder, const Options& o, int engines, int round) {
  std::vector<std::thread> threads;
  std::vector<int> stored(engines, 0);
  std::vector<double> serverCpu(engines, 0);
  const double cpuBefore = SelfCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  for (int e = 0; e < engines; ++e)
    threads.emplace_back([&, e] {
      stored[e] = StoreShare(location, folder, o, (round * 2 + e) * o.items, o.items, &serverCpu[e]);
    });
  for (auto& t : threads) t.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double engineCpu = SelfCpuSeconds() - cpuBefore;
  int total = 0;
  double server = 0;
  for (int e = 0; e < engines; ++e) {
    total += stored[e];
    server += serverCpu[e];
  }
  if (total != engines * o.items) std::fprintf(stderr, "only %d of %d items stored\n", total, engines * o.items);
  Figures f;
  if (total == 0) return f;
  f.itemsPerSecond = total / seconds;
  f.engineMsPerItem = engineCpu * 1000 / total;
  f.serverMsPerItem = server * 1000 / total;
  f.coresBusy = (engineCpu + server) / seconds;
  return f;
}

bool Prepare(const std::string& location, std::string* why) {
  std::unique_ptr<Database> db;
  if (Database::Open(location, Database::Mode::kCreate, &db, why) != 0) return false;
  return db->Exec("INSERT INTO news_config(site_name) VALUES ('Bench'); INSERT INTO news_cat(name) VALUES ('News');"
                  "INSERT INTO site_cat_rel(is_selected, fk_news_cat, fk_news_config) VALUES (1, 1, 1)") == 0;
}

void Report(const char* backend, const std::string& location, const std::string& folder, const Options& o) {
  const Figures one = Run(location, folder, o, 1, 0);
  const Figures two = Run(location, folder, o, 2, 1);
  std::printf("%-10s  one engine %8.0f items/s   two engines %8.0f items/s   two/one %.2fx\n", backend,
              one.itemsPerSecond, two.itemsPerSecond, one.itemsPerSecond > 0 ? two.itemsPerSecond / one.itemsPerSecond : 0);
  // What bounds two/one on this machine: the CPU an item costs, here and in
  // the server, against the cores there are.
  for (const auto& [name, f] : {std::pair{"one", one}, std::pair{"two", two}})
    std::printf("%-10s  %s: CPU per item %.3f ms engine + %.3f ms server, %.2f of %ld cores busy\n", "", name,
                f.engineMsPerItem, f.serverMsPerItem, f.coresBusy, ::sysconf(_SC_NPROCESSORS_ONLN));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    auto value = [&] { return i + 1 < argc ? argv[++i] : ""; };
    if (!std::strcmp(argv[i], "--items")) {
      o.items = std::max(1, std::atoi(value()));
    } else if (!std::strcmp(argv[i], "--pictures")) {
      o.pictures = std::max(0, std::atoi(value()));
    } else if (!std::strcmp(argv[i], "--picture-bytes")) {
      o.pictureBytes = static_cast<size_t>(std::max(1, std::atoi(value())));
    } else if (!std::strcmp(argv[i], "--database")) {
      o.database = value();
    } else {
      std::printf(
          "Usage: store_bench [--items N] [--pictures P] [--picture-bytes B] [--database postgresql://...]\n"
          "Stores N news items (default 10000) of P pictures of B bytes each (default 2 of 20000) as\n"
          "a download does, by one engine and then by two engines at once (N each), into a new SQLite\n"
          "file and into an empty PostgreSQL database (--database, else a server of its own), and\n"
          "prints items a second.\n");
      return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
    }
  }
  std::printf("%d items of %d pictures of %zu bytes, per engine\n", o.items, o.pictures, o.pictureBytes);
  testing::TempDir dir;
  const std::string folder = dir.File("Images/");
  std::filesystem::create_directories(folder);
  std::string why;
  const std::string file = dir.File("news.db");
  if (!Prepare(file, &why)) {
    std::fprintf(stderr, "cannot create %s: %s\n", file.c_str(), why.c_str());
    return 1;
  }
  Report("SQLite", file, folder, o);

  std::string url = o.database;
  std::unique_ptr<bench::ScratchServer> server;
  if (url.empty()) {
    // The server's default settings: it syncs every commit to disk, as a
    // user's server does, and what two engines overlap depends on that.
    // Under root the server runs as another user, who must reach its folder.
    std::filesystem::permissions(dir.File(""), std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    server = bench::ScratchServer::Start(dir.File("postgres"), &why);
    if (!server || !server->CreateDatabase("store", &why)) {
      std::fprintf(stderr, "no PostgreSQL figures: %s\n", why.c_str());
      return 1;
    }
    url = server->Url("store");
  }
  if (!Prepare(url, &why)) {
    std::fprintf(stderr, "cannot use %s: %s\n", url.c_str(), why.c_str());
    return 1;
  }
  Report("PostgreSQL", url, folder, o);
  return 0;
}
