#include "catalogue.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <thread>

#include "engine_home.h"
#include "gatherer/masks/html_document.h"
#include "fixture_server.h"
#include "http_client.h"
#include "pg_server.h"

namespace orvo {
namespace {

using testing::EngineHome;
using testing::FixtureServer;

TEST(CatalogueAddressTest, MaskAndEndAddressesLieBesideTheCataloguePage) {
  UpdateServer s = UpdateAddresses("127.0.0.1:8080/upd/catalog.asp");
  EXPECT_EQ(s.catalogueUrl, "http://127.0.0.1:8080/upd/catalog.asp");
  EXPECT_EQ(s.maskUrl, "http://127.0.0.1:8080/upd/getmask.asp");
  EXPECT_EQ(s.endUrl, "http://127.0.0.1:8080/upd/end.asp");
  EXPECT_EQ(UpdateAddresses("updates.example").maskUrl, "http://updates.example/getmask.asp");
}

TEST(CatalogueAddressTest, CataloguePagesAreReadInPairsOfCells) {
  HtmlDocument page = HtmlDocument::Parse(
      "<html><body><p>intro</p><table>"
      "<tr name='One'><td cat=A ListMask=L1 Vers=4></td><td NPMask=N1 Vers=5 Fdld=1></td>"
      "<td cat=B ListMask=L2 Vers=x NPMask=N2 Fdld=0></td></tr>"
      "<tr name='Empty'></tr></table>"
      "<table><tr name='Two'><td cat=C ListMask=L3 Vers=7></td><td NPMask=N3 Vers=8></td></tr></table>"
      "</body></html>");
  Catalogue cat = ReadCatalogue(page);
  EXPECT_EQ(cat.siteRows, 3);
  ASSERT_EQ(cat.pairs.size(), 3u);
  const CataloguePair& a = cat.pairs[0];
  EXPECT_EQ(a.site + a.category + a.listMask + a.newsMask, "OneAL1N1");
  EXPECT_EQ(std::vector<int>({a.listVersion, a.newsVersion, a.forced}), std::vector<int>({4, 5, 1}));
  // A last cell without partner is read as both cells of its pair.
  const CataloguePair& b = cat.pairs[1];
  EXPECT_EQ(b.category + b.listMask + b.newsMask, "BL2N2");
  EXPECT_EQ(b.listVersion, 0);
  EXPECT_EQ(cat.pairs[2].site + cat.pairs[2].category, "TwoC");
}

class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fx_.server().Post("/upd/getmask.asp", [this](const httplib::Request& req, httplib::Response& res) {
      bodies_.push_back(req.body);
      std::string id = req.body.substr(6);
      if (!id.empty() && id.back() == '\0') id.pop_back();
      auto it = masks_.find(id);
      if (it == masks_.end()) {
        res.status = 404;
        return;
      }
      res.set_content(it->second, "text/html");
    });
    fx_.server().Get("/upd/end.asp", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("ok", "text/plain");
    });
    fx_.Start();
    server_ = UpdateAddresses("127.0.0.1:" + std::to_string(fx_.port()) + "/upd/catalog.asp");
  }

  // mask_version and mask of a pair's masks, type 0 first: "v:text|v:text".
  std::string Masks(const std::string& site, const std::string& cat) {
    Statement st(home_.db(),
                 "SELECT nm.mask_version, nm.mask, nm.type FROM news_masks nm, site_cat_rel rel, news_config s,"
                 " news_cat c WHERE nm.fk_site_cat_rel = rel.id AND rel.fk_news_config = s.id"
                 " AND rel.fk_news_cat = c.id AND s.site_name = ? AND c.name = ? ORDER BY nm.type");
    st.Bind(1, site).Bind(2, cat);
    std::string out;
    while (st.Next())
      out += (out.empty() ? "" : "|") + std::to_string(st.Int(0)) + ":" + st.Text(1) + ":" + std::to_string(st.Int(2));
    return out;
  }

  void Upsert(const CataloguePair& pair, bool autoCheck = true) {
    UpsertPair(home_.db(), http_, server_, pair, autoCheck, [this](const std::string& s) { statuses_.push_back(s); });
  }

  EngineHome home_;
  FixtureServer fx_;
  UpdateServer server_;
  HttpSession http_;
  std::map<std::string, std::string> masks_ = {{"L1", "<a>"}, {"N1", "<b>"}};
  std::vector<std::string> bodies_;
  std::vector<std::string> statuses_;
};

