// The report pages over real HTTP on 127.0.0.1.
#include "updates/reports.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <mutex>
#include <thread>

namespace orvo::updates {
namespace {

TEST(ReportPagesTest, ReportsAreLoggedCountedPerPairAndListedEscaped) {
  httplib::Server http;
  std::mutex mutex;
  std::vector<std::string> log;
  InstallReportPages(http, std::make_shared<ReportBook>(), [&](const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    log.push_back(line);
  });
  int port = http.bind_to_any_port("127.0.0.1");
  ASSERT_GT(port, 0);
  std::thread serving([&] { http.listen_after_bind(); });
  httplib::Client c("127.0.0.1", port);
  c.set_read_timeout(10);

  auto page = c.Get("/reports.asp");
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find("No client has reported"), std::string::npos);

  const char* form = "application/x-www-form-urlencoded";
  for (int i = 0; i < 2; ++i) {
    auto r = c.Post("/upd/report.asp",
                    "site=Site%20%3Cb%3EA&category=News&versions=2%2F3&symptom=the%20news%20mask%20left%20the%20body"
                    "%20empty%20on%203%20of%203%20pages",
                    form);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
  }
  auto other = c.Post("/report.asp", "site=B&category=World&versions=1%2F1&symptom=x", form);
  ASSERT_TRUE(other);
  auto bad = c.Post("/report.asp", "symptom=no%20pair", form);
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->status, 400);

  page = c.Get("/upd/reports.asp");
  ASSERT_TRUE(page);
  const std::string& body = page->body;
  EXPECT_EQ(body.find("<b>A"), std::string::npos);
  EXPECT_NE(body.find("<td>Site &lt;b&gt;A</td><td>News</td><td>2/3</td><td>the news mask left the body empty on 3 of 3 "
                      "pages</td>"),
            std::string::npos)
      << body;
  EXPECT_NE(body.find("</td><td>2</td></tr>"), std::string::npos) << body;
  EXPECT_NE(body.find("<td>B</td><td>World</td>"), std::string::npos) << body;
  http.stop();
  serving.join();
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].rfind("broken mask reported by 127.0.0.1: Site <b>A / News, masks 2/3: the news mask", 0), 0u)
      << log[0];
}

}  // namespace
}  // namespace orvo::updates
