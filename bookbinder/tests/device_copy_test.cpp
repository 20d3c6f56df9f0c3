// Copying volumes to connected e-readers: drives are folders laid out as
// each device lays out its storage.
#include "device_copy.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

#include <filesystem>

#include "eventlog.h"
#include "generation_run.h"
#include "news_fixture.h"
#include "settings.h"
#include "test_support.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

// Every folder under the root is a mounted drive.
class FolderDrives : public DriveFinder {
 public:
  explicit FolderDrives(std::string root) : root_(std::move(root)) {}
  std::vector<MountedDrive> MountedRemovableDrives(std::string* error) override {
    std::vector<MountedDrive> drives;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(root_, ec))
      if (e.is_directory()) drives.push_back(MountedDrive{e.path().string(), e.path().filename().string()});
    if (ec) *error = ec.message();
    std::sort(drives.begin(), drives.end(), [](auto& a, auto& b) { return a.mountPoint < b.mountPoint; });
    return drives;
  }

 private:
  std::string root_;
};

// Files under a folder, relative, sorted; dot files included.
std::vector<std::string> Tree(const std::string& dir) {
  std::vector<std::string> files;
  std::error_code ec;
  for (auto& e : fs::recursive_directory_iterator(dir, ec))
    if (e.is_regular_file()) files.push_back(fs::relative(e.path(), dir).string());
  std::sort(files.begin(), files.end());
  return files;
}

struct DeviceCopyTest : ::testing::Test {
  void SetUp() override {
    fs::create_directories(media + "/KOBOeReader/.kobo");
    fs::create_directories(media + "/Kindle/documents");
    fs::create_directories(media + "/Kindle/system");
    fs::create_directories(media + "/PB632/system");
    fs::create_directories(media + "/STICK/Books");
    fs::create_directories(media + "/OTHER");
    fs::create_directories(out);
    WriteFile(epub, "epub bytes");
    WriteFile(lit, "lit bytes");
  }
  testing::TempDir dir;
  const std::string media = dir.File("media"), out = dir.File("lit");
  const std::string epub = out + "/news.202612092100.05_0.epub", lit = out + "/news.202612092100.05_0.lit";
};

TEST_F(DeviceCopyTest, EachKnownReaderGetsWhatItReadsWhereItLooks) {
  FolderDrives drives(media);
  std::vector<std::string> lines;
  int copied = CopyToReaders({epub, lit}, drives, media + "/STICK/Books/", [&](const std::string& l) {
    lines.push_back(l);
  });
  EXPECT_EQ(copied, 4);
  const std::string name = "news.202612092100.05_0";
  struct Case {
    const char* drive;
    std::vector<std::string> files;  // besides the device's own
  } cases[] = {
      {"KOBOeReader", {"ORVO/" + name + ".epub"}},
      {"Kindle", {}},
      {"PB632", {"ORVO/" + name + ".epub"}},
      {"STICK", {"Books/" + name + ".epub", "Books/" + name + ".lit"}},
      {"OTHER", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Tree(media + "/" + c.drive), c.files) << c.drive;
    for (const std::string& f : c.files)
      EXPECT_EQ(ReadFile(media + "/" + c.drive + "/" + f), fs::path(f).extension() == ".lit" ? "lit bytes" : "epub bytes");
  }
  const std::string all = ::testing::PrintToString(lines);
  EXPECT_NE(all.find("Copied " + name + ".epub to the Kobo at " + media + "/KOBOeReader"), std::string::npos) << all;
  EXPECT_NE(all.find("Not copied to the Kobo at " + media + "/KOBOeReader: " + name + ".lit (it reads no .lit"),
            std::string::npos)
      << all;
  EXPECT_NE(all.find("Nothing copied to the Kindle at " + media + "/Kindle: a Kindle opens neither"), std::string::npos)
      << all;
  EXPECT_NE(all.find("Copied " + name + ".lit to the folder " + media + "/STICK/Books/"), std::string::npos) << all;
  EXPECT_EQ(lines.size(), 7u) << all;  // 4 copies, 2 .lit left out, the Kindle
}

