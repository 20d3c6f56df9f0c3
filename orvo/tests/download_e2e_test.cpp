// End to end: the demo catalogue served by the real orvo-updates, the real
// Gatherer activated on a private bus, and orvo download / select / status as
// a user types them.
#include <gtest/gtest.h>
#include <signal.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QProcess>
#include <filesystem>
#include <regex>

#include "busharness.h"
#include "database.h"
#include "settings.h"
#include "test_support.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;
using testing::PrivateBus;
using testing::ReadFile;
using testing::WriteFile;

const std::string kDemo = std::string(ORVO_SOURCE_DIR) + "/demo-data";
constexpr int kRunMs = 180000;

// A port nobody listens on.
int ClosedPort() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

class DemoDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PrivateBus::Options options;
    options.programs = {"Gatherer"};
    bus_ = std::make_unique<PrivateBus>(options);
    ASSERT_TRUE(bus_->ok()) << bus_->error();
    // A copy of the demo catalogue that a test may edit.
    catalogue_ = bus_->root() + "/catalogue";
    fs::copy(kDemo + "/catalogue", catalogue_, fs::copy_options::recursive);
    auto init = Orvo({"init"});
    ASSERT_EQ(init.exitCode, 0) << init.out << init.err;
    db_path_ = bus_->orvoHome() + "/news.db";
    Settings ini(bus_->orvoHome() + "/ORVO.ini");
    ini.WriteInt(kDownloadSection, "ConnectTimeout", 20);
    // Link dates come from the addresses only when a maximum age is set.
    ini.WriteInt(kDownloadSection, "Days", 3650);
  }

  void StartServer() {
    QProcess* server = bus_->Start("orvo-updates", {"--port", "0", "--static", kDemo + "/sites", catalogue_});
    std::regex listening(R"(Listening on http://(127\.0\.0\.1:\d+)/)");
    std::smatch m;
    for (int i = 0; i < 100 && !std::regex_search(server_log_, m, listening); ++i) {
      server->waitForReadyRead(100);
      server_log_ += server->readAll().toStdString();
    }
    ASSERT_TRUE(std::regex_search(server_log_, m, listening)) << server_log_;
    server_ = server;
    Settings(bus_->orvoHome() + "/ORVO.ini").WriteText(kSystemSection, "DownloadURL", m[1].str() + "/catalogue.asp");
  }
  // Everything the server has logged so far (it logs each request just
  // after answering it).
  std::string ServerLog() {
    do server_log_ += server_->readAll().toStdString();
    while (server_->waitForReadyRead(300));
    return server_log_;
  }

  PrivateBus::Result Orvo(std::vector<std::string> args) { return bus_->Run("orvo", args, kRunMs); }

  // Download the catalogue, select everything, download the news.
  void FirstDownload() {
    auto first = Orvo({"download"});
    if ((first.out + first.err).find("not available yet") != std::string::npos)
      GTEST_SKIP() << "this Gatherer cannot gather yet: " << first.out;
    ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
    EXPECT_NE(first.out.find("No site/category pair is selected"), std::string::npos) << first.out;
    auto select = Orvo({"select", "--all"});
    ASSERT_EQ(select.exitCode, 0) << select.out << select.err;
    EXPECT_NE(select.out.find("8 of 8 site/category pairs are selected"), std::string::npos) << select.out;
  }

  std::unique_ptr<Database> Db() {
    std::unique_ptr<Database> db;
    EXPECT_EQ(Database::Open(db_path_, Database::Mode::kExisting, &db), 0);
    return db;
  }
  int64_t Count(const std::string& sql) {
    auto db = Db();
    Statement st(*db, sql);
    return st.Next() ? st.Int(0) : -1;
  }
  std::string Text(const std::string& sql) {
    auto db = Db();
    Statement st(*db, sql);
    return st.Next() ? st.Text(0) : "<no row>";
  }
  int64_t ItemsOf(const std::string& site, const std::string& category) {
    return Count("SELECT COUNT(*) FROM newsitem ni JOIN site_cat_rel rel ON rel.id = ni.fk_site_cat_rel "
                 "JOIN news_config ns ON ns.id = rel.fk_news_config JOIN news_cat nc ON nc.id = rel.fk_news_cat "
                 "WHERE ns.site_name = '" + site + "' AND nc.name = '" + category + "'");
  }

  std::unique_ptr<PrivateBus> bus_;
  std::string catalogue_, db_path_, server_log_;
  QProcess* server_ = nullptr;
};