TEST_F(CatalogueTest, ANewPairOfASelectedCategoryIsSelectedJoinsFiltersAndGetsItsMasks) {
  int64_t existing = home_.AddPair("Old site", "World", true);
  home_.db().Exec("INSERT INTO filter (name) VALUES('f1')");
  int64_t filter = home_.db().LastInsertId();
  Statement link(home_.db(), "INSERT INTO filter_site_cat_rel (fk_filter, fk_site_cat_rel) VALUES(?, ?)");
  link.Bind(1, filter).Bind(2, existing).Execute();

  Upsert({"New site", "world", "L1", 4, "N1", 5, 0});
  EXPECT_EQ(home_.Count("SELECT is_selected FROM site_cat_rel rel, news_config s WHERE rel.fk_news_config = s.id"
                        " AND s.site_name = 'New site'"),
            1);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM filter_site_cat_rel"), 2);
  EXPECT_EQ(Masks("New site", "world"), "4:3C613E:0|5:3C623E:1");
  EXPECT_EQ(bodies_, (std::vector<std::string>{std::string("_mask=L1\0", 9), std::string("_mask=N1\0", 9)}));
  EXPECT_EQ(statuses_.front(), "Updates for: Site [New site], Category [world].");
}

TEST_F(CatalogueTest, WithoutAutoCheckNewPairsStayUnselectedAndFetchNothing) {
  home_.AddPair("Old site", "World", true);
  Upsert({"New site", "World", "L1", 4, "N1", 5, 0}, false);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM site_cat_rel WHERE is_selected = 1"), 1);
  EXPECT_EQ(Masks("New site", "World"), "1::0|1::1");
  EXPECT_TRUE(bodies_.empty());
  // The category row is shared by name.
  EXPECT_EQ(home_.Count("SELECT count(*) FROM news_cat"), 1);
}

TEST_F(CatalogueTest, AnUnchangedPairOnlyLosesItsMark) {
  int64_t pair = home_.AddPair("S", "C", true);
  home_.AddMask(pair, 0, 4, "AA");
  home_.AddMask(pair, 1, 5, "BB");
  ASSERT_EQ(MarkAllMasks(home_.db()), 0);
  EXPECT_EQ(Masks("S", "C"), "4:AA:128|5:BB:129");
  Upsert({"S", "C", "L1", 4, "N1", 5, 0});
  EXPECT_EQ(Masks("S", "C"), "4:AA:0|5:BB:1");
  EXPECT_TRUE(bodies_.empty());
}

TEST_F(CatalogueTest, ChangedOrForcedMasksAreFetchedCutOrEmptied) {
  int64_t pair = home_.AddPair("S", "C", true);
  home_.AddMask(pair, 0, 4, "AA");
  home_.AddMask(pair, 1, 5, "BB");
  masks_["L1"] = std::string(kMaxMaskBytes + 10, 'z');
  masks_.erase("N1");  // answered with 404
  Upsert({"S", "C", "L1", 4, "N1", 5, 1});
  std::string stored = home_.Text("SELECT mask FROM news_masks WHERE type = 0");
  EXPECT_EQ(stored.size(), kMaxMaskBytes * 2);
  EXPECT_EQ(stored.substr(0, 4), "7A7A");
  EXPECT_EQ(Masks("S", "C").substr(0, 2), "4:");
  EXPECT_EQ(Masks("S", "C").substr(stored.size() + 2), ":0|1::1");
}

TEST_F(CatalogueTest, UnselectedPairsAreNotFetchedButRevived) {
  int64_t pair = home_.AddPair("S", "C", false);
  home_.AddMask(pair, 0, 0);
  home_.AddMask(pair, 1, 0);
  Upsert({"S", "C", "L1", 4, "N1", 5, 1});
  EXPECT_EQ(Masks("S", "C"), "1::0|1::1");
  EXPECT_TRUE(bodies_.empty());
}

