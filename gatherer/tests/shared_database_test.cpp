// Gatherer programs on private buses storing into one PostgreSQL server, as
// the machines of a newsroom share one news store: a whole download, two
// engines at once over the same sites, and a server that goes away mid-run.
#include <gtest/gtest.h>

#include <QDBusPendingReply>

#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "busframe.h"
#include "busharness.h"
#include "database.h"
#include "gatherer_interface.h"
#include "news_sites.h"
#include "pg_server.h"
#include "settings.h"
#include "site_farm.h"
#include "store/images.h"
#include "test_support.h"

namespace orvo {
namespace {

using testing::NewsNetwork;
using testing::NewsNetworkOptions;
using testing::PrivateBus;
using testing::SignalLog;
using testing::SiteFarm;
using testing::SiteFarmOptions;
using testing::WaitUntil;

const QString kGatherer = QStringLiteral("org.orvo.Gatherer2");
const QString kEvents = QStringLiteral("org.orvo._IGatherer2Events");

// One Gatherer program on a bus and in a program folder of its own, driven
// as the scheduling service drives it.
class BusEngine {
 public:
  explicit BusEngine(std::map<std::string, std::string> env = {}) : bus_({"Gatherer"}, std::move(env)) {
    std::filesystem::create_directories(bus_.orvoHome());
  }

  // Empty when the engine's object is there, else why not.
  std::string Connect() {
    if (!bus_.ok()) return bus_.error();
    client_ = std::make_unique<QDBusConnection>(bus_.Connect("client"));
    QString error;
    const QString path = CreateBusObject(*client_, kGatherer, &error).path();
    if (path.isEmpty()) return error.toStdString();
    events_ = std::make_unique<SignalLog>(*client_, kGatherer, path, kEvents);
    gatherer_ = std::make_unique<org::orvo::IGatherer2>(kGatherer, path, *client_);
    return {};
  }

  std::string home() const { return bus_.orvoHome(); }
  Settings settings() const { return Settings(home() + "/ORVO.ini"); }
  std::string Log() const { return testing::ReadFile(home() + "/orvo_log.txt"); }
  std::string DaemonLog() const { return bus_.DaemonLog(); }

  void Start() {
    QDBusPendingReply<> reply = gatherer_->StartProcess();
    reply.waitForFinished();
    EXPECT_FALSE(reply.isError()) << reply.error().message().toStdString();
  }

  // The Complite statuses so far.
  std::vector<int> Complites() const {
    std::vector<int> out;
    for (const auto& e : events_->entries())
      if (e.member == QLatin1String("Complite")) out.push_back(e.args.value(0).toInt());
    return out;
  }

  bool SawStatus(const std::string& text) const {
    for (const auto& e : events_->entries())
      if (e.member == QLatin1String("OnProcessStatus") && e.args.value(0).toString().toStdString() == text) return true;
    return false;
  }