TEST_F(DemoDownloadTest, StoresEveryDemoArticleOnceWithItsImages) {
  StartServer();
  FirstDownload();
  if (IsSkipped()) return;
  auto run = Orvo({"download"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Stored 31 new news items with 34 images."), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Download completed."), std::string::npos) << run.out;

  EXPECT_EQ(Count("SELECT COUNT(*) FROM newsitem"), 31);
  EXPECT_EQ(Count("SELECT COUNT(DISTINCT src_url) FROM newsitem"), 31);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM newsitem WHERE title = '' OR author = '' OR body = ''"), 0);
  // Each image row names a file that holds the picture the site serves.
  auto db = Db();
  Statement images(*db,
                   "SELECT ni.src_url, ig.bodypos, ig.image_path, ni.body, ig.imagetext FROM newsimages ig "
                   "JOIN newsitem ni ON ni.id = ig.fk_newsitem");
  int seen = 0;
  while (images.Next()) {
    ++seen;
    std::string path = images.Text(2);
    ASSERT_TRUE(fs::is_regular_file(path)) << path;
    EXPECT_GT(fs::file_size(path), 100u) << path;
    EXPECT_NE(images.Text(3).find("[[{" + std::to_string(images.Int(1)) + "}]]"), std::string::npos);
    EXPECT_FALSE(images.Text(4).empty()) << images.Text(0);
  }
  EXPECT_EQ(seen, 34);
  // The windows-1251 site arrives as UTF-8; dates come from the list pages
  // (before or after their links) and from the addresses.
  EXPECT_EQ(Text("SELECT author FROM newsitem WHERE src_url LIKE '%/vestnik/kultura/teatr.html'"),
            "Ольга Белова");
  EXPECT_EQ(Text("SELECT title FROM newsitem WHERE src_url LIKE '%/vestnik/kultura/teatr.html'"),
            "Театр открыл сезон «Грозой»");
  EXPECT_EQ(Text("SELECT publication_date FROM newsitem WHERE src_url LIKE '%/vestnik/kultura/kino.html'"),
            "2026-11-25 17:40:00");
  EXPECT_EQ(Text("SELECT publication_date FROM newsitem WHERE src_url LIKE '%/daily/world/ferry-strike-ends.html'"),
            "2026-11-28 00:00:00");
  EXPECT_EQ(
      Text("SELECT publication_date FROM newsitem WHERE src_url LIKE '%/chronicle/arts/20261120-poetry-night.html'"),
      "2026-11-20 00:00:00");

  // A second run finds nothing new and asks for no stored page.
  size_t before = ServerLog().size();
  auto again = Orvo({"download"});
  ASSERT_EQ(again.exitCode, 0) << again.out << again.err;
  EXPECT_NE(again.out.find("No new news items"), std::string::npos) << again.out;
  EXPECT_EQ(Count("SELECT COUNT(*) FROM newsitem"), 31);
  std::string later = ServerLog().substr(before);
  EXPECT_NE(later.find("POST /catalogue.asp 200"), std::string::npos) << later;
  EXPECT_NE(later.find("GET /daily/world/index.html 200"), std::string::npos) << later;
  EXPECT_EQ(later.find("GET /daily/world/harbour-bridge-reopens.html"), std::string::npos) << later;
  EXPECT_EQ(later.find("POST /getmask.asp"), std::string::npos) << later;  // versions unchanged

  auto status = Orvo({"status"});
  ASSERT_EQ(status.exitCode, 0) << status.err;
  EXPECT_NE(status.out.find("News items: 31 (31 unread, 0 deleted), images: 34"), std::string::npos) << status.out;
}