TEST_F(CatalogueTest, AMaskTheServerDisabledStaysDisabledFromUpdateToUpdate) {
  int64_t pair = home_.AddPair("S", "C", true);
  home_.AddMask(pair, 0, 4, "AA");
  home_.AddMask(pair, 1, 5, "BB");
  for (int update = 0; update < 3; ++update) {
    SCOPED_TRACE(update);
    Upsert({"S", "C", "L1", 4, "N1", 0, 0});
    // Raised back to 1 it would be read again, and fetched anew the next time.
    EXPECT_EQ(Masks("S", "C"), "4:AA:0|0:3C623E:1");
  }
  EXPECT_EQ(bodies_.size(), 1u);
  // An unselected pair the server lists disabled is still revived, as before.
  int64_t idle = home_.AddPair("S", "Idle", false);
  home_.AddMask(idle, 0, 0);
  home_.AddMask(idle, 1, 0);
  Upsert({"S", "Idle", "L1", 0, "N1", 0, 0});
  EXPECT_EQ(Masks("S", "Idle"), "1::0|1::1");
}

TEST_F(CatalogueTest, AFailedFetchKeepsTheMaskThePairHad) {
  int64_t pair = home_.AddPair("S", "C", true);
  home_.AddMask(pair, 0, 4, "AA");
  home_.AddMask(pair, 1, 5, "BB");
  MarkAllMasks(home_.db());
  UpdateServer dead = server_;
  dead.maskUrl = "http://127.0.0.1:1/getmask.asp";
  UpsertPair(home_.db(), http_, dead, {"S", "C", "L1", 6, "N1", 5, 0}, true, [](const std::string&) {});
  WithdrawUnconfirmedMasks(home_.db());
  EXPECT_EQ(Masks("S", "C"), "4:AA:0|5:BB:1");
  EXPECT_NE(home_.Log().find("Error getting mask. Error: "), std::string::npos);
}

TEST_F(CatalogueTest, MasksOfUnlistedPairsAreWithdrawnAndTheEndIsAnnounced) {
  int64_t listed = home_.AddPair("S", "Listed", true);
  int64_t dropped = home_.AddPair("S", "Dropped", true);
  home_.AddMask(listed, 0, 4, "AA");
  home_.AddMask(listed, 1, 5, "BB");
  home_.AddMask(dropped, 0, 2, "CC");
  home_.AddMask(dropped, 1, 2, "DD");
  MarkAllMasks(home_.db());
  Catalogue cat;
  cat.siteRows = 1;
  cat.pairs = {{"S", "Listed", "L1", 4, "N1", 5, 0}};
  EXPECT_TRUE(ApplyCatalogue(home_.db(), http_, server_, cat, true, [](const std::string&) {}));
  WithdrawUnconfirmedMasks(home_.db());
  EXPECT_EQ(Masks("S", "Listed"), "4:AA:0|5:BB:1");
  EXPECT_EQ(Masks("S", "Dropped"), "0::0|0::1");
  EXPECT_EQ(fx_.CountRequests("GET /upd/end.asp"), 1);

  EXPECT_FALSE(ApplyCatalogue(home_.db(), http_, server_, Catalogue{}, true, [](const std::string&) {}));
}

TEST_F(CatalogueTest, MarkingTwiceStillLeavesOneMarkAndRemovingMendsOldDoubleMarks) {
  int64_t pair = home_.AddPair("S", "C", true);
  home_.AddMask(pair, 0, 4, "AA");
  home_.AddMask(pair, 1, 5, "BB");
  MarkAllMasks(home_.db());
  MarkAllMasks(home_.db());
  EXPECT_EQ(Masks("S", "C"), "4:AA:128|5:BB:129");
  Upsert({"S", "C", "L1", 4, "N1", 5, 0});
  WithdrawUnconfirmedMasks(home_.db());
  EXPECT_EQ(Masks("S", "C"), "4:AA:0|5:BB:1");

  home_.db().Exec("UPDATE news_masks SET type = type + 256");
  int removed = 0;
  ASSERT_EQ(RemoveMarks(home_.db(), &removed), 0);
  EXPECT_EQ(removed, 2);
  EXPECT_EQ(Masks("S", "C"), "4:AA:0|5:BB:1");
}

// Names longer than their column are looked up as they were stored, so the
// pair is found again instead of a new site being created on every update.
TEST_F(CatalogueTest, LongNamesAreMatchedInTheirStoredForm) {
  std::string site, category;
  for (int i = 0; i < 300; ++i) site += "\xd0\x96";  // 300 characters, 600 bytes
  for (int i = 0; i < 200; ++i) category += "\xce\xa9";
  category += std::string(100, 'c');
  for (int run = 0; run < 2; ++run) {
    MarkAllMasks(home_.db());
    Upsert({site, category, "L1", 4, "N1", 5, 0});
    WithdrawUnconfirmedMasks(home_.db());
  }
  EXPECT_EQ(home_.Count("SELECT count(*) FROM news_config"), 1);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM news_cat"), 1);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM site_cat_rel"), 1);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM news_masks WHERE mask_version = 1 AND type < 128"), 2);
  // 254 characters are kept, not 254 bytes.
  EXPECT_EQ(home_.Text("SELECT site_name FROM news_config"), site.substr(0, 254 * 2));
  EXPECT_EQ(home_.Text("SELECT name FROM news_cat"), category.substr(0, 200 * 2 + 54));
}

