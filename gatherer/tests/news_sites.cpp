#include "news_sites.h"

#include <chrono>
#include <thread>

#include "engine_home.h"

namespace orvo::testing {

namespace {

// Cyrillic in windows-1251 and in UTF-8 for "Новость" (news) and "Мир" (world).
const std::string kNewsCp1251 = "\xcd\xee\xe2\xee\xf1\xf2\xfc";
const std::string kNewsUtf8 = "\xd0\x9d\xd0\xbe\xd0\xb2\xd0\xbe\xd1\x81\xd1\x82\xd1\x8c";
const std::string kWorldUtf8 = "\xd0\x9c\xd0\xb8\xd1\x80";

std::string ListMaskA(const std::string& base, bool withForm) {
  std::string form = withForm ? "<pre><param pname=a pvalue=1><param pname=b pvalue=2></pre>" : "";
  return "<x-head url='" + base + "/a/list.html'></x-head>" + form +
         "<ul class=news><li ord=-1><a role=link></a><span role=date dateFrmt='D1*M1*Y1*H1*N1'></span></li></ul>";
}

std::string ListMaskB(const std::string& base) {
  return "<x-head url='" + base + "/b/list.html'></x-head>"
         "<div class=lenta><a ord=-1 role=link></a></div>";
}

const char kNewsMaskA[] =
    "<x-head></x-head><div class=article><h1 role=header></h1><p class=by role=author></p>"
    "<div class=text><p ord=-1 role=text paragraph=1></p><img ord=-1 role=img></div></div>";

const char kNewsMaskB[] = "<x-head></x-head><div class=story><h2 role=header></h2><p ord=-1 role=text></p></div>";

void StallUntilStopped(FixtureServer& fx) {
  for (int i = 0; i < 600 && !fx.stopping(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

}  // namespace

std::string NewsNetwork::TitleB(int n) { return kNewsUtf8 + " " + std::to_string(n); }

NewsNetwork::NewsNetwork(const NewsNetworkOptions& options) : options_(options) {
  auto& s = fx_.server();
  s.Post("/upd/catalog.asp", [this](const httplib::Request&, httplib::Response& res) {
    if (stallCatalogue) {
      StallUntilStopped(fx_);
      return;
    }
    bool empty = emptyCatalogue;
    if (const int fail = emptyThenFail; fail != 0) {
      if (++catalogueRequests_ % 2 == 0) {
        if (fail < 0) StallUntilStopped(fx_);
        res.status = fail < 0 ? 500 : fail;
        return;
      }
      empty = true;
    }
    std::string v = std::to_string(maskVersion.load());
    std::string rows;
    if (!empty) {
      rows = "<tr name='Site A'><td cat=News ListMask=A1 Vers=" + v + "></td><td NPMask=A2 Vers=" + v +
             " Fdld=0></td></tr>";
      if (!onlySiteA)
        rows += "<tr name='Site B'><td cat='" + kWorldUtf8 + "' ListMask=B1 Vers=" + v + "></td><td NPMask=B2 Vers=" +
                v + "></td></tr>";
    }
    res.set_content("<html><head><meta charset=utf-8></head><body><table>" + rows + "</table></body></html>",
                    "text/html; charset=utf-8");
  });
  s.Post("/upd/getmask.asp", [this](const httplib::Request& req, httplib::Response& res) {
    for (int i = 0; i < 1200 && hangMasks && !fx_.stopping(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::string id = req.body.size() > 6 ? req.body.substr(6) : "";
    if (!id.empty() && id.back() == '\0') id.pop_back();
    const std::string base = "http://127.0.0.1:" + std::to_string(fx_.port());
    if (id == "A1") res.set_content(ListMaskA(base, options_.withForm), "text/html");
    else if (id == "A2") res.set_content(kNewsMaskA, "text/html");
    else if (id == "B1") res.set_content(ListMaskB(base), "text/html");
    else if (id == "B2") res.set_content(kNewsMaskB, "text/html");
    else res.status = 404;
  });
  s.Get("/upd/end.asp", [](const httplib::Request&, httplib::Response& res) { res.set_content("", "text/plain"); });

  auto listA = [this](const httplib::Request& req, httplib::Response& res) {
    if (req.method == "POST") lastListBody = req.body;
    std::string items;
    for (int n = 1; n <= options_.articlesA; ++n) {
      items += "<li><a href='/a/" + std::to_string(n) + ".html'>Story " + std::to_string(n) + "</a> <span>" +
               (n % 28 < 9 ? "0" : "") + std::to_string(n % 28 + 1) + ".12.2023 14:05</span></li>";
    }
    if (options_.with404) items += "<li><a href='/a/gone.html'>Gone</a> <span>01.12.2023 10:00</span></li>";
    if (options_.withStalled) items += "<li><a href='/a/stalled.html'>Slow</a> <span>02.12.2023 10:00</span></li>";
    // One more story after the failing pages shows the run goes on.
    if (options_.with404 || options_.withStalled)
      items += "<li><a href='/a/last.html'>Last</a> <span>03.12.2023 10:00</span></li>";
    res.set_content("<html><body><h1>Site A</h1><ul class=news>" + items + "</ul></body></html>",
                    "text/html; charset=utf-8");
  };
  s.Get("/a/list.html", listA);
  s.Post("/a/list.html", listA);
  s.Get(R"(/a/(\d+|last)\.html)", [this](const httplib::Request& req, httplib::Response& res) {
    std::string n = req.matches[1];
    std::string imgs;
    for (int k = 0; k < options_.imagesPerArticle; ++k) {
      const std::string host = options_.deadImagePort && k + 1 == options_.imagesPerArticle
                                   ? "http://127.0.0.1:" + std::to_string(options_.deadImagePort)
                                   : "";
      imgs += "<img src='" + host + "/a/img/" + n + "_" + std::to_string(k) + ".png'>";
    }
    res.set_content("<html><body><div class=article><h1>Title " + n + "</h1><p class=by>Author " + n +
                        "</p><div class=text><p>First paragraph of story " + n +
                        ".</p><p>Second paragraph.</p>" + imgs + "</div></div></body></html>",
                    "text/html; charset=utf-8");
  });
  s.Get(R"(/a/img/(\w+)\.png)", [this](const httplib::Request& req, httplib::Response& res) {
    if (req.matches[1] == hangingImage) {
      imageHanging = hangImage.load();
      for (int i = 0; i < 1200 && hangImage && !fx_.stopping(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      imageHanging = false;
    }
    res.set_content("PNG:" + std::string(req.matches[1]) + std::string(2000, '.'), "image/png");
  });
  s.Get("/a/gone.html", [](const httplib::Request&, httplib::Response& res) {
    res.status = 404;
    res.set_content("<html><body>Not found</body></html>", "text/html");
  });
  s.Get("/a/stalled.html", [this](const httplib::Request&, httplib::Response& res) {
    // Half an article, then nothing until the test ends. Not a compressible
    // type, so the first half leaves at once.
    res.set_chunked_content_provider("application/x-stalled", [this](size_t offset, httplib::DataSink& sink) {
      if (offset == 0) {
        std::string part =
            "<html><body><div class=article><h1>Slow story</h1><p class=by>Late</p>"
            "<div class=text><p>What arrived in time.</p>";
        sink.write(part.data(), part.size());
        return true;
      }
      StallUntilStopped(fx_);
      return false;
    });
  });

  s.Get("/b/list.html", [this](const httplib::Request&, httplib::Response& res) {
    std::string links;
    for (int n = 1; n <= options_.articlesB; ++n)
      links += "<a href='/b/" + std::to_string(n) + ".html'>" + kNewsCp1251 + "</a> ";
    res.set_content("<html><head><meta http-equiv='Content-Type' content='text/html; charset=windows-1251'></head>"
                    "<body><div class=lenta>" + links + "</div></body></html>",
                    "text/html");
  });
  s.Get(R"(/b/(\d+)\.html)", [this](const httplib::Request& req, httplib::Response& res) {
    std::string n = req.matches[1];
    const std::string block = bareArticlesB ? "section" : "div class=story";
    res.set_content("<html><head><meta http-equiv='Content-Type' content='text/html; charset=windows-1251'></head>"
                    "<body><" + block + "><h2>" + kNewsCp1251 + " " + n + "</h2><p>" + kNewsCp1251 +
                        "</p></" + block.substr(0, block.find(' ')) + "></body></html>",
                    "text/html");
  });
  if (options.plain) fx_.ServePlain();
  fx_.Start();
}

std::string NewsNetwork::DownloadUrl() const {
  return "127.0.0.1:" + std::to_string(fx_.port()) + "/upd/catalog.asp";
}

namespace {

void WriteNewsSettings(const Settings& s, const std::string& dbPath, NewsNetwork& net, int connectTimeout) {
  s.WriteText(kSystemSection, "PathDB", dbPath);
  s.WriteText(kSystemSection, "DownloadURL", net.DownloadUrl());
  s.WriteInt(kDownloadSection, "ConnectTimeout", connectTimeout);
}

// Both pairs selected, each with two empty masks that the update fills.
void AddNewsPairs(Database& db) {
  const char* kSql =
      "INSERT INTO news_config (site_name) VALUES ('Site A'), ('Site B');"
      "INSERT INTO news_cat (name) VALUES ('News'), ('\xd0\x9c\xd0\xb8\xd1\x80');"
      "INSERT INTO site_cat_rel (is_selected, fk_news_cat, fk_news_config) VALUES (1, 1, 1), (1, 2, 2);"
      "INSERT INTO news_masks (mask, mask_version, type, fk_site_cat_rel)"
      " VALUES ('', 1, 0, 1), ('', 1, 1, 1), ('', 1, 0, 2), ('', 1, 1, 2);";
  db.Exec(kSql);
}

}  // namespace

void PrepareNewsHome(EngineHome& home, NewsNetwork& net, int connectTimeout) {
  WriteNewsSettings(home.settings(), home.dbPath(), net, connectTimeout);
  AddNewsPairs(home.db());
}

std::string PrepareNewsFolder(const std::string& folder, NewsNetwork& net, int connectTimeout,
                              const std::string& database) {
  const std::string dbPath = database.empty() ? folder + "/news.db" : database;
  std::unique_ptr<Database> db;
  if (Database::Open(dbPath, Database::Mode::kCreate, &db) == 0) AddNewsPairs(*db);
  const Settings settings(folder + "/ORVO.ini");
  WriteNewsSettings(settings, database.empty() ? dbPath : std::string(), net, connectTimeout);
  if (!database.empty()) settings.WriteText(kDatabaseSection, "Url", database);
  return dbPath;
}

}  // namespace orvo::testing
