// orvo generate against the real Bookbinder, activated on a private bus.
#include <gtest/gtest.h>

#include <filesystem>

#include "busharness.h"
#include "database.h"
#include "settings.h"
#include "test_support.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;
using testing::PrivateBus;

// A program folder for the bus's servers with news that one marked filter
// selects (or none when `mark` is false).
void FillHome(const std::string& home, int news, bool mark) {
  fs::create_directories(home);
  std::unique_ptr<Database> db;
  ASSERT_EQ(Database::Open(home + "/news.db", Database::Mode::kCreate, &db), 0);
  Settings(home + "/ORVO.ini").WriteText(kSystemSection, "PathDB", home + "/news.db");
  ASSERT_EQ(db->Exec("INSERT INTO news_cat(name) VALUES('World');"
                     "INSERT INTO site_cat_rel(is_selected, fk_news_cat) VALUES(1, 1);"),
            0);
  for (int i = 0; i < news; ++i) {
    Statement st(*db, "INSERT INTO newsitem(fk_site_cat_rel, publication_date, title, body) VALUES(1, ?, ?, ?)");
    st.BindTime(1, std::time(nullptr)).Bind(2, "Title " + std::to_string(i)).Bind(3, "Body " + std::to_string(i));
    ASSERT_EQ(st.Execute(), 0);
  }
  ASSERT_EQ(db->Exec(mark ? "INSERT INTO filter(name, search_mode, lit_gen) VALUES('all', 7, 1);"
                            "INSERT INTO filter_site_cat_rel VALUES(1, 1);"
                          : "INSERT INTO filter(name, search_mode, lit_gen) VALUES('all', 7, 0);"),
            0);
}

