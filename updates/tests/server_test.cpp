// The server over real HTTP on 127.0.0.1, asked the way the gathering engine
// asks it.
#include "updates/server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <thread>
#include <vector>

#include "catalogue_fixture.h"

namespace orvo::updates {
namespace {

using testing::CatalogueFolder;

class RunningServer {
 public:
  explicit RunningServer(const std::string& folder, const std::string& static_folder = {}) {
    ServerOptions options;
    options.catalogue_folder = folder;
    options.static_folder = static_folder;
    options.port = 0;
    options.poll_seconds = 3600;  // tests rely on the look before each request
    server_ = std::make_unique<UpdatesServer>(options, [this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      log_ += line + "\n";
    });
    std::string error;
    loaded_ = server_->Load(&error);
    if (!loaded_) return;
    port_ = server_->Bind(&error);
    if (port_ > 0) thread_ = std::thread([this] { server_->Serve(); });
  }
  ~RunningServer() {
    server_->Stop();
    if (thread_.joinable()) thread_.join();
  }
  bool ok() const { return loaded_ && port_ > 0; }
  int port() const { return port_; }
  httplib::Client Client() const {
    httplib::Client c("127.0.0.1", port_);
    c.set_connection_timeout(5);
    c.set_read_timeout(10);
    return c;
  }
  std::string Log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  // The request log is written after the answer has gone out, so a client
  // may look before the line is there.
  std::string LogWith(const std::string& text) {
    for (int i = 0; i < 500 && Log().find(text) == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return Log();
  }

 private:
  std::unique_ptr<UpdatesServer> server_;
  bool loaded_ = false;
  int port_ = -1;
  std::thread thread_;
  std::mutex mutex_;
  std::string log_;
};

// The engine's requests: bodies end with their NUL byte; the header has no
// space after the colon for the catalogue and one for the mask fetch.
httplib::Result PostCatalogue(httplib::Client& c, const std::string& path = "/catalogue.asp") {
  return c.Post(path.c_str(), std::string("_Ver=2.2.49", 12), "application/x-www-form-urlencoded");
}
httplib::Result PostMask(httplib::Client& c, const std::string& id, const std::string& path = "/getmask.asp") {
  std::string body = "_mask=" + id;
  body.push_back('\0');
  return c.Post(path.c_str(), body, "application/x-www-form-urlencoded");
}

TEST(UpdatesServerTest, AnswersTheThreeRequestsOfAnUpdate) {
  CatalogueFolder f;
  f.WriteDefault();
  RunningServer s(f.path());
  ASSERT_TRUE(s.ok());
  auto c = s.Client();

  auto page = PostCatalogue(c);
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(page->body.find("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"),
            std::string::npos);
  EXPECT_NE(page->body.find("<tr name=\"Beta\">"), std::string::npos);
  auto get = c.Get("/");  // a browser's look at the same page
  ASSERT_TRUE(get);
  EXPECT_EQ(get->body, page->body);

  auto mask = PostMask(c, "b-list.html");
  ASSERT_TRUE(mask);
  EXPECT_EQ(mask->status, 200);
  EXPECT_EQ(mask->body, "<div url=\"http://b.test/list\"></div>");
  // A client that cuts the catalogue address after its last "/" and then
  // appends "/getmask.asp" asks for "//getmask.asp".
  auto doubled = PostMask(c, "a-news.html", "//getmask.asp");
  ASSERT_TRUE(doubled);
  EXPECT_EQ(doubled->status, 200);
  EXPECT_EQ(doubled->body, "<h1 role=\"header\"></h1><p role=\"text\" ord=\"-1\"></p>");
  auto byQuery = c.Get("/getmask.asp?_mask=a-list.html");
  ASSERT_TRUE(byQuery);
  EXPECT_EQ(byQuery->status, 200);

  auto end = c.Get("//end.asp");
  ASSERT_TRUE(end);
  EXPECT_EQ(end->status, 200);

  for (const char* line : {"POST /catalogue.asp 200", "client version 2.2.49",
                           "POST /getmask.asp 200 36 bytes, mask \"b-list.html\"", "GET //end.asp 200 3 bytes, update finished"})
    EXPECT_NE(s.LogWith(line).find(line), std::string::npos) << s.Log();
}

TEST(UpdatesServerTest, UnknownMaskIsNotFound) {
  CatalogueFolder f;
  f.WriteDefault();
  RunningServer s(f.path());
  ASSERT_TRUE(s.ok());
  auto c = s.Client();
  for (std::string id : {"nope.html", "", "../catalogue.txt", "masks/a-list.html"}) {
    auto r = PostMask(c, id);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404) << id;
  }
}

TEST(UpdatesServerTest, ChangedFolderIsServedAtTheNextRequest) {
  CatalogueFolder f;
  f.WriteDefault();
  RunningServer s(f.path());
  ASSERT_TRUE(s.ok());
  auto c = s.Client();
  ASSERT_TRUE(PostCatalogue(c));

  f.WriteMask("b-list.html", "<div url=\"http://b.test/list2\"></div>");
  f.WriteIndex("Beta | Sport | b-list.html | 5 | a-news.html | 3\n");
  auto page = PostCatalogue(c);
  ASSERT_TRUE(page);
  EXPECT_EQ(page->body.find("Alpha"), std::string::npos);
  EXPECT_NE(page->body.find("ListMask=\"b-list.html\" Vers=\"5\""), std::string::npos) << page->body;
  EXPECT_EQ(PostMask(c, "b-list.html")->body, "<div url=\"http://b.test/list2\"></div>");
  EXPECT_EQ(PostMask(c, "a-list.html")->status, 404);  // no longer listed
  EXPECT_NE(s.Log().find("Catalogue reloaded: 1 site, 1 pair, 2 masks."), std::string::npos) << s.Log();
}

TEST(UpdatesServerTest, BrokenFolderKeepsTheLastGoodCatalogueInService) {
  CatalogueFolder f;
  f.WriteDefault();
  RunningServer s(f.path());
  ASSERT_TRUE(s.ok());
  auto c = s.Client();
  std::string good = PostCatalogue(c)->body;

  struct Step {
    const char* what;
    std::function<void()> breakIt;
    std::string named;  // the file the log must name
  };
  std::vector<Step> steps = {
      {"duplicate pair",
       [&] { f.WriteIndex("Alpha | World | a-list.html | 2 | a-news.html | 3\nAlpha | World | a-list.html | 3 | a-news.html | 3\n"); },
       f.Index() + ":2: the pair Alpha / World is listed twice"},
      {"bad version", [&] { f.WriteIndex("Alpha | World | a-list.html | 2.5 | a-news.html | 3\n"); },
       f.Index() + ":1: the list mask version \"2.5\""},
      {"missing mask file",
       [&] {
         f.WriteDefault();
         std::remove(f.Mask("b-list.html").c_str());
       },
       f.Index() + ":4: the mask file masks/b-list.html does not exist"},
  };
  for (const auto& step : steps) {
    step.breakIt();
    auto page = PostCatalogue(c);
    ASSERT_TRUE(page) << step.what;
    EXPECT_EQ(page->status, 200) << step.what;
    EXPECT_EQ(page->body, good) << step.what;
    // The masks of the good catalogue stay available, even one whose file is gone.
    auto mask = PostMask(c, "b-list.html");
    EXPECT_EQ(mask->body, "<div url=\"http://b.test/list\"></div>") << step.what;
    std::string log = s.Log();
    EXPECT_NE(log.find("Catalogue not reloaded: " + step.named), std::string::npos) << step.what << "\n" << log;
    EXPECT_NE(log.find("Still serving the catalogue loaded at"), std::string::npos);
  }
  // Reported once per change, not at every request.
  size_t before = s.Log().size();
  PostCatalogue(c);
  std::string after = s.Log().substr(before);
  EXPECT_EQ(after.find("not reloaded"), std::string::npos) << after;

  f.WriteMask("b-list.html", "<div url=\"http://b.test/fixed\"></div>");
  EXPECT_EQ(PostMask(c, "b-list.html")->body, "<div url=\"http://b.test/fixed\"></div>");
}

TEST(UpdatesServerTest, ConcurrentClientsDuringReloadsAlwaysGetAWholeCatalogue) {
  CatalogueFolder f;
  f.WriteDefault();
  RunningServer s(f.path());
  ASSERT_TRUE(s.ok());
  std::atomic<bool> done{false};
  std::thread editor([&] {
    for (int v = 2; v < 60; ++v)
      f.WriteIndex("Alpha | World | a-list.html | " + std::to_string(v) + " | a-news.html | " + std::to_string(v) +
                   "\n");
    done = true;
  });
  std::atomic<int> bad{0}, served{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < 3; ++t)
    clients.emplace_back([&] {
      auto c = s.Client();
      for (int i = 0; i < 40 || !done; ++i) {
        auto page = PostCatalogue(c);
        if (!page || page->status != 200 || page->body.find("</html>") == std::string::npos) ++bad;
        auto mask = PostMask(c, "a-news.html");
        if (!mask || mask->status != 200) ++bad;
        ++served;
      }
    });
  editor.join();
  for (auto& t : clients) t.join();
  EXPECT_EQ(bad, 0);
  EXPECT_GE(served, 120);
  auto last = PostCatalogue(*std::make_unique<httplib::Client>(s.Client()));
  EXPECT_NE(last->body.find("Vers=\"59\""), std::string::npos);
}

TEST(UpdatesServerTest, ServesAStaticFolderBesideTheCatalogue) {
  CatalogueFolder f;
  f.WriteDefault();
  orvo::testing::TempDir site;
  ::mkdir(site.File("news").c_str(), 0755);
  orvo::testing::WriteFile(site.File("news/one.html"), "<html><body>one</body></html>");
  orvo::testing::WriteFile(site.File("secret.txt"), "not for the web");
  RunningServer s(f.path(), site.File("news"));
  ASSERT_TRUE(s.ok());
  auto c = s.Client();
  auto page = c.Get("/one.html");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->body, "<html><body>one</body></html>");
  EXPECT_EQ(page->get_header_value("Content-Type").rfind("text/html", 0), 0u);
  EXPECT_EQ(c.Get("/missing.html")->status, 404);
  auto escape = c.Get("/../secret.txt");
  ASSERT_TRUE(escape);
  EXPECT_NE(escape->body, "not for the web");
  EXPECT_EQ(PostMask(c, "a-list.html")->status, 200);  // the catalogue still answers
}

TEST(UpdatesServerTest, MasksNameTheServerAsTheClientReachedIt) {
  CatalogueFolder f;
  f.WriteMask("m.html", "<div url=\"{{SERVER}}/site/list.html\"></div><p>{{SERVER}}</p>");
  f.WriteIndex("S | C | m.html | 2 | m.html | 2\n");
  RunningServer s(f.path());
  ASSERT_TRUE(s.ok());
  auto c = s.Client();
  std::string origin = "http://127.0.0.1:" + std::to_string(s.port());
  EXPECT_EQ(PostMask(c, "m.html")->body, "<div url=\"" + origin + "/site/list.html\"></div><p>" + origin + "</p>");

  httplib::Headers named{{"Host", "news.example:8642"}};
  auto r = c.Get("/getmask.asp?_mask=m.html", named);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body.rfind("<div url=\"http://news.example:8642/site/list.html\">", 0), 0u) << r->body;
  // A Host header that is not a plain host name never reaches the mask.
  httplib::Headers hostile{{"Host", "x\"><script>"}};
  r = c.Get("/getmask.asp?_mask=m.html", hostile);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body.rfind("<div url=\"" + origin + "/site/list.html\">", 0), 0u) << r->body;
}

TEST(FormValueTest, ReadsFieldsAsClientsSendThem) {
  EXPECT_EQ(FormValue(std::string("_mask=12\0", 9), "_mask"), "12");
  EXPECT_EQ(FormValue("a=1&_mask=x%2Dy+z&b=2", "_mask"), "x-y z");
  EXPECT_EQ(FormValue("_mask", "_mask"), "");
  EXPECT_EQ(FormValue("_masks=1", "_mask"), "");
  EXPECT_EQ(FormValue("_mask=%4", "_mask"), "%4");
  EXPECT_EQ(FormValue("", "_mask"), "");
}

}  // namespace
}  // namespace orvo::updates
