// Benchmark of the catalogue update: a generated catalogue page of N
// site/category pairs (four categories per site, names from a pool of 50
// categories) read and applied to a news database, once when every pair is
// new and once more when all are known and unchanged. The end-of-update
// request goes to a local server on 127.0.0.1.
//
//   catalogue_bench [--pairs N ...]      (default: 1000 10000 100000)
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue.h"
#include "database.h"
#include "engine_home.h"
#include "fixture_server.h"
#include "gatherer/masks/html_document.h"
#include "http_client.h"

using namespace orvo;

namespace {

std::string CataloguePage(int pairs) {
  std::string page = "<html><head><meta charset=utf-8></head><body><table>";
  for (int site = 0; site * 4 < pairs; ++site) {
    page += "<tr name='Site " + std::to_string(site) + "'>";
    for (int k = 0; k < 4 && site * 4 + k < pairs; ++k) {
      const std::string id = std::to_string(site * 4 + k);
      page += "<td cat='Category " + std::to_string((site + k * 13) % 50) + "' ListMask=L" + id +
              " Vers=3></td><td NPMask=N" + id + " Vers=3 Fdld=0></td>";
    }
    page += "</tr>";
  }
  return page + "</table></body></html>";
}

double Seconds(QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e9; }

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--pairs") && i + 1 < argc) {
      sizes.push_back(std::atoi(argv[++i]));
    } else {
      std::printf(
          "usage: catalogue_bench [--pairs N ...]\n"
          "Reads and applies a generated catalogue of N site/category pairs (default 1000, 10000\n"
          "and 100000) to a new news database, then applies it again, and prints the times.\n");
      return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
    }
  }
  if (sizes.empty()) sizes = {1000, 10000, 100000};

  testing::FixtureServer server;
  server.server().Get("/upd/end.asp", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("", "text/plain");
  });
  server.Start();
  const UpdateServer updates = UpdateAddresses("127.0.0.1:" + std::to_string(server.port()) + "/upd/catalog.asp");

  std::printf("%8s  %10s  %12s  %12s  %10s\n", "pairs", "read (s)", "new (s)", "known (s)", "rows");
  for (int pairs : sizes) {
    testing::EngineHome home;
    const std::string html = CataloguePage(pairs);
    QElapsedTimer t;
    t.start();
    HtmlDocument page = HtmlDocument::FromBytes(html, "utf-8", updates.catalogueUrl);
    const Catalogue catalogue = ReadCatalogue(page);
    const double read = Seconds(t);
    HttpSession http;
    auto ignore = [](const std::string&) {};
    double apply[2] = {0, 0};
    for (double& seconds : apply) {
      MarkAllMasks(home.db());
      t.restart();
      ApplyCatalogue(home.db(), http, updates, catalogue, true, ignore);
      seconds = Seconds(t);
      WithdrawUnconfirmedMasks(home.db());
    }
    std::printf("%8d  %10.2f  %12.2f  %12.2f  %10lld\n", pairs, read, apply[0], apply[1],
                static_cast<long long>(home.Count("SELECT count(*) FROM site_cat_rel")));
    std::fflush(stdout);
  }
  return 0;
}