TEST_F(CatalogueTest, AFailedEndOfUpdateIsToldAsSuch) {
  UpdateServer dead = server_;
  dead.endUrl = "http://127.0.0.1:1/end.asp";
  Catalogue cat;
  cat.siteRows = 1;
  EXPECT_TRUE(ApplyCatalogue(home_.db(), http_, dead, cat, true, [](const std::string&) {}));
  const std::string log = home_.Log();
  EXPECT_EQ(log.find("Error getting mask"), std::string::npos);
  EXPECT_NE(log.find("Error ending the update at http://127.0.0.1:1/end.asp. Error: "), std::string::npos);
}

TEST_F(CatalogueTest, AWholeCatalogueSharesSitesAndCategoriesAndListsAPairTwiceOnlyOnce) {
  int64_t selected = home_.AddPair("Old", "World", true);
  home_.db().Exec("INSERT INTO filter (name) VALUES('f1')");
  Statement link(home_.db(), "INSERT INTO filter_site_cat_rel (fk_filter, fk_site_cat_rel) VALUES(1, ?)");
  link.Bind(1, selected).Execute();
  MarkAllMasks(home_.db());
  Catalogue cat;
  cat.siteRows = 3;
  std::vector<std::pair<size_t, size_t>> progress;
  for (int site = 0; site < 3; ++site)
    for (const char* category : {"World", "Sport"})
      cat.pairs.push_back({"Site " + std::to_string(site), category, "L1", 4, "N1", 5, 0});
  cat.pairs.push_back(cat.pairs.front());  // listed twice: one pair, fetched once
  CatalogueHooks hooks;
  hooks.progress = [&](size_t done, size_t total) { progress.emplace_back(done, total); };
  EXPECT_TRUE(ApplyCatalogue(home_.db(), http_, server_, cat, true, [](const std::string&) {}, hooks));
  WithdrawUnconfirmedMasks(home_.db());
  EXPECT_EQ(home_.Count("SELECT count(*) FROM site_cat_rel"), 7);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM news_config"), 4);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM news_cat"), 2);
  // The three new World pairs are selected, join the filter and get their masks.
  EXPECT_EQ(home_.Count("SELECT count(*) FROM site_cat_rel WHERE is_selected = 1"), 4);
  EXPECT_EQ(home_.Count("SELECT count(*) FROM filter_site_cat_rel"), 4);
  EXPECT_EQ(Masks("Site 2", "World"), "4:3C613E:0|5:3C623E:1");
  EXPECT_EQ(Masks("Site 2", "Sport"), "1::0|1::1");
  EXPECT_EQ(bodies_.size(), 6u);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), std::make_pair(size_t{7}, size_t{7}));

  // Cancelled before it starts: nothing changes and nothing is fetched.
  std::atomic<bool> cancel{true};
  hooks.cancel = &cancel;
  cat.pairs.push_back({"Site 9", "World", "L1", 4, "N1", 5, 0});
  EXPECT_TRUE(ApplyCatalogue(home_.db(), http_, server_, cat, true, [](const std::string&) {}, hooks));
  EXPECT_EQ(home_.Count("SELECT count(*) FROM site_cat_rel"), 7);
  EXPECT_EQ(bodies_.size(), 6u);
}