 private:
  PrivateBus bus_;
  std::unique_ptr<QDBusConnection> client_;
  std::unique_ptr<SignalLog> events_;
  std::unique_ptr<org::orvo::IGatherer2> gatherer_;
};

// How many times each address is stored.
std::map<std::string, int64_t> StoredCounts(Database& db) {
  std::map<std::string, int64_t> counts;
  Statement st(db, "SELECT src_url, count(*) FROM newsitem GROUP BY src_url");
  while (st.Next()) counts[st.Text(0)] = st.Int(1);
  return counts;
}

int64_t Count(Database& db, const std::string& sql) {
  Statement st(db, sql);
  return st.Next() ? st.Int(0) : -1;
}

// Items whose picture rows do not match what the item page held, and picture
// rows without their bytes: none may ever be seen.
int64_t HalfStored(Database& db, int picturesPerItem) {
  Statement st(db, "SELECT id FROM newsitem");
  std::vector<int64_t> items;
  while (st.Next()) items.push_back(st.Int(0));
  int64_t half = 0;
  for (int64_t id : items) {
    const std::vector<PictureRow> rows = ItemPictures(db, id);
    bool whole = static_cast<int>(rows.size()) == picturesPerItem;
    for (const PictureRow& row : rows) {
      std::string bytes;
      whole = whole && ReadPictureBytes(db, row.id, &bytes) == 0 && bytes.rfind("PNG:", 0) == 0;
    }
    if (!whole) ++half;
  }
  return half;
}

std::unique_ptr<Database> Open(const std::string& url) {
  std::unique_ptr<Database> db;
  std::string why;
  EXPECT_EQ(Database::Open(url, Database::Mode::kExisting, &db, &why), 0) << why;
  return db;
}

bool NoFiles(const std::string& folder) {
  std::error_code ec;
  return !std::filesystem::exists(folder, ec) || std::filesystem::is_empty(folder, ec);
}

// The engine's own process opens the database that [Database] Url names; the
// news and their pictures end up on the server, no file under Images/.
TEST(GathererOnPostgres, ADownloadStoresTheNewsAndTheirPicturesOnTheServer) {
  ORVO_NEED_POSTGRES(server);
  NewsNetwork net;  // site A: 3 stories of 2 pictures; site B: 2 stories without
  const std::string url = server->NewDatabase();
  BusEngine engine;
  testing::PrepareNewsFolder(engine.home(), net, 10, url);
  ASSERT_EQ(engine.Connect(), "");
  engine.Start();
  ASSERT_TRUE(WaitUntil([&] { return !engine.Complites().empty(); }, 60000)) << engine.DaemonLog();
  EXPECT_EQ(engine.Complites(), std::vector<int>{1}) << engine.Log();
  EXPECT_TRUE(engine.SawStatus("Download completed."));

  auto db = Open(url);
  ASSERT_TRUE(db);
  std::map<std::string, int64_t> once;
  for (int n = 1; n <= 3; ++n) once[net.ArticleA(n)] = 1;
  for (int n = 1; n <= 2; ++n) once[net.ArticleB(n)] = 1;
  EXPECT_EQ(StoredCounts(*db), once);
  Statement st(*db, "SELECT id FROM newsitem WHERE src_url = ?");
  st.Bind(1, net.ArticleA(2));
  ASSERT_TRUE(st.Next());
  const std::vector<PictureRow> pictures = ItemPictures(*db, st.Int(0));
  ASSERT_EQ(pictures.size(), 2u);
  std::string bytes;
  ASSERT_EQ(ReadPictureBytes(*db, pictures[1].id, &bytes), 0);
  EXPECT_EQ(bytes, "PNG:2_1" + std::string(2000, '.'));
  EXPECT_EQ(Count(*db, "SELECT count(*) FROM newsimages"), 6);
  EXPECT_TRUE(NoFiles(engine.home() + "/Images"));
}

// Two machines' engines, each with its own program folder, run at once over
// the same catalogue, whose sites all list the same stories too: each address
// is stored once, none is missing, every picture comes with its item, and no
// update ever shows a mark or a mask withdrawn half-way to the other.
TEST(GathererOnPostgres, TwoEnginesAtOnceStoreEveryAddressOnceAndKeepEachOthersMasks) {
  ORVO_NEED_POSTGRES(server);
  SiteFarmOptions o;
  o.sites = 4;
  o.stories = 3;
  o.sharedStories = 4;
  o.imagesPerStory = 1;
  SiteFarm farm(o);
  const std::string url = server->NewDatabase();
  {
    std::unique_ptr<Database> db;
    ASSERT_EQ(Database::Open(url, Database::Mode::kCreate, &db), 0);
    ASSERT_EQ(db->Exec("INSERT INTO news_cat (name) VALUES ('News')"), 0);
    for (int k = 1; k <= o.sites; ++k) {
      Statement site(*db, "INSERT INTO news_config (site_name) VALUES (?)");
      site.Bind(1, SiteFarm::SiteName(k)).Execute();
      Statement pair(*db, "INSERT INTO site_cat_rel (is_selected, fk_news_cat, fk_news_config) VALUES (1, 1, ?)");
      pair.Bind(1, k).Execute();
      Statement masks(*db, "INSERT INTO news_masks (mask, mask_version, type, fk_site_cat_rel) VALUES ('', 1, 0, ?1), ('', 1, 1, ?1)");
      masks.Bind(1, k).Execute();
    }
  }
  // One finds the server through its ORVO.ini, the other through ORVO_DATABASE.
  BusEngine first;
  BusEngine second({{"ORVO_DATABASE", url}});
  for (BusEngine* engine : {&first, &second}) {
    const Settings s = engine->settings();
    s.WriteText(kSystemSection, "DownloadURL", farm.DownloadUrl());
    s.WriteInt(kDownloadSection, "ConnectTimeout", 10);
    s.WriteInt(kDownloadSection, "ParallelSites", 2);
  }
  first.settings().WriteText(kDatabaseSection, "Url", url);
  ASSERT_EQ(first.Connect(), "");
  ASSERT_EQ(second.Connect(), "");

  auto observer = Open(url);
  ASSERT_TRUE(observer);
  first.Start();
  second.Start();
  int64_t marksSeen = 0, withdrawnSeen = 0;
  const bool ended = WaitUntil(
      [&] {
        marksSeen += Count(*observer, "SELECT count(*) FROM news_masks WHERE type >= 128");
        withdrawnSeen += Count(*observer, "SELECT count(*) FROM news_masks WHERE mask_version = 0");
        return !first.Complites().empty() && !second.Complites().empty();
      },
      60000);
  ASSERT_TRUE(ended) << first.DaemonLog() << second.DaemonLog();
  EXPECT_EQ(first.Complites(), std::vector<int>{1}) << first.Log();
  EXPECT_EQ(second.Complites(), std::vector<int>{1}) << second.Log();
  EXPECT_EQ(marksSeen, 0);
  EXPECT_EQ(withdrawnSeen, 0);

  std::map<std::string, int64_t> once;
  for (const std::string& address : farm.AllStories()) once[address] = 1;
  EXPECT_EQ(StoredCounts(*observer), once);
  EXPECT_EQ(HalfStored(*observer, 1), 0);
  EXPECT_EQ(Count(*observer, "SELECT count(*) FROM news_masks WHERE mask_version = 3 AND mask <> '' AND type < 2"),
            2 * o.sites);
  EXPECT_TRUE(NoFiles(first.home() + "/Images"));
  EXPECT_TRUE(NoFiles(second.home() + "/Images"));
}

// The server stops dead while the engine waits for a picture: the run ends
// failed with a log line naming the server (never its password), no item is
// left without its pictures, and the next run, with the server back, stores
// the rest.
TEST(GathererOnPostgres, AServerGoneMidRunEndsTheRunAndTheNextRunGoesOn) {
  ORVO_NEED_POSTGRES(server);
  NewsNetwork net;
  net.hangImage = true;  // story 2's second picture waits
  const std::string name = server->NewDatabase();
  // The server trusts its socket: the password is only there to be hidden.
  const std::string url = "postgresql://orvo:s3cret-pw@/" + name.substr(name.find(":///") + 4);
  BusEngine engine;
  testing::PrepareNewsFolder(engine.home(), net, 10, url);
  {
    // The test server acknowledges commits before they are on disk; what
    // the engine committed must outlive the stop here.
    auto db = Open(url);
    ASSERT_TRUE(db);
    const std::string database = name.substr(name.find(":///") + 4, name.find('?') - name.find(":///") - 4);
    ASSERT_EQ(db->Exec(("ALTER DATABASE " + database + " SET synchronous_commit = on").c_str()), 0);
  }
  ASSERT_EQ(engine.Connect(), "");
  engine.Start();
  ASSERT_TRUE(WaitUntil([&] { return net.imageHanging.load(); }, 60000)) << engine.Log();
  {
    // Story 1 is written while story 2's pictures come: the stop comes once it is in.
    auto db = Open(url);
    ASSERT_TRUE(db);
    ASSERT_TRUE(WaitUntil([&] { return StoredCounts(*db).count(net.ArticleA(1)) == 1; }, 60000)) << engine.Log();
  }
  std::string why;
  ASSERT_TRUE(testing::StopPgServerNow(&why)) << why;
  net.hangImage = false;
  ASSERT_TRUE(WaitUntil([&] { return !engine.Complites().empty(); }, 60000)) << engine.DaemonLog();
  EXPECT_EQ(engine.Complites(), std::vector<int>{32});
  const std::string log = engine.Log();
  EXPECT_NE(log.find("The connection to PostgreSQL server " + server->socketDir()), std::string::npos) << log;
  EXPECT_NE(log.find("was lost; the download ends. Start it again once the server is back."), std::string::npos);
  EXPECT_EQ(log.find("s3cret-pw"), std::string::npos);

  ASSERT_TRUE(testing::RestartPgServer(&why)) << why;
  {
    auto db = Open(url);
    ASSERT_TRUE(db);
    EXPECT_EQ(StoredCounts(*db), (std::map<std::string, int64_t>{{net.ArticleA(1), 1}}));
    EXPECT_EQ(HalfStored(*db, 2), 0);
  }
  engine.Start();
  ASSERT_TRUE(WaitUntil([&] { return engine.Complites().size() == 2; }, 60000)) << engine.DaemonLog();
  // The same process goes on reporting the status of its failed run; the
  // download itself completes.
  const std::string again = engine.Log().substr(log.size());
  EXPECT_NE(again.find("Download completed."), std::string::npos) << again;
  EXPECT_EQ(again.find("was lost"), std::string::npos) << again;
  auto db = Open(url);
  ASSERT_TRUE(db);
  EXPECT_EQ(Count(*db, "SELECT count(*) FROM newsitem"), 5);
  EXPECT_EQ(Count(*db, "SELECT count(DISTINCT src_url) FROM newsitem"), 5);
  EXPECT_EQ(Count(*db, "SELECT count(*) FROM newsimages"), 6);
  Statement st(*db, "SELECT count(*) FROM newsimages ig WHERE NOT EXISTS"
                    " (SELECT 1 FROM newsimage_bytes b WHERE b.fk_newsimages = ig.id)");
  ASSERT_TRUE(st.Next());
  EXPECT_EQ(st.Int(0), 0);
}

}  // namespace
}  // namespace orvo
