// The reader's first start without any site, the dialog that adds one from
// its address, and own sites in the Sites pane.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <ctime>

#include "fixture_server.h"
#include "frame_controls.h"
#include "newsdetail.h"
#include "options_sheet.h"
#include "store/own_sites.h"
#include "own_sites_ui.h"
#include "sites_tree.h"
#include "window_fixture.h"

namespace orvo::testing {
namespace {

// A site whose front page advertises two feeds.
class TwoFeedSite {
 public:
  TwoFeedSite() {
    auto feed = [this](const char* title) {
      return [this, title](const httplib::Request&, httplib::Response& res) {
        std::string items;
        for (int n = 1; n <= 4; ++n)
          items += "<item><title>" + std::string(title) + " item " + std::to_string(n) + "</title><link>" +
                   fx_.Url("/story.html") + "?n=" + std::to_string(n) + "</link></item>";
        res.set_content(
            "<rss version='2.0'><channel><title>" + std::string(title) + "</title>" + items + "</channel></rss>",
            "application/rss+xml");
      };
    };
    fx_.server().Get("/main.xml", feed("Main"));
    fx_.server().Get("/sport.xml", feed("Sport"));
    fx_.server().Get("/", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(
          "<html><head><link rel=alternate type='application/rss+xml' href='/main.xml'>"
          "<link rel=alternate type='application/rss+xml' href='/sport.xml'></head><body>Front</body></html>",
          "text/html");
    });
    fx_.server().Get("/story.html", [](const httplib::Request&, httplib::Response& res) {
      std::string p;
      for (int k = 0; k < 4; ++k)
        p += "<p>A sentence of the story, long enough and with commas, to read as the text of an article.</p>";
      res.set_content("<html><body><article><h1>Story headline</h1>" + p + "</article></body></html>", "text/html");
    });
    fx_.Start();
  }
  std::string Url(const std::string& path) const { return fx_.Url(path); }