// A copy that breaks off (here: a source that cannot be read to its end)
// leaves neither a half volume nor its temporary file; a volume copied
// again replaces the earlier copy whole.
TEST_F(DeviceCopyTest, ABrokenCopyLeavesNothingAndARepeatReplacesWhole) {
  const std::string folder = media + "/KOBOeReader/ORVO/";
  std::string error;
  ASSERT_TRUE(CopyIntoFolder(epub, folder, &error)) << error;
  WriteFile(epub, "second edition");
  ASSERT_TRUE(CopyIntoFolder(epub, folder, &error)) << error;
  EXPECT_EQ(ReadFile(folder + fs::path(epub).filename().string()), "second edition");

  fs::create_directories(out + "/news.unreadable_0.epub");  // open succeeds, read fails
  EXPECT_FALSE(CopyIntoFolder(out + "/news.unreadable_0.epub", folder, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Tree(folder), std::vector<std::string>{fs::path(epub).filename().string()});

  WriteFile(media + "/PB632/ORVO", "a file where the folder goes");
  EXPECT_FALSE(CopyIntoFolder(epub, media + "/PB632/ORVO/", &error));
  EXPECT_NE(error.find("can not make the folder"), std::string::npos) << error;
}

TEST(DeviceCopy, NoReaderAndAFailingDriveListAreSaid) {
  testing::TempDir dir;
  fs::create_directories(dir.File("media/STICK"));
  FolderDrives drives(dir.File("media"));
  std::vector<std::string> lines;
  auto keep = [&](const std::string& l) { lines.push_back(l); };
  EXPECT_EQ(CopyToReaders({dir.File("x.epub")}, drives, "", keep), 0);
  EXPECT_EQ(CopyToReaders({dir.File("x.epub")}, drives, dir.File("media/GONE/Books"), keep), 0);
  FolderDrives missing(dir.File("no-media"));
  EXPECT_EQ(CopyToReaders({dir.File("x.epub")}, missing, "", keep), 0);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "No e-reader connected: the volumes stay in the output folder");
  EXPECT_NE(lines[1].find("the picked folder " + dir.File("media/GONE/Books") + " is not there"), std::string::npos);
  EXPECT_EQ(lines[2].rfind("Can not look for a connected e-reader: ", 0), 0u) << lines[2];
}

// A run with CopyToReader=1 copies what it wrote, shows each copy as a
// status text and still ends as a success; a run without it copies nothing
// unless it is asked to send.
TEST(DeviceCopyRun, ASuccessfulRunCopiesItsVolumesWhenAsked) {
  testing::NewsFixture fx;
  SetProcessDatabasePath(fx.dbPath());
  int64_t p = fx.AddPair("S", "World");
  testing::TestFilter f;
  f.pairs = {p};
  fx.AddFilter(f);
  fx.AddNews(testing::TestNews{p, "Only", "Text"});
  const std::string media = fx.home() + "/media";
  fs::create_directories(media + "/KOBOeReader/.kobo");

  auto run = [&](bool send) {
    GenerationRun r;
    r.setFormat(BookFormat::kEpub);
    r.setSendNow(send);
    r.setDeliveryTools(DeliveryTools{std::make_shared<FolderDrives>(media), {}});
    QSignalSpy status(&r, &GenerationRun::statusChanged), complete(&r, &GenerationRun::complete);
    EXPECT_TRUE(r.start());
    EXPECT_TRUE(complete.wait(60000));
    std::vector<std::string> texts;
    for (auto& s : status) texts.push_back(s.at(0).toString().toStdString());
    return texts;
  };
  std::vector<std::string> texts = run(false);
  EXPECT_EQ(texts.size(), 2u) << ::testing::PrintToString(texts);
  EXPECT_TRUE(Tree(media + "/KOBOeReader").empty());

  Settings::Shared().WriteInt(kDeliverySection, "CopyToReader", 1);
  texts = run(false);
  ASSERT_EQ(texts.size(), 3u) << ::testing::PrintToString(texts);
  EXPECT_EQ(texts[1].rfind("Copied news.", 0), 0u) << texts[1];
  EXPECT_EQ(texts[2], kRunSucceeded);
  EXPECT_NE(ReadFile(EventLogPath()).find(texts[1]), std::string::npos);

  Settings::Shared().WriteInt(kDeliverySection, "CopyToReader", 0);
  texts = run(true);
  ASSERT_EQ(texts.size(), 3u) << ::testing::PrintToString(texts);
  EXPECT_EQ(Tree(media + "/KOBOeReader/ORVO").size(), 2u);
  CloseDatabase();
}

}  // namespace
}  // namespace orvo
