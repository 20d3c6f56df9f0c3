#include "platform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "test_support.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_) setenv(name_, old_->c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(PlatformTest, ExecutablePathNamesThisProgram) {
  std::string self = ExecutablePath();
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(self.front(), '/');
  EXPECT_TRUE(fs::exists(self));
  std::string dir = ExecutableDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_EQ(dir + fs::path(self).filename().string(), self);
}

TEST(PlatformTest, XdgFoldersTakeAbsoluteValuesAndFallBackUnderHome) {
  ScopedEnv home("HOME", "/home/reader");
  {
    ScopedEnv data("XDG_DATA_HOME", nullptr), config("XDG_CONFIG_HOME", nullptr),
        state("XDG_STATE_HOME", nullptr), cache("XDG_CACHE_HOME", nullptr);
    EXPECT_EQ(XdgDataHome(), "/home/reader/.local/share");
    EXPECT_EQ(XdgConfigHome(), "/home/reader/.config");
    EXPECT_EQ(XdgStateHome(), "/home/reader/.local/state");
    EXPECT_EQ(XdgCacheHome(), "/home/reader/.cache");
  }
  ScopedEnv data("XDG_DATA_HOME", "/srv/data"), config("XDG_CONFIG_HOME", "relative/config"),
      state("XDG_STATE_HOME", "");
  EXPECT_EQ(XdgDataHome(), "/srv/data");
  EXPECT_EQ(XdgConfigHome(), "/home/reader/.config");  // relative: ignored
  EXPECT_EQ(XdgStateHome(), "/home/reader/.local/state");  // empty: ignored
}

TEST(PlatformTest, WriteFileAtomicallyReplacesWholeAndKeepsTheMode) {
  TempDir dir;
  const std::string path = dir.File("ORVO.ini");
  ASSERT_TRUE(WriteFileAtomically(path, "first\n"));
  EXPECT_EQ(ReadFile(path), "first\n");
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  ASSERT_TRUE(WriteFileAtomically(path, std::string("second\0binary", 13)));
  EXPECT_EQ(ReadFile(path), std::string("second\0binary", 13));
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_TRUE(WriteFileAtomically(path, ""));
  EXPECT_EQ(ReadFile(path), "");
  // Nothing is left behind beside the file.
  int entries = 0;
  for (const auto& e : fs::directory_iterator(dir.path())) entries += e.is_regular_file();
  EXPECT_EQ(entries, 1);
}

TEST(PlatformTest, WriteFileAtomicallyFailureLeavesTheOldFileAndSaysWhy) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(dir.File("no/such/file"), "x", &error));
  EXPECT_NE(error.find("cannot write " + dir.File("no/such/file")), std::string::npos) << error;
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;

  // A folder in the way of the rename: the write fails, the folder stays.
  fs::create_directories(dir.File("taken/inside"));
  EXPECT_FALSE(WriteFileAtomically(dir.File("taken"), "x", &error));
  EXPECT_TRUE(fs::is_directory(dir.File("taken/inside")));
  int files = 0;
  for (const auto& e : fs::directory_iterator(dir.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 0);  // the temporary file is gone
}

TEST(PlatformTest, ConcurrentWritersNeverLeaveHalfAFile) {
  TempDir dir;
  const std::string path = dir.File("shared.txt");
  WriteFile(path, std::string(3000, 'a'));
  auto whole = [](const std::string& seen) {
    if (seen.empty() || seen.find_first_not_of(seen[0]) != std::string::npos) return false;
    size_t expected = seen[0] == 'a' ? 3000 : 4000 + static_cast<size_t>(seen[0] - 'b') * 1000;
    return seen.size() == expected;
  };
  bool ok = testing::RunInProcesses(
      [&](int child) {
        const std::string body(4000 + static_cast<size_t>(child) * 1000, static_cast<char>('b' + child));
        for (int i = 0; i < 50; ++i) {
          if (!WriteFileAtomically(path, body)) std::exit(1);
          if (!whole(ReadFile(path))) std::exit(2);  // every read sees one writer's whole text
        }
      },
      4);
  EXPECT_TRUE(ok);
}

TEST(PlatformTest, Utf8ToUtf16CoversEveryPlaneAndReplacesBrokenBytes) {
  EXPECT_EQ(Utf8ToUtf16("aé€😀"), u"aé€😀");
  EXPECT_EQ(Utf8ToUtf16(""), u"");
  EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\uFFFD");                 // cut short
  EXPECT_EQ(Utf8ToUtf16("\xE2\x28\xA1"), u"\uFFFD(\uFFFD");    // bad continuation
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");         // overlong
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // an encoded surrogate
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
  EXPECT_EQ(Utf8ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(PlatformTest, Utf16ToUtf8RoundTripsAndReplacesLoneSurrogates) {
  const std::string text = "Zürich – 東京 😀";
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
  EXPECT_EQ(Utf16ToUtf8(u"\xD83D"), "\xEF\xBF\xBD");         // high surrogate at the end
  EXPECT_EQ(Utf16ToUtf8(u"\xDE00x"), "\xEF\xBF\xBDx");       // low surrogate alone
  EXPECT_EQ(Utf16ToUtf8(u"\xD83D\xD83D\xDE00"), "\xEF\xBF\xBD\xF0\x9F\x98\x80");
}

TEST(PlatformTest, AppendUtf8EncodesEachLengthUpToItsBoundary) {
  const std::pair<char32_t, std::string> cases[] = {
      {0x7F, "\x7F"},           {0x80, "\xC2\x80"},         {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"}, {0xFFFF, "\xEF\xBF\xBF"},   {0x10000, "\xF0\x90\x80\x80"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"}};
  for (const auto& [c, bytes] : cases) {
    std::string out = "x";
    AppendUtf8(out, c);
    EXPECT_EQ(out, "x" + bytes) << std::hex << static_cast<uint32_t>(c);
  }
}
}  // namespace
}  // namespace orvo
