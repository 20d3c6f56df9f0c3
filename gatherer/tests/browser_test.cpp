#include "browser.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include <curl/curl.h>

#include <chrono>

#include "fixture_server.h"

namespace orvo {
namespace {

using testing::FixtureServer;

// Serves half a page and then nothing more until the test ends.
void AddStalledPage(FixtureServer& fx, const std::string& path) {
  fx.server().Get(path, [&fx](const httplib::Request&, httplib::Response& res) {
    // Not a compressible type, so the server sends the first half at once.
    res.set_chunked_content_provider("application/x-stalled", [&fx](size_t offset, httplib::DataSink& sink) {
      if (offset == 0) {
        std::string part = "<html><body><p>first half";
        sink.write(part.data(), part.size());
        return true;
      }
      for (int i = 0; i < 100 && !fx.stopping(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      return false;
    });
  });
}

class BrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fx_.server().Get("/page", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<html><body>\xcf\xf0\xe8</body></html>", "text/html; charset=\"windows-1251\"");
    });
    fx_.server().Get("/moved", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("/page");
    });
    fx_.server().Get("/missing", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("gone", "text/plain");
    });
    fx_.server().Get("/big", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(3000, 'x'), "text/html");
    });
    fx_.server().Post("/form", [this](const httplib::Request& req, httplib::Response& res) {
      postedBody_ = req.body;
      postedType_ = req.get_header_value("Content-Type");
      res.set_content("<html><body>ok</body></html>", "text/html");
    });
    AddStalledPage(fx_, "/stalled");
    fx_.Start();
  }

  FixtureServer fx_;
  std::string postedBody_;
  std::string postedType_;
};

TEST_F(BrowserTest, CompletedPageCarriesBytesCharsetAndFinalAddress) {
  Browser b;
  QSignalSpy done(&b, &Browser::DocumentComplete);
  b.Navigate(fx_.Url("/moved"));
  EXPECT_TRUE(b.Busy());
  ASSERT_TRUE(done.wait(10000));
  EXPECT_FALSE(b.Busy());
  ASSERT_NE(b.Document(), nullptr);
  EXPECT_EQ(b.Document()->url, fx_.Url("/page"));
  EXPECT_EQ(b.Document()->requestedUrl, fx_.Url("/moved"));
  EXPECT_EQ(b.Document()->charset, "windows-1251");
  EXPECT_EQ(b.Document()->bytes, "<html><body>\xcf\xf0\xe8</body></html>");
  EXPECT_TRUE(b.Document()->complete);
  EXPECT_EQ(b.LocationUrl(), fx_.Url("/page"));
}

TEST_F(BrowserTest, PostSendsTheBodyWithItsZeroByteAndTheHeader) {
  Browser b;
  QSignalSpy done(&b, &Browser::DocumentComplete);
  std::string body("a=1&b=2", 8);  // the terminating zero goes too
  b.Navigate(fx_.Url("/form"), body, {"Content-Type:application/x-www-form-urlencoded"});
  ASSERT_TRUE(done.wait(10000));
  EXPECT_EQ(postedBody_, body);
  EXPECT_EQ(postedType_, "application/x-www-form-urlencoded");
}

TEST_F(BrowserTest, FailuresBecomeNavigationErrorsWithTheirCode) {
  Browser b;
  b.SetBodyLimit(1000);
  QSignalSpy done(&b, &Browser::DocumentComplete);
  QSignalSpy failed(&b, &Browser::NavigateError);

  b.Navigate(fx_.Url("/missing"));
  ASSERT_TRUE(failed.wait(10000));
  EXPECT_EQ(failed.last().at(0).value<std::string>(), fx_.Url("/missing"));
  EXPECT_EQ(failed.last().at(1).toInt(), 404);

  b.Navigate(fx_.Url("/big"));
  ASSERT_TRUE(failed.wait(10000));
  EXPECT_EQ(failed.last().at(1).toInt(), CURLE_FILESIZE_EXCEEDED);

  b.Navigate("http://127.0.0.1:1/closed");
  ASSERT_TRUE(failed.wait(10000));
  EXPECT_EQ(failed.last().at(1).toInt(), CURLE_COULDNT_CONNECT);

  b.Navigate("not an address");
  ASSERT_TRUE(failed.wait(10000));
  EXPECT_EQ(done.count(), 0);
  EXPECT_FALSE(b.Busy());
}