// Two engines sharing a PostgreSQL database: an update waits for the other
// engine's, or gives up after its time and keeps the stored masks; while it
// runs nobody sees a mark, and what it withdraws goes with the same commit
// that confirmed the rest.
TEST(SharedCatalogueTest, OneUpdateAtATimeAndNoMarkOrHalfWithdrawalEverShows) {
  ORVO_NEED_POSTGRES(server);
  EngineHome home;  // a folder of its own for the log
  const std::string url = server->NewDatabase();
  std::unique_ptr<Database> engine, other, observer;
  ASSERT_EQ(Database::Open(url, Database::Mode::kCreate, &engine), 0);
  ASSERT_EQ(Database::Open(url, Database::Mode::kExisting, &other), 0);
  ASSERT_EQ(Database::Open(url, Database::Mode::kExisting, &observer), 0);
  ASSERT_EQ(engine->Exec("INSERT INTO news_config (site_name) VALUES ('S');"
                         "INSERT INTO news_cat (name) VALUES ('Listed'), ('Dropped');"
                         "INSERT INTO site_cat_rel (is_selected, fk_news_cat, fk_news_config) VALUES (1, 1, 1), (1, 2, 1);"
                         "INSERT INTO news_masks (mask, mask_version, type, fk_site_cat_rel) VALUES"
                         " ('AA', 4, 0, 1), ('BB', 5, 1, 1), ('CC', 2, 0, 2), ('DD', 2, 1, 2)"),
            0);
  FixtureServer fx;
  fx.server().Get("/upd/end.asp", [](const httplib::Request&, httplib::Response& res) { res.set_content("", "text/plain"); });
  fx.Start();
  const UpdateServer updates = UpdateAddresses("127.0.0.1:" + std::to_string(fx.port()) + "/upd/catalog.asp");
  Catalogue cat;
  cat.siteRows = 1;
  cat.pairs = {{"S", "Listed", "L1", 4, "N1", 5, 0}};
  auto masks = [&] {
    Statement st(*observer, "SELECT type, mask_version, mask FROM news_masks ORDER BY id");
    std::string out;
    while (st.Next()) out += std::to_string(st.Int(0)) + ":" + std::to_string(st.Int(1)) + ":" + st.Text(2) + " ";
    return out;
  };
  const std::string before = "0:4:AA 1:5:BB 0:2:CC 1:2:DD ";
  std::mutex mutex;
  std::vector<std::string> statuses;
  auto status = [&](const std::string& s) {
    std::lock_guard<std::mutex> lock(mutex);
    statuses.push_back(s);
  };
  auto saw = [&](const std::string& start) {
    std::lock_guard<std::mutex> lock(mutex);
    return std::any_of(statuses.begin(), statuses.end(), [&](const std::string& s) { return s.rfind(start, 0) == 0; });
  };
  HttpSession http;

  // The other engine holds the catalogue longer than this one waits.
  ASSERT_EQ(other->Begin(), 0);
  bool held = false;
  ASSERT_EQ(TryLockCatalogue(*other, &held), 0);
  ASSERT_TRUE(held);
  {
    SharedUpdate shared;
    shared.lockWaitSeconds = 1;
    CatalogueHooks hooks;
    hooks.shared = &shared;
    EXPECT_TRUE(ApplyCatalogue(*engine, http, updates, cat, true, status, hooks));
    EXPECT_TRUE(shared.skipped);
    EXPECT_FALSE(shared.withdrawn);
    EXPECT_TRUE(saw("Another engine kept the catalogue of PostgreSQL server "));
    EXPECT_EQ(masks(), before);
  }

  // Now it waits, and goes on once the other engine's update is over.
  SharedUpdate shared;
  shared.lockWaitSeconds = 60;
  std::string during;
  bool lockedDuring = true;
  CatalogueHooks hooks;
  hooks.shared = &shared;
  hooks.progress = [&](size_t, size_t) {
    // Inside the update, marks set and pairs applied: from outside nothing of
    // it shows, and a third engine would not get the lock.
    during = masks();
    Transaction tx(*observer);
    TryLockCatalogue(*observer, &lockedDuring);
  };
  std::thread update([&] { ApplyCatalogue(*engine, http, updates, cat, true, status, hooks); });
  bool waited = false;
  for (int i = 0; i < 1000 && !(waited = saw("Another engine is updating the catalogue of PostgreSQL server ")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(waited);
  EXPECT_TRUE(during.empty());  // not begun while the other engine holds the lock
  EXPECT_EQ(masks(), before);
  EXPECT_EQ(other->Commit(), 0);
  update.join();
  EXPECT_FALSE(shared.skipped);
  EXPECT_TRUE(shared.withdrawn);
  EXPECT_EQ(during, before);
  EXPECT_FALSE(lockedDuring);
  EXPECT_EQ(shared.leftOut, std::vector<std::string>{"S / Dropped"});
  EXPECT_EQ(masks(), "0:4:AA 1:5:BB 0:0: 1:0: ");
}

}  // namespace
}  // namespace orvo
