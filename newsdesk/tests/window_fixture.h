// A reader window over a real news database in a private program folder.
#pragma once

#include <QMessageBox>
#include <QString>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "mainframe.h"
#include "store/news_items.h"
#include "store/pairs.h"
#include "settings.h"
#include "test_support.h"
#include "vault.h"

namespace orvo::testing {

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  Settings settings() const { return Settings(dir_.File("ORVO.ini")); }
  // Items "News 00" .. with sites and dates in a known order; returns their ids.
  std::vector<int64_t> AddNews(int count);
  int64_t AddNews(const NewsRecord& record);
  std::string ImagesDir() const { return dir_.File("Images"); }

  // Opens the window and waits for the first fill.
  void OpenFrame(bool trayAvailable = false);
  // Waits until `count` fills have finished since the window opened.
  bool WaitForFills(int count);
  bool WaitFor(const std::function<bool()>& condition, int ms = 10000);
  void SelectRow(int row);
  // Answers the next message box with `button`; its text lands in `*text`.
  void AnswerMessageBox(QMessageBox::StandardButton button, QString* text = nullptr);
  int64_t QueryInt(const std::string& sql);

  TempDir dir_;
  std::string dbPath_;
  std::unique_ptr<Database> db_;  // the test's own connection, for checks
  std::unique_ptr<Vault> vault_;
  std::unique_ptr<CMainFrame> frame_;
  int added_ = 0;  // news added by count, each with an address of its own
  int fills_ = 0;
  int64_t pair_[3] = {0, 0, 0};
};

}  // namespace orvo::testing