TEST_F(BrowserTest, StopKeepsWhatArrivedAndRaisesNothingMore) {
  Browser b;
  QSignalSpy done(&b, &Browser::DocumentComplete);
  QSignalSpy failed(&b, &Browser::NavigateError);
  b.Navigate(fx_.Url("/stalled"));
  QTest::qWait(700);
  EXPECT_TRUE(b.Busy());
  b.Stop();
  EXPECT_FALSE(b.Busy());
  ASSERT_NE(b.Document(), nullptr);
  EXPECT_FALSE(b.Document()->complete);
  EXPECT_EQ(b.Document()->bytes, "<html><body><p>first half");
  QTest::qWait(500);
  EXPECT_EQ(done.count(), 0);
  EXPECT_EQ(failed.count(), 0);
}

TEST_F(BrowserTest, ANewNavigationAbandonsTheOneInProgress) {
  Browser b;
  QSignalSpy done(&b, &Browser::DocumentComplete);
  QSignalSpy failed(&b, &Browser::NavigateError);
  b.Navigate(fx_.Url("/stalled"));
  QTest::qWait(200);
  b.Navigate(fx_.Url("/page"));
  ASSERT_TRUE(done.wait(10000));
  QTest::qWait(300);
  EXPECT_EQ(done.count(), 1);
  EXPECT_EQ(done.first().at(0).value<std::string>(), fx_.Url("/page"));
  EXPECT_EQ(failed.count(), 0);
}

// A page read ahead is taken over by its Navigate without a second request;
// one whose read-ahead failed is loaded again and fails as any other; a stop
// ends a read-ahead the page waits for, and a dropped one raises nothing.
TEST_F(BrowserTest, AReadAheadIsTakenOverAndAFailedOneLoadedAgain) {
  Browser b;
  QSignalSpy done(&b, &Browser::DocumentComplete);
  QSignalSpy failed(&b, &Browser::NavigateError);
  auto settle = [&b] {
    for (int i = 0; i < 200 && !b.PrefetchSettled(); ++i) QTest::qWait(50);
    return b.PrefetchSettled();
  };

  b.Prefetch(fx_.Url("/moved"));
  EXPECT_FALSE(b.Busy());
  ASSERT_TRUE(settle());
  EXPECT_EQ(done.count(), 0);
  b.Navigate(fx_.Url("/moved"));
  EXPECT_TRUE(b.Busy());
  ASSERT_TRUE(done.wait(10000));
  EXPECT_EQ(b.Document()->url, fx_.Url("/page"));
  EXPECT_EQ(b.Document()->bytes, "<html><body>\xcf\xf0\xe8</body></html>");
  EXPECT_EQ(b.LocationUrl(), fx_.Url("/page"));
  EXPECT_EQ(fx_.CountRequests("GET /moved"), 1);

  b.Prefetch(fx_.Url("/missing"));
  ASSERT_TRUE(settle());
  EXPECT_EQ(failed.count(), 0);
  b.Navigate(fx_.Url("/missing"));
  ASSERT_TRUE(failed.wait(10000));
  EXPECT_EQ(failed.last().at(1).toInt(), 404);
  EXPECT_EQ(fx_.CountRequests("GET /missing"), 2);

  // Taken over while it still loads, then stopped: what arrived stays.
  b.Prefetch(fx_.Url("/stalled"));
  b.Navigate(fx_.Url("/stalled"));
  for (int i = 0; i < 200 && fx_.CountRequests("GET /stalled") == 0; ++i) QTest::qWait(50);
  QTest::qWait(700);
  b.Stop();
  EXPECT_FALSE(b.Busy());
  ASSERT_NE(b.Document(), nullptr);
  EXPECT_EQ(b.Document()->requestedUrl, fx_.Url("/stalled"));
  EXPECT_FALSE(b.Document()->complete);

  // A read-ahead that is dropped, or that no Navigate asks for, raises nothing.
  b.Prefetch(fx_.Url("/stalled"));
  b.DropPrefetch();
  b.Prefetch(fx_.Url("/page"));
  ASSERT_TRUE(settle());
  QTest::qWait(200);
  EXPECT_EQ(done.count(), 1);
  EXPECT_EQ(failed.count(), 1);
}

}  // namespace
}  // namespace orvo
