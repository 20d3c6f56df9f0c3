#include "eventlog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "test_support.h"

namespace orvo {
namespace {

using testing::ReadFile;
using testing::TempDir;

TEST(EventLogTest, RecordHasTheExactLayout) {
  std::tm tm{};
  tm.tm_year = 126;
  tm.tm_mon = 0;
  tm.tm_mday = 5;
  tm.tm_hour = 7;
  tm.tm_min = 8;
  tm.tm_sec = 9;
  tm.tm_isdst = -1;
  EXPECT_EQ(FormatEventLogRecord("Download completed.", std::mktime(&tm)),
            "Date: 05.01.2026  07:08:09 \nMessage: Download completed. \n-------------------------\n");
}

TEST(EventLogTest, PercentSignsAndLineEndsAreWrittenUnchanged) {
  TempDir dir;
  const std::string log = dir.File("orvo_log.txt");
  WriteEventLogTo(log, "100% %s %d %n");
  WriteEventLogTo(log, "Can not insert images 19 SQL : \nINSERT ...");
  std::string text = ReadFile(log);
  EXPECT_NE(text.find("Message: 100% %s %d %n \n"), std::string::npos);
  EXPECT_NE(text.find("Message: Can not insert images 19 SQL : \nINSERT ... \n"), std::string::npos);
  EXPECT_LT(text.find("100%"), text.find("Can not insert"));
}

TEST(EventLogTest, UnwritableLogIsASilentNoOp) {
  WriteEventLogTo("/nonexistent-orvo-folder/orvo_log.txt", "lost");
  TempDir dir;
  const std::string log = dir.File("orvo_log.txt");
  WriteEventLogTo(log, "first");
  ::chmod(log.c_str(), 0444);
  if (::geteuid() != 0) {  // root writes read-only files anyway
    WriteEventLogTo(log, "second");
    EXPECT_EQ(ReadFile(log).find("second"), std::string::npos);
  }
  ::chmod(log.c_str(), 0644);
  ::unlink(log.c_str());
  WriteEventLogTo(log, "third");  // a deleted log is created anew
  EXPECT_NE(ReadFile(log).find("third"), std::string::npos);
}

TEST(EventLogTest, ConcurrentWritersNeverTearRecords) {
  TempDir dir;
  const std::string log = dir.File("orvo_log.txt");
  const std::string payload(300, 'x');
  ASSERT_TRUE(testing::RunInProcesses(
      [&](int child) {
        for (int i = 0; i < 1000; ++i)
          WriteEventLogTo(log, "P" + std::to_string(child) + " #" + std::to_string(i) + " " + payload);
      },
      2));
  std::string text = ReadFile(log);
  std::regex record("Date: \\d\\d\\.\\d\\d\\.\\d{4}  \\d\\d:\\d\\d:\\d\\d \\nMessage: P[01] #\\d+ x{300} \\n-{25}\\n");
  size_t count = 0;
  auto begin = std::sregex_iterator(text.begin(), text.end(), record);
  size_t covered = 0;
  for (auto it = begin; it != std::sregex_iterator(); ++it) {
    ++count;
    covered += it->length();
  }
  EXPECT_EQ(count, 2000u);
  EXPECT_EQ(covered, text.size());  // nothing outside whole records
}

}  // namespace
}  // namespace orvo
