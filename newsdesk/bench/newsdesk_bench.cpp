// Fills the real news grid from a database of 100,000 items and prints the
// time to the first row and to the last row of each fill (all news by site,
// date and title, and a keyword search), the time to mark every listed item
// read, and the resident memory with the grid full.
//   newsdesk_bench [--items N] [--database FILE] [--sorts-only]
// With --database the grid reads that file (say, a million items kept from
// news_db_bench --generate) instead of a generated one; marking all read is
// then rolled back, so the file stays as it was. --sorts-only leaves out the
// search and the marking.
#include <QApplication>
#include <QEventLoop>
#include <QTableView>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "database.h"
#include "store/news_items.h"
#include "store/pairs.h"
#include "newslist.h"
#include "settings.h"

namespace {

long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  size_t n = std::strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, n, field) == 0) return std::atol(line.c_str() + n + 1);
  return -1;
}

// CPU time of the whole process (both threads), in milliseconds: on a busy
// machine it says more than the wall clock.
double CpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

double Ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  int items = 100000;
  std::string kept;
  bool sortsOnly = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--items") == 0 && i + 1 < argc) {
      items = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--database") == 0 && i + 1 < argc) {
      kept = argv[++i];
    } else if (std::strcmp(argv[i], "--sorts-only") == 0) {
      sortsOnly = true;
    } else {
      std::fprintf(stderr, "Usage: newsdesk_bench [--items N] [--database FILE] [--sorts-only]   (default 100000 generated items)\n");
      return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
    }
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  char tmpl[] = "/tmp/newsdesk-bench-XXXXXX";
  if (!mkdtemp(tmpl)) {
    std::perror("newsdesk_bench: mkdtemp");
    return 1;
  }
  std::string dir = tmpl;
  setenv("ORVO_HOME", dir.c_str(), 1);
  QApplication app(argc, argv);

  using Clock = std::chrono::steady_clock;
  std::string path = kept.empty() ? dir + "/news.db" : kept;
  if (kept.empty()) {
    std::unique_ptr<orvo::Database> db;
    if (orvo::Database::Open(path, orvo::Database::Mode::kCreate, &db) != 0 ||
        !orvo::StoreGeneratedNews(*db, items, std::time(nullptr))) {
      std::fprintf(stderr, "newsdesk_bench: cannot build the database in %s\n", dir.c_str());
      return 1;
    }
  }
  orvo::Vault vault;
  if (!vault.db.Init(path)) {
    std::fprintf(stderr, "newsdesk_bench: cannot open %s\n", path.c_str());
    return 1;
  }
  if (!kept.empty()) {
    orvo::Statement count(*vault.db.database(), "SELECT count(*) FROM newsitem");
    items = count.Next() ? static_cast<int>(count.Int(0)) : -1;
  }
  orvo::CNewsListView view(vault);
  view.resize(900, 600);
  view.show();
  app.processEvents();
  long rssBefore = StatusKb("VmRSS:");

  std::printf("newsdesk_bench: %d news items, grid on the %s platform\n", items,
              qPrintable(QGuiApplication::platformName()));
  std::printf("%-22s %14s %14s %12s %8s\n", "fill", "first row ms", "last row ms", "cpu ms", "rows");
  const struct {
    const char* name;
    int column;
    int ascending;
    const char* keyword;
  } runs[] = {{"all news, by site", 0, 1, nullptr},
              {"all news, by date", 2, 0, nullptr},
              {"all news, by title", 3, 1, nullptr},
              {"keyword search", 2, 0, "railway"}};
  for (const auto& run : runs) {
    if (sortsOnly && run.keyword) continue;
    {
      orvo::VaultLock lock(vault.lock);
      if (vault.db.sortColumn() != run.column) vault.db.SetSort(run.column);
      vault.db.SetSortOrder(run.ascending);
    }
    Clock::time_point start, first{}, last{};
    bool gotFirst = false;
    QEventLoop loop;
    auto c1 = QObject::connect(view.model(), &QAbstractItemModel::rowsInserted, [&] {
      if (!gotFirst) {
        gotFirst = true;
        first = Clock::now();
      }
    });
    auto c2 = QObject::connect(&view, &orvo::CNewsListView::loadingFinished, [&] {
      last = Clock::now();
      loop.quit();
    });
    start = Clock::now();
    double cpu = CpuMs();
    if (run.keyword) view.FillSearch({run.keyword}, false, -1);
    else view.FillAll();
    loop.exec();
    QObject::disconnect(c1);
    QObject::disconnect(c2);
    std::printf("%-22s %14.1f %14.1f %12.1f %8d\n", run.name, gotFirst ? Ms(first - start) : -1.0,
                Ms(last - start), CpuMs() - cpu, view.model()->rowCount());
  }
  // Memory with the grid full, before the marking's database work.
  view.FillAll();
  {
    QEventLoop loop;
    auto c = QObject::connect(&view, &orvo::CNewsListView::loadingFinished, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(c);
  }
  const int rows = view.model()->rowCount();
  const long rssAfter = StatusKb("VmRSS:"), anonAfter = StatusKb("RssAnon:"), fileAfter = StatusKb("RssFile:");
  if (!sortsOnly) {
    // Mark all read: the grid's whole list in one go, as the command does.
    std::vector<int32_t> ids;
    for (int i = 0; i < view.model()->rowCount(); ++i) ids.push_back(view.model()->row(i).id);
    Clock::time_point start = Clock::now();
    double cpu = CpuMs();
    long rc;
    {
      orvo::VaultLock lock(vault.lock);
      if (!kept.empty()) vault.db.StartTransaction();
      rc = vault.db.MarkAsRead(ids, true);
      if (!kept.empty()) vault.db.Abort();
    }
    std::printf("%-22s %14s %14.1f %12.1f %8zu%s\n", "mark all read", "", Ms(Clock::now() - start), CpuMs() - cpu,
                ids.size(), rc == 0 ? "" : "  (failed)");
  }
  std::printf("resident memory: %.1f MiB before the fills, %.1f MiB with %d rows, peak %.1f MiB\n",
              rssBefore / 1024.0, rssAfter / 1024.0, rows, StatusKb("VmHWM:") / 1024.0);
  // The database is read through a memory map: its pages count as resident
  // but belong to the file and are given back under memory pressure.
  std::printf("  of which anonymous (heap) %.1f MiB, file-backed (program, libraries, mapped database) %.1f MiB\n",
              anonAfter / 1024.0, fileAfter / 1024.0);
  double load[1] = {0};
  if (getloadavg(load, 1) == 1) std::printf("load average while measuring: %.2f\n", load[0]);
  std::printf("targets: first row within 100 ms, all rows within 2000 ms, sort and search within 500 ms;\n"
              "  at a million items each sort's rows all within 1000 ms, heap per row not above 0.28 KB\n");
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