TEST_F(DemoDownloadTest, CatalogueChangesReachTheNextDownload) {
  // Start with a list mask that sees only the first day of The Harbour Daily's world page.
  std::string worldMask = catalogue_ + "/masks/daily-world.html";
  std::string full = ReadFile(worldMask);
  std::string partial = std::regex_replace(full, std::regex(R"(<ul class="stories" ord="-1">)"),
                                           R"(<ul class="stories">)");
  ASSERT_NE(partial, full);
  WriteFile(worldMask, partial);
  StartServer();
  FirstDownload();
  if (IsSkipped()) return;
  auto run = Orvo({"download"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(ItemsOf("The Harbour Daily", "World"), 2);

  // A raised version is fetched and used.
  std::string index = ReadFile(catalogue_ + "/catalogue.txt");
  WriteFile(worldMask, full);
  std::string raised = std::regex_replace(index, std::regex(R"(daily-world\.html +\| 2)"), "daily-world.html | 3");
  ASSERT_NE(raised, index);
  WriteFile(catalogue_ + "/catalogue.txt", raised);
  run = Orvo({"download"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Updates for: Site [The Harbour Daily], Category [World]."), std::string::npos) << run.out;
  EXPECT_EQ(ItemsOf("The Harbour Daily", "World"), 4);
  EXPECT_EQ(Count("SELECT nm.mask_version FROM news_masks nm JOIN site_cat_rel rel ON rel.id = nm.fk_site_cat_rel "
                  "JOIN news_cat nc ON nc.id = rel.fk_news_cat JOIN news_config ns ON ns.id = rel.fk_news_config "
                  "WHERE ns.site_name = 'The Harbour Daily' AND nc.name = 'World' AND nm.type = 0"),
            3);

  // A broken folder changes nothing for clients: the last good catalogue is served.
  WriteFile(catalogue_ + "/catalogue.txt", raised + "The Harbour Daily | World | daily-world.html | 4 | x.html | 2\n");
  run = Orvo({"download"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_NE(ServerLog().find("Catalogue not reloaded: " + catalogue_ + "/catalogue.txt:"), std::string::npos)
      << ServerLog();
  EXPECT_EQ(Count("SELECT COUNT(*) FROM news_masks WHERE mask_version = 0"), 0);

  // Pairs taken out of the catalogue are withdrawn; one without live news goes.
  ASSERT_EQ(Db()->Exec("UPDATE newsitem SET is_del = 1 WHERE fk_site_cat_rel IN (SELECT rel.id FROM site_cat_rel rel "
                       "JOIN news_cat nc ON nc.id = rel.fk_news_cat WHERE nc.name = 'Arts')"),
            0);
  std::string removed = std::regex_replace(raised, std::regex(R"(Valley Chronicle   \| Arts .*\n)"), "");
  removed = std::regex_replace(removed, std::regex(R"(The Harbour Daily  \| Sport .*\n)"), "");
  ASSERT_EQ(removed.find("| Arts"), std::string::npos) << removed;
  ASSERT_EQ(removed.find("The Harbour Daily  | Sport"), std::string::npos) << removed;
  WriteFile(catalogue_ + "/catalogue.txt", removed);
  run = Orvo({"download"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(Count("SELECT COUNT(*) FROM site_cat_rel rel JOIN news_cat nc ON nc.id = rel.fk_news_cat "
                  "JOIN news_config ns ON ns.id = rel.fk_news_config "
                  "WHERE ns.site_name = 'Valley Chronicle' AND nc.name = 'Arts'"),
            0);
  EXPECT_EQ(ItemsOf("The Harbour Daily", "Sport"), 4);  // live news keeps the pair
  EXPECT_EQ(Count("SELECT COUNT(*) FROM news_masks nm JOIN site_cat_rel rel ON rel.id = nm.fk_site_cat_rel "
                  "JOIN news_cat nc ON nc.id = rel.fk_news_cat JOIN news_config ns ON ns.id = rel.fk_news_config "
                  "WHERE ns.site_name = 'The Harbour Daily' AND nc.name = 'Sport' AND nm.mask_version = 0 "
                  "AND nm.mask = ''"),
            2);
}

TEST_F(DemoDownloadTest, ADownloadWhosePagesAllFailSaysSoAndFails) {
  StartServer();
  FirstDownload();
  if (IsSkipped()) return;
  auto run = Orvo({"download"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  // The sites go away with the server; the stored masks remain.
  server_->kill();
  server_->waitForFinished();
  Db()->Exec("DELETE FROM newsitem");
  auto dead = Orvo({"download", "--no-check"});
  EXPECT_EQ(dead.exitCode, 1) << dead.out << dead.err;
  EXPECT_EQ(dead.out.find("No new news items"), std::string::npos) << dead.out;
  EXPECT_NE(dead.err.find("nothing could be read: 8 of 8 pages could not be read."), std::string::npos) << dead.err;
  EXPECT_NE(dead.out.find("Can not read the page ["), std::string::npos) << dead.out;
}

TEST_F(DemoDownloadTest, ASilentEngineIsToldForWhatItIs) {
  StartServer();
  FirstDownload();
  if (IsSkipped()) return;
  Settings(bus_->orvoHome() + "/ORVO.ini").WriteInt(kDownloadSection, "ConnectTimeout", 1);
  QProcess* orvo = bus_->Start("orvo", {"download"});
  std::string out;
  for (int i = 0; i < 300 && out.find("Checking for updates...") == std::string::npos; ++i) {
    orvo->waitForReadyRead(100);
    out += orvo->readAllStandardOutput().toStdString();
  }
  ASSERT_NE(out.find("Checking for updates..."), std::string::npos) << out;
  // An engine that neither reports nor answers: the watchdog must not claim
  // it stopped it.
  const pid_t engine = bus_->OwnerPid("org.orvo.Gatherer2");
  ASSERT_GT(engine, 0);
  ASSERT_EQ(::kill(engine, SIGSTOP), 0);
  const bool ended = orvo->waitForFinished(150000);
  ::kill(engine, SIGKILL);
  ASSERT_TRUE(ended);
  const std::string err = orvo->readAllStandardError().toStdString();
  EXPECT_EQ(orvo->exitCode(), 4) << err;
  EXPECT_NE(err.find("the gathering engine reported nothing for 61 s"), std::string::npos) << err;
  EXPECT_NE(err.find("does not answer the request to stop: it is stuck and may still be running (process " +
                     std::to_string(engine) + ")"),
            std::string::npos)
      << err;
  EXPECT_EQ(err.find("was told to stop"), std::string::npos) << err;
}

TEST_F(DemoDownloadTest, DeadUpdatesServerSaysWhatToCheck) {
  Settings(bus_->orvoHome() + "/ORVO.ini")
      .WriteText(kSystemSection, "DownloadURL", "127.0.0.1:" + std::to_string(ClosedPort()) + "/catalogue.asp");
  auto run = bus_->Run("orvo", {"download"}, 60000);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 3) << run.out << run.err;
  EXPECT_NE(run.err.find("the updates server does not answer"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Check that it is running"), std::string::npos) << run.err;
}

TEST_F(DemoDownloadTest, WarnsWhenTheEngineWorksInAnotherFolder) {
  StartServer();
  std::string other = bus_->root() + "/other";
  fs::create_directories(other);
  ASSERT_EQ(Orvo({"init", "--home", other}).exitCode, 0);
  Settings(other + "/ORVO.ini").WriteText(kSystemSection, "DownloadURL",
                                         Settings(bus_->orvoHome() + "/ORVO.ini").ReadText(kSystemSection, "DownloadURL"));
  auto run = Orvo({"download", "--home", other});
  EXPECT_NE(run.err.find("Note: the Gatherer registered on this bus works in " + bus_->orvoHome() + ", not in " + other),
            std::string::npos)
      << run.err;
  run = Orvo({"download"});
  EXPECT_EQ(run.err.find("Note:"), std::string::npos) << run.err;
}

// The bus starts the engine with the environment of its registration, not
// the caller's: a database named by ORVO_DATABASE alone was not the one the
// engine filled, while orvo said the news were stored.
TEST_F(DemoDownloadTest, TheDatabaseOfORVO_DATABASEIsFilledOnceTheEngineIsRegisteredWithIt) {
  StartServer();
  const std::string other = bus_->root() + "/other.db";
  fs::copy_file(db_path_, other);  // an empty news database
  auto withEnv = [&](const std::string& program, std::vector<std::string> args) {
    args.insert(args.begin(), {"ORVO_DATABASE=" + other, bus_->binDir() + "/" + program});
    return bus_->Run("/usr/bin/env", args, kRunMs);
  };
  auto run = withEnv("orvo", {"download"});
  if ((run.out + run.err).find("not available yet") != std::string::npos) GTEST_SKIP() << run.out;
  EXPECT_NE(run.err.find("Note: the Gatherer registered on this bus uses the news database " + db_path_ +
                         " (it was registered without ORVO_DATABASE), not " + other),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("Gatherer -RegServer"), std::string::npos) << run.err;

  auto reg = withEnv("Gatherer", {"-RegServer"});
  ASSERT_EQ(reg.exitCode, 0) << reg.out << reg.err;
  EXPECT_NE(reg.out.find("(ORVO_DATABASE=" + other + ")"), std::string::npos) << reg.out;
  // The engine of the first run leaves once idle; the next one reads the new registration.
  ASSERT_TRUE(testing::WaitUntil([&] { return !bus_->HasOwner("org.orvo.Gatherer2"); }, 30000));
  run = withEnv("orvo", {"download"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(run.err.find("Note:"), std::string::npos) << run.err;
  ASSERT_EQ(withEnv("orvo", {"select", "--all"}).exitCode, 0);
  run = withEnv("orvo", {"download"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Stored 31 new news items"), std::string::npos) << run.out;
  std::unique_ptr<Database> db;
  ASSERT_EQ(Database::Open(other, Database::Mode::kExisting, &db), 0);
  Statement items(*db, "SELECT count(*) FROM newsitem");
  ASSERT_TRUE(items.Next());
  EXPECT_EQ(items.Int(0), 31);
  EXPECT_EQ(Count("SELECT count(*) FROM newsitem"), 0) << "the file of ORVO.ini";
}

TEST(DownloadWithoutEngineTest, SaysHowToRegisterTheEngine) {
  PrivateBus bus;  // nothing registered
  ASSERT_TRUE(bus.ok()) << bus.error();
  ASSERT_EQ(bus.Run("orvo", {"init"}).exitCode, 0);
  auto run = bus.Run("orvo", {"download", "--no-check"}, 60000);
  EXPECT_EQ(run.exitCode, 4) << run.out << run.err;
  EXPECT_NE(run.err.find("Gatherer -RegServer"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace orvo