 private:
  FixtureServer fx_;
};

class OwnSitesReaderTest : public ReaderTest {
 protected:
  void EmptyDatabase() {
    ASSERT_EQ(db_->Exec("DELETE FROM site_cat_rel; DELETE FROM news_config; DELETE FROM news_cat;"), 0);
  }
};

TEST_F(OwnSitesReaderTest, AFirstStartWithoutSitesWelcomesWithThreeWaysIn) {
  EmptyDatabase();
  OpenFrame();
  CWelcomePane* welcome = frame_->welcome();
  ASSERT_NE(welcome, nullptr);
  ASSERT_TRUE(WaitFor([&] { return welcome->isVisible(); }));
  EXPECT_EQ(welcome->addButton()->text(), "Add a site or feed...");
  EXPECT_EQ(welcome->importButton()->text(), "Import OPML...");
  EXPECT_EQ(welcome->serverButton()->text(), "Use an updates server...");
  EXPECT_EQ(welcome->geometry(), frame_->newsDetail()->rect());

  // The updates server's button opens the Options on the page with DownloadURL.
  int shownPage = -1;
  QObject::connect(frame_->controls(), &CFrameControls::optionsCreated, [&](COptionsPropSheet* sheet) {
    QTimer::singleShot(0, sheet, [sheet, &shownPage] {
      shownPage = sheet->tabs()->currentIndex();
      sheet->reject();
    });
  });
  welcome->serverButton()->click();
  EXPECT_EQ(shownPage, COptionsPropSheet::kSystemPage);

  // Once a site exists, the welcome goes.
  OwnSite own;
  own.site = "Mine";
  own.category = "News";
  own.address = "http://127.0.0.1:1/feed.xml";
  std::string why;
  ASSERT_TRUE(AddOwnSite(*db_, own, std::time(nullptr), &why)) << why;
  frame_->sitesTree()->Refresh();
  EXPECT_FALSE(welcome->isVisible());
}

TEST_F(OwnSitesReaderTest, TheAddDialogFindsTheFeedsOffTheWindowAndAddsTheChosenOne) {
  TwoFeedSite site;
  EmptyDatabase();
  OpenFrame();
  CAddSiteDialog dialog(*vault_, frame_.get());
  dialog.show();
  dialog.addressEdit()->setText(QString::fromStdString(site.Url("/")));
  int finished = 0;
  QObject::connect(&dialog, &CAddSiteDialog::discoveryFinished, [&] { ++finished; });
  dialog.findButton()->click();
  // The window answers while the network is asked.
  EXPECT_TRUE(dialog.searching());
  EXPECT_FALSE(dialog.addButton()->isEnabled());
  ASSERT_TRUE(WaitFor([&] { return finished == 1; }, 30000));
  ASSERT_EQ(dialog.feedsList()->count(), 2);
  EXPECT_TRUE(dialog.feedsList()->isVisible());
  EXPECT_TRUE(dialog.previewLabel()->text().contains("Main item 1")) << dialog.previewLabel()->text().toStdString();
  EXPECT_TRUE(dialog.previewLabel()->text().contains("\"Story headline\""))
      << dialog.previewLabel()->text().toStdString();
  EXPECT_EQ(dialog.siteEdit()->text(), "Main");

  // The second feed, chosen in the list.
  dialog.siteEdit()->setText("Sport");
  dialog.feedsList()->setCurrentRow(1);
  ASSERT_TRUE(WaitFor([&] { return finished == 2; }, 30000));
  EXPECT_TRUE(dialog.previewLabel()->text().contains("Sport item 1"));
  dialog.categoryEdit()->setText("Games");
  ASSERT_TRUE(dialog.addButton()->isEnabled());
  dialog.addButton()->click();
  ASSERT_TRUE(WaitFor([&] { return dialog.added(); }, 30000)) << dialog.previewLabel()->text().toStdString();
  EXPECT_EQ(QueryInt("SELECT count(*) FROM own_site WHERE address = '" + site.Url("/sport.xml") + "'"), 1);

  // The Sites pane marks it as the user's own, with Rename and Remove.
  frame_->sitesTree()->Refresh();
  QTreeWidgetItem* item = frame_->sitesTree()->ItemOf("Sport", "Games");
  ASSERT_NE(item, nullptr);
  EXPECT_TRUE(CSitesTree::IsOwn(item));
  EXPECT_TRUE(item->font(0).italic());
  EXPECT_TRUE(item->toolTip(0).contains("Your own site")) << item->toolTip(0).toStdString();
  std::unique_ptr<QMenu> menu(frame_->sitesTree()->MenuFor(item));
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->actions().size(), 2);
  EXPECT_EQ(menu->actions()[0]->text(), "&Rename...");
  EXPECT_EQ(menu->actions()[1]->text(), "Re&move...");
}

TEST_F(OwnSitesReaderTest, RemoveAsksWhatBecomesOfTheNewsAndKeepsThemUnlessTold) {
  OwnSite own;
  own.site = "Mine";
  own.category = "News";
  own.address = "http://127.0.0.1:1/feed.xml";
  std::string why;
  ASSERT_TRUE(AddOwnSite(*db_, own, std::time(nullptr), &why)) << why;
  NewsRecord r;
  r.pair = own.pair;
  r.title = "Kept";
  r.url = "http://127.0.0.1:1/kept.html";
  AddNews(r);
  OpenFrame();
  frame_->sitesTree()->Refresh();
  QTreeWidgetItem* site = frame_->sitesTree()->ItemOf("Mine");
  ASSERT_NE(site, nullptr);
  // A catalogue site has no such menu.
  EXPECT_EQ(frame_->sitesTree()->MenuFor(frame_->sitesTree()->ItemOf("Alpha")), nullptr);

  QString said;
  QTimer answer;
  answer.setInterval(10);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    said = box->text();
    answer.stop();
    for (QAbstractButton* b : box->buttons())
      if (b->text() == "&Remove") b->click();
  });
  answer.start();
  frame_->sitesTree()->RemoveOwn(site);
  EXPECT_TRUE(said.contains("Its news stay until they are deleted")) << said.toStdString();
  EXPECT_EQ(QueryInt("SELECT removed FROM own_site"), 1);
  EXPECT_EQ(QueryInt("SELECT count(*) FROM newsitem WHERE title = 'Kept'"), 1);
}

}  // namespace
}  // namespace orvo::testing