TEST(OrvoGenerate, PrintsTheStatusAndTheVolumesWritten) {
  if (!fs::exists(std::string(ORVO_BIN_DIR) + "/liblitgen.so")) GTEST_SKIP() << "no liblitgen.so in " ORVO_BIN_DIR;
  PrivateBus bus({"Bookbinder"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  FillHome(bus.orvoHome(), 7, true);
  Settings(bus.orvoHome() + "/ORVO.ini").WriteInt(kSystemSection, "MaxNewsPerLit", 5);
  // An earlier run's volume from the same second (its time even a little
  // ahead): not this run's.
  const std::string earlier = bus.orvoHome() + "/lit/news.200001010000.00_0.lit";
  fs::create_directories(bus.orvoHome() + "/lit");
  testing::WriteFile(earlier, "earlier");
  fs::last_write_time(earlier, fs::file_time_type::clock::now() + std::chrono::seconds(30));
  PrivateBus::Result r = bus.Run("orvo", {"generate"}, 60000);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("*.lit files generation started\n*.lit files generation completed successfully\n"),
            std::string::npos)
      << r.out;
  // Two volumes, named in the output and present in lit/ of the program folder.
  std::vector<std::string> written;
  for (auto& e : fs::directory_iterator(bus.orvoHome() + "/lit"))
    if (e.path() != earlier) written.push_back(e.path().string());
  ASSERT_EQ(written.size(), 2u);
  for (const std::string& v : written) EXPECT_NE(r.out.find("written: " + v + "\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(earlier), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");
}

// --format overrides BookFormat for one run, also with Timekeeper there
// (whose StartLitGen carries no format); a bad value is refused at once.
TEST(OrvoGenerate, FormatChoosesTheVolumesOfThisRun) {
  PrivateBus bus({"Bookbinder", "Timekeeper"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  FillHome(bus.orvoHome(), 3, true);
  Settings(bus.orvoHome() + "/ORVO.ini").WriteText(kSystemSection, "BookFormat", "lit");
  PrivateBus::Result r = bus.Run("orvo", {"generate", "--format", "epub"}, 60000);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  std::vector<std::string> written;
  for (auto& e : fs::directory_iterator(bus.orvoHome() + "/lit")) written.push_back(e.path().filename().string());
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(fs::path(written[0]).extension(), ".epub");
  EXPECT_NE(r.out.find("written: " + bus.orvoHome() + "/lit/" + written[0] + "\n"), std::string::npos) << r.out;

  PrivateBus::Result bad = bus.Run("orvo", {"generate", "--format", "pdf"}, 60000);
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.err.find("lit, epub or both"), std::string::npos) << bad.err;
}

// --send asks the generator itself for delivery (Timekeeper's StartLitGen
// carries none) and shows each step; here no system bus answers, which the
// run says and still ends as a success.
TEST(OrvoGenerate, SendDeliversThisRunsVolumes) {
  PrivateBus bus({"Bookbinder", "Timekeeper"}, {{"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus"}});
  ASSERT_TRUE(bus.ok()) << bus.error();
  FillHome(bus.orvoHome(), 2, true);
  Settings(bus.orvoHome() + "/ORVO.ini").WriteText(kSystemSection, "BookFormat", "epub");
  PrivateBus::Result plain = bus.Run("orvo", {"generate"}, 60000);
  EXPECT_EQ(plain.exitCode, 0) << plain.out << plain.err;
  EXPECT_EQ(plain.out.find("e-reader"), std::string::npos) << plain.out;
  PrivateBus::Result r = bus.Run("orvo", {"generate", "--send"}, 60000);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Can not look for a connected e-reader: no system bus"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("written: "), std::string::npos) << r.out;
}

TEST(OrvoGenerate, AFailedRunSaysSoAndExitsNonZero) {
  PrivateBus bus({"Bookbinder"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  FillHome(bus.orvoHome(), 3, false);
  PrivateBus::Result r = bus.Run("orvo", {"generate"}, 60000);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("Lit generation Failed\n"), std::string::npos) << r.out << r.err;
  // Only our own message: no warning of the bus library on the way; and it
  // names the log where it really is.
  std::string home = bus.orvoHome();
  if (home.back() != '/') home += '/';
  EXPECT_EQ(r.err, "orvo generate: the run failed; " + home + "orvo_log.txt says why\n");
}

TEST(OrvoGenerate, WithoutARegisteredGeneratorItSaysWhatToDo) {
  PrivateBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  PrivateBus::Result r = bus.Run("orvo", {"generate"}, 90000);  // generous: CI machines are busy
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("Bookbinder -RegServer"), std::string::npos) << r.err;
}

TEST(OrvoGenerate, GoesThroughTimekeeperWhenItIsRegistered) {
  PrivateBus bus({"Bookbinder", "Timekeeper"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  FillHome(bus.orvoHome(), 3, false);
  PrivateBus::Result r = bus.Run("orvo", {"generate"}, 60000);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("Lit generation Failed\n"), std::string::npos) << r.out << r.err;
  EXPECT_NE(r.err.find("the run failed"), std::string::npos) << r.err;
  EXPECT_TRUE(bus.HasOwner(QStringLiteral("org.orvo.OrvoRunner"))) << "the run went through the service";
}

TEST(OrvoGenerate, ThroughTimekeeperPrintsTheVolumesWritten) {
  if (!fs::exists(std::string(ORVO_BIN_DIR) + "/liblitgen.so")) GTEST_SKIP() << "no liblitgen.so in " ORVO_BIN_DIR;
  PrivateBus bus({"Bookbinder", "Timekeeper"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  FillHome(bus.orvoHome(), 7, true);
  Settings(bus.orvoHome() + "/ORVO.ini").WriteInt(kSystemSection, "MaxNewsPerLit", 5);
  PrivateBus::Result r = bus.Run("orvo", {"generate"}, 60000);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("*.lit files generation completed successfully\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("written: " + bus.orvoHome() + "/lit/"), std::string::npos) << r.out;
  EXPECT_TRUE(bus.HasOwner(QStringLiteral("org.orvo.OrvoRunner")));
}

TEST(OrvoGenerate, ThroughTimekeeperWithoutTheGeneratorSaysWhatToDo) {
  PrivateBus bus({"Timekeeper"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  PrivateBus::Result r = bus.Run("orvo", {"generate"}, 90000);  // generous: CI machines are busy
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Could not create instance"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Bookbinder -RegServer"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace orvo
