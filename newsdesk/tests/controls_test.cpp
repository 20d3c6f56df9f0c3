// Filters, search, options and the download control, on real windows over a
// real database; the download control also against Timekeeper on a private bus.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <fstream>

#include "busharness.h"
#ifdef ORVO_HAVE_NEWS_NETWORK
#include "news_sites.h"
#endif
#include "check_trees.h"
#include "filter_editor.h"
#include "filters_dialog.h"
#include "frame_controls.h"
#include "newsdetail.h"
#include "newsinfo.h"
#include "newslist.h"
#include "options_sheet.h"
#include "runner_link.h"
#include "text.h"
#include "window_fixture.h"

namespace orvo::testing {
namespace {

QStringList Titles(CMainFrame& f) {
  QStringList out;
  NewsListModel* m = f.newsList()->model();
  for (int i = 0; i < m->rowCount(); ++i) out << m->title(i);
  out.sort();
  return out;
}

QTreeWidgetItem* Child(QTreeWidget* tree, const QString& parent, const QString& child) {
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    QTreeWidgetItem* p = tree->topLevelItem(i);
    if (p->text(0) != parent) continue;
    if (child.isEmpty()) return p;
    for (int j = 0; j < p->childCount(); ++j)
      if (p->child(j)->text(0) == child) return p->child(j);
  }
  return nullptr;
}

// A click on an item's check box, as the tree delivers it.
void Click(QTreeWidgetItem* item) {
  item->setCheckState(0, item->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

class ControlsTest : public ReaderTest {
 protected:
  // News whose bodies hold the given words; "News NN" titles.
  int64_t Add(int64_t pair, const std::string& title, const std::string& body, std::time_t published) {
    NewsRecord r;
    r.pair = pair;
    r.title = title;
    r.url = "https://example.org/" + title;
    r.body = body;
    r.published = published;
    return AddNews(r);
  }
};

TEST_F(ControlsTest, SavedFilterListsExactlyItsNewsAndKeepsKeywordsEscapedOnce) {
  std::time_t now = std::time(nullptr);
  Add(pair_[0], "recent match", "<p>a 50%_[a] offer</p>", now - 3600);
  Add(pair_[0], "old match", "<p>a 50%_[a] offer</p>", now - 10 * 86400);
  Add(pair_[1], "other site", "<p>a 50%_[a] offer</p>", now - 3600);
  Add(pair_[0], "no keyword", "<p>50 percent</p>", now - 3600);
  Add(pair_[0], "wildcard bait", "<p>a 50xy[a] offer</p>", now - 3600);
  OpenFrame();

  int32_t id;
  {
    CFilterEditor editor(*vault_, -1, frame_.get());
    ASSERT_TRUE(editor.Begin());
    // New: everything checked.
    EXPECT_EQ(editor.trees()->Pairs(false).size(), 0u);
    editor.nameEdit()->setText("Offers");
    editor.keywordsEdit()->setText("50%_[a]");
    editor.modeCombo()->setCurrentIndex(2);  // exact phrase
    editor.timePeriod()->setChecked(true);
    EXPECT_TRUE(editor.daysSpin()->isEnabled());
    EXPECT_FALSE(editor.fromEdit()->isEnabled());
    editor.daysSpin()->setValue(2);
    editor.trees()->CheckOnly({{static_cast<int32_t>(QueryInt("SELECT fk_news_cat FROM site_cat_rel WHERE id = " +
                                                             std::to_string(pair_[0]))),
                                static_cast<int32_t>(QueryInt("SELECT fk_news_config FROM site_cat_rel WHERE id = " +
                                                             std::to_string(pair_[0])))}});
    editor.okButton()->click();
    id = editor.filterId();
    ASSERT_GT(id, 0);
  }
  Statement s(*db_, "SELECT keywords, search_mode, time_kind, days FROM filter WHERE id = ?");
  s.Bind(1, id);
  ASSERT_TRUE(s.Next());
  EXPECT_EQ(s.Text(0), "50[%][_][[]a[]]");
  EXPECT_EQ(s.Int(1), 2);
  EXPECT_EQ(s.Int(2), 2);
  EXPECT_EQ(s.Int(3), 2);
  EXPECT_EQ(QueryInt("SELECT COUNT(*) FROM filter_site_cat_rel WHERE fk_filter = " + std::to_string(id)), 1);

  frame_->ListFilterNews(id);
  ASSERT_TRUE(WaitForFills(2));
  EXPECT_EQ(Titles(*frame_), QStringList({"recent match"}));

  // Editing shows the keywords as typed; saving again does not escape twice.
  {
    CFilterEditor editor(*vault_, id, frame_.get());
    ASSERT_TRUE(editor.Begin());
    EXPECT_EQ(editor.keywordsEdit()->text(), "50%_[a]");
    EXPECT_EQ(editor.modeCombo()->currentIndex(), 2);
    EXPECT_TRUE(editor.timePeriod()->isChecked());
    EXPECT_EQ(editor.trees()->Pairs(true).size(), 1u);
    editor.okButton()->click();
  }
  EXPECT_EQ(QueryInt("SELECT COUNT(*) FROM filter WHERE keywords = '50[%][_][[]a[]]'"), 1);
}

TEST_F(ControlsTest, FindNowThenCloseLeavesNoFilterBehind) {
  Add(pair_[0], "one", "<p>river</p>", std::time(nullptr));
  Add(pair_[1], "two", "<p>lake</p>", std::time(nullptr));
  OpenFrame();
  CFilterEditor editor(*vault_, -1, frame_.get());
  QObject::connect(&editor, &CFilterEditor::listFilterRequested, frame_.get(), &CMainFrame::ListFilterNews);
  ASSERT_TRUE(editor.Begin());
  editor.keywordsEdit()->setText("river");
  editor.findNowButton()->click();
  ASSERT_GT(editor.filterId(), 0);
  ASSERT_TRUE(WaitForFills(2));
  EXPECT_EQ(Titles(*frame_), QStringList({"one"}));
  editor.closeButton()->click();
  EXPECT_EQ(QueryInt("SELECT COUNT(*) FROM filter"), 0);
  EXPECT_EQ(QueryInt("SELECT COUNT(*) FROM filter_site_cat_rel"), 0);
}

TEST_F(ControlsTest, CloseAfterSaveFilterThrowsAwayOnlyLaterChanges) {
  OpenFrame();
  CFilterEditor editor(*vault_, -1, frame_.get());
  ASSERT_TRUE(editor.Begin());
  // No name: nothing is saved.
  QString text;
  AnswerMessageBox(QMessageBox::Ok, &text);
  editor.saveButton()->click();
  EXPECT_EQ(text, "Enter name");
  EXPECT_EQ(QueryInt("SELECT COUNT(*) FROM filter"), 0);

  editor.nameEdit()->setText("Kept");
  editor.saveButton()->click();
  editor.nameEdit()->setText("Changed");
  editor.findNowButton()->click();
  editor.closeButton()->click();
  Statement s(*db_, "SELECT name FROM filter");
  ASSERT_TRUE(s.Next());
  EXPECT_EQ(s.Text(0), "Kept");
  EXPECT_FALSE(s.Next());
}

TEST_F(ControlsTest, CheckTreesDeriveSitesCategoriesAndAll) {
  // A second site with a category of the same name as Alpha's.
  int64_t extra = EnsurePair(*db_, "Delta", "World");
  (void)extra;
  OpenFrame();
  CFilterEditor editor(*vault_, -1, frame_.get());
  CheckTrees* trees = editor.trees();
  QTreeWidget* sites = editor.sitesTree();
  QTreeWidget* cats = editor.categoriesTree();
  ASSERT_EQ(trees->pairCount(), 4);
  EXPECT_EQ(cats->topLevelItemCount(), 3);
  EXPECT_EQ(cats->topLevelItem(0)->text(0), "Arts");  // sorted

  // Unchecking World in the categories tree unchecks it under both sites.
  QTreeWidgetItem* world = nullptr;
  for (int i = 0; i < cats->topLevelItemCount(); ++i)
    if (cats->topLevelItem(i)->text(0) == "World") world = cats->topLevelItem(i);
  ASSERT_TRUE(world);
  Click(world);
  EXPECT_EQ(Child(sites, "Alpha", "World")->checkState(0), Qt::Unchecked);
  EXPECT_EQ(Child(sites, "Delta", "World")->checkState(0), Qt::Unchecked);
  EXPECT_EQ(Child(sites, "Alpha", "")->checkState(0), Qt::Unchecked);
  // Checking it under one site: the category shows partial, so does All.
  Click(Child(sites, "Delta", "World"));
  EXPECT_EQ(world->checkState(0), Qt::PartiallyChecked);
  EXPECT_EQ(Child(sites, "Delta", "")->checkState(0), Qt::Checked);
  EXPECT_EQ(trees->Pairs(true).size(), 3u);

  // A partial category clicked counts as unchecked after the change.
  Click(world);
  EXPECT_EQ(Child(sites, "Delta", "World")->checkState(0), Qt::Unchecked);
  // A site click applies to its categories.
  Click(Child(sites, "Beta", ""));
  EXPECT_EQ(Child(sites, "Beta", "Sport")->checkState(0), Qt::Unchecked);
  trees->SetAll(true);
  EXPECT_EQ(trees->Pairs(false).size(), 0u);
}

TEST_F(ControlsTest, FiltersDialogDescribesListsAndDeletes) {
  OpenFrame();
  CFilterStruct f;
  f.name = "Rivers";
  f.keywords = "river[%]";
  f.searchMode = 4;
  f.usedInLit = true;
  int32_t cat = static_cast<int32_t>(QueryInt("SELECT fk_news_cat FROM site_cat_rel WHERE id = " +
                                              std::to_string(pair_[1])));
  int32_t site = static_cast<int32_t>(QueryInt("SELECT fk_news_config FROM site_cat_rel WHERE id = " +
                                               std::to_string(pair_[1])));
  int32_t id;
  {
    VaultLock lock(vault_->lock);
    id = vault_->db.CreateFilter(f, &cat, &site, 1);
  }
  ASSERT_GT(id, 0);
  CFiltersDialog dialog(*vault_, -1, frame_.get());
  ASSERT_EQ(dialog.list()->count(), 1);
  EXPECT_FALSE(dialog.editButton()->isEnabled());
  EXPECT_TRUE(dialog.description()->toPlainText().isEmpty());
  dialog.list()->setCurrentRow(0);
  EXPECT_TRUE(dialog.editButton()->isEnabled());
  EXPECT_EQ(dialog.description()->toPlainText(),
            "Keywords: river%\nSearch using: any word\nSearch mode: Excluding\nUsed in .lit generation:Yes\n\n"
            "Sites and categories:\nBeta - Sport\n\nTime restrictions: \n    None");

  // Apply filter: the combo shows it and the grid lists its news.
  QSignalSpy applied(&dialog, &CFiltersDialog::applyRequested);
  dialog.applyButton()->click();
  ASSERT_EQ(applied.count(), 1);

  AnswerMessageBox(QMessageBox::Ok);
  dialog.deleteButton()->click();
  EXPECT_EQ(dialog.list()->count(), 0);
  EXPECT_TRUE(dialog.description()->toPlainText().isEmpty());
  EXPECT_EQ(QueryInt("SELECT COUNT(*) FROM filter"), 0);
}

TEST_F(ControlsTest, FiltersWindowClosedWithOkAppliesTheSelectedFilter) {
  Add(pair_[1], "sport item", "<p>x</p>", std::time(nullptr));
  Add(pair_[0], "world item", "<p>x</p>", std::time(nullptr));
  OpenFrame();
  CFilterStruct f;
  f.name = "Sport";
  int32_t cat = static_cast<int32_t>(QueryInt("SELECT fk_news_cat FROM site_cat_rel WHERE id = " +
                                              std::to_string(pair_[1])));
  int32_t site = static_cast<int32_t>(QueryInt("SELECT fk_news_config FROM site_cat_rel WHERE id = " +
                                               std::to_string(pair_[1])));
  {
    VaultLock lock(vault_->lock);
    ASSERT_GT(vault_->db.CreateFilter(f, &cat, &site, 1), 0);
  }
  frame_->action(Cmd::Filters)->trigger();
  CFiltersDialog* dialog = frame_->controls()->filtersDialog();
  ASSERT_TRUE(dialog);
  ASSERT_EQ(dialog->list()->count(), 1);
  dialog->list()->setCurrentRow(0);
  dialog->okButton()->click();
  ASSERT_TRUE(WaitForFills(2));
  EXPECT_EQ(frame_->filterCombo()->currentText(), "Sport");
  EXPECT_EQ(Titles(*frame_), QStringList({"sport item"}));
}

TEST_F(ControlsTest, SitesPageWritesTheDownloadSelection) {
  OpenFrame();
  {
    VaultLock lock(vault_->lock);
    EXPECT_FALSE(vault_->db.IsAnySelected());
  }
  COptionsPropSheet sheet(*vault_, [] { return false; }, frame_.get());
  ASSERT_EQ(sheet.tabs()->tabText(0), "Sites/Categories");
  sheet.show();
  COptionsSitesPage* page = sheet.sitesPage();
  ASSERT_TRUE(page->loaded());
  EXPECT_FALSE(page->startButton()->isEnabled());  // nothing checked
  EXPECT_FALSE(sheet.applyButton()->isEnabled());
  Click(Child(page->sitesTree(), "Beta", "Sport"));
  EXPECT_TRUE(page->startButton()->isEnabled());
  EXPECT_TRUE(sheet.applyButton()->isEnabled());
  page->daysSpin()->setValue(7);
  sheet.applyButton()->click();
  {
    VaultLock lock(vault_->lock);
    EXPECT_TRUE(vault_->db.IsAnySelected());
  }
  EXPECT_EQ(QueryInt("SELECT is_selected FROM site_cat_rel WHERE id = " + std::to_string(pair_[1])), 1);
  EXPECT_EQ(QueryInt("SELECT COUNT(*) FROM site_cat_rel WHERE is_selected <> 0"), 1);
  EXPECT_EQ(settings().ReadInt(kDownloadSection, "Days", 0), 7);

  // The selection shows when the sheet opens again; unchecking all clears it.
  COptionsPropSheet again(*vault_, [] { return true; }, frame_.get());
  again.show();
  EXPECT_EQ(Child(again.sitesPage()->sitesTree(), "Beta", "Sport")->checkState(0), Qt::Checked);
  EXPECT_FALSE(again.sitesPage()->startButton()->isEnabled());  // a download runs
  again.sitesPage()->trees()->SetAll(false);
  again.ApplyAll();
  VaultLock lock(vault_->lock);
  EXPECT_FALSE(vault_->db.IsAnySelected());
}

TEST_F(ControlsTest, OptionPagesReadDefaultsAndWriteOnlyWhenShown) {
  settings().WriteText(kCleanupSection, "Month", "4x");
  OpenFrame();
  COptionsPropSheet sheet(*vault_, [] { return false; }, frame_.get());
  sheet.show();
  std::vector<std::string> order;
  for (int i = 0; i < sheet.tabs()->count(); ++i) order.push_back(sheet.tabs()->tabText(i).toStdString());
  EXPECT_EQ(order.front(), "Sites/Categories");
  EXPECT_EQ(order.back(), "ORVO Log");
  // Cleanup: greyed while "Delete news older than" is off, values kept.
  int cleanup = static_cast<int>(std::find(order.begin(), order.end(), "CleanUp") - order.begin());
  sheet.tabs()->setCurrentIndex(cleanup);
  auto* page = static_cast<COptionsCleanupPage*>(sheet.page(cleanup));
  EXPECT_EQ(page->spin(0)->value(), 4);
  EXPECT_FALSE(page->spin(0)->isEnabled());
  EXPECT_FALSE(page->deleteLit()->isEnabled());
  page->deleteOlder()->setChecked(true);
  EXPECT_TRUE(page->spin(0)->isEnabled());
  page->spin(1)->setValue(12);
  page->deleteOlder()->setChecked(false);
  // Misc shows its defaults.
  int misc = static_cast<int>(std::find(order.begin(), order.end(), "Miscellaneous") - order.begin());
  sheet.tabs()->setCurrentIndex(misc);
  EXPECT_EQ(sheet.miscPage()->markRead()->value(), 3);
  EXPECT_EQ(sheet.miscPage()->timeout()->value(), 300);
  EXPECT_EQ(sheet.miscPage()->maxNews()->value(), 30);
  // Without a stored BookFormat the volumes stay .lit; the choice is kept.
  EXPECT_EQ(sheet.miscPage()->bookFormat()->currentData().toString(), "lit");
  sheet.miscPage()->bookFormat()->setCurrentIndex(sheet.miscPage()->bookFormat()->findData("both"));
  sheet.miscPage()->markRead()->setValue(0);
  sheet.okButton()->click();
  Settings s = settings();
  EXPECT_EQ(s.ReadInt(kCleanupSection, "DeleteOlder", -1), 0);
  EXPECT_EQ(s.ReadInt(kCleanupSection, "Day", -1), 12);
  EXPECT_EQ(s.ReadInt(kCleanupSection, "Month", -1), 4);
  EXPECT_EQ(s.ReadInt(kSystemSection, "MarkReadTime", -1), 0);
  EXPECT_EQ(s.ReadText(kSystemSection, "BookFormat"), "both");
  // The System page was never shown: nothing of it was written.
  EXPECT_FALSE(s.HasKey(kSystemSection, "UseProxy"));
}

// The delivery settings on the Miscellaneous page: shown as stored, written
// back to section Delivery; a typed password goes to the Secret Service only
// (here it cannot: no server and login are given, which the reader says) and
// never into ORVO.ini.
TEST_F(ControlsTest, DeliverySettingsOnTheMiscPageKeepThePasswordOutOfTheSettings) {
  settings().WriteInt(kDeliverySection, "CopyToReader", 1);
  settings().WriteText(kDeliverySection, "MailTo", "reader_42@kindle.example");
  const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
  qputenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir_.File("no-bus")).c_str());
  OpenFrame();
  COptionsPropSheet sheet(*vault_, [] { return false; }, frame_.get());
  sheet.show();
  for (int i = 0; i < sheet.tabs()->count(); ++i)
    if (sheet.tabs()->tabText(i) == "Miscellaneous") sheet.tabs()->setCurrentIndex(i);
  COptionsFontsPage* misc = sheet.miscPage();
  EXPECT_TRUE(misc->copyToReader()->isChecked());
  EXPECT_FALSE(misc->mailAfterRun()->isChecked());
  EXPECT_EQ(misc->mailTo()->text(), "reader_42@kindle.example");
  misc->mailAfterRun()->setChecked(true);
  misc->readerFolder()->setText("/media/me/SDCARD/Books");
  misc->mailPassword()->setText("pa55word");
  QString warning;
  AnswerMessageBox(QMessageBox::Ok, &warning);
  sheet.okButton()->click();
  qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
  Settings s = settings();
  EXPECT_EQ(s.ReadInt(kDeliverySection, "MailAfterRun", -1), 1);
  EXPECT_EQ(s.ReadText(kDeliverySection, "ReaderFolder"), "/media/me/SDCARD/Books");
  EXPECT_EQ(s.ReadInt(kDeliverySection, "MailLimitMB", -1), 25);
  // Without a server and a login the password cannot be filed: said so.
  EXPECT_TRUE(warning.contains("The mail password was not kept")) << warning.toStdString();
  EXPECT_EQ(ReadFile(dir_.File("ORVO.ini")).find("pa55word"), std::string::npos);
  EXPECT_TRUE(misc->mailPassword()->text().isEmpty());
}

TEST_F(ControlsTest, LogPageShowsTheLastHundredThousandBytesAndFollowsTheFile) {
  std::string line(99, 'x');
  std::string log;
  for (int i = 0; log.size() < 150000; ++i) log += "line " + std::to_string(i) + " " + line + "\n";
  log.resize(150000);
  WriteFile(dir_.File("orvo_log.txt"), log);
  COptionsPLogPage page;
  page.show();
  QString shown = page.events()->toPlainText();
  EXPECT_EQ(shown.toStdString(), log.substr(50000));

  std::ofstream(dir_.File("orvo_log.txt"), std::ios::app) << "a fresh record\n";
  EXPECT_TRUE(QTest::qWaitFor([&] { return page.events()->toPlainText().endsWith("a fresh record\n"); }, 5000));
  page.clearButton()->click();
  EXPECT_TRUE(page.events()->toPlainText().isEmpty());
  EXPECT_EQ(ReadFile(dir_.File("orvo_log.txt")), "");
}

#ifndef ORVO_HAVE_NEWS_NETWORK
// Timekeeper without its runner answers Start with a status and Complite at once.
TEST_F(ControlsTest, DownloadThroughTimekeeperOnAPrivateBus) {
  PrivateBus bus({"Timekeeper"}, {{"ORVO_HOME", dir_.path()}});
  ASSERT_TRUE(bus.ok()) << bus.error();
  AddNews(2);
  OpenFrame();
  CFrameControls* controls = frame_->controls();
  controls->runner()->SetBus(bus.Connect("reader"));
  QAction* download = frame_->action(Cmd::Download);
  EXPECT_EQ(download->text(), "&Download news");

  // Nothing selected for download: after the run the reader says so and
  // opens the options.
  bool sheetSeen = false;
  QObject::connect(controls, &CFrameControls::optionsCreated, [&](COptionsPropSheet* sheet) {
    sheetSeen = true;
    QTimer::singleShot(0, sheet, &QDialog::reject);
  });
  QString attention;
  AnswerMessageBox(QMessageBox::Ok, &attention);
  download->trigger();
  EXPECT_TRUE(controls->runner()->connected());
  ASSERT_TRUE(WaitFor([&] { return sheetSeen; }));
  EXPECT_TRUE(attention.startsWith("ATTENTION!\nNo sites and categories are selected for download."));
  EXPECT_FALSE(frame_->downloadRunning());
  EXPECT_EQ(download->text(), "&Download news");
  EXPECT_FALSE(download->isChecked());
  EXPECT_FALSE(frame_->statusText().isEmpty());
  // FilterApply: the grid was filled again after the run.
  EXPECT_TRUE(WaitForFills(2));

  // Stop while "running": the service ends it with its stop message. With a
  // pair selected, no question follows.
  // Without FilterApply the grid is left alone, so the stop message stays.
  db_->Exec("UPDATE site_cat_rel SET is_selected = 1");
  settings().WriteInt(kSystemSection, "FilterApply", 0);
  int fillsBefore = fills_;
  frame_->SetDownloadRunning(true);
  download->trigger();
  EXPECT_TRUE(controls->stopRequested());
  ASSERT_TRUE(WaitFor([&] { return !frame_->downloadRunning(); }));
  ASSERT_TRUE(WaitFor([&] { return frame_->statusText() == "Download is stopped."; }));
  EXPECT_TRUE(download->isEnabled());
  EXPECT_FALSE(controls->stopRequested());
  EXPECT_EQ(fills_, fillsBefore);
}
#endif

TEST_F(ControlsTest, UnreachableServiceSaysSoAndTheNextCommandTriesAgain) {
  PrivateBus bus;  // nothing registered
  ASSERT_TRUE(bus.ok()) << bus.error();
  OpenFrame();
  CFrameControls* controls = frame_->controls();
  controls->runner()->SetBus(bus.Connect("reader"));
  QString text;
  AnswerMessageBox(QMessageBox::Ok, &text);
  frame_->action(Cmd::Download)->trigger();
  EXPECT_EQ(text, "Can not open reciver");
  EXPECT_FALSE(frame_->downloadRunning());
  EXPECT_FALSE(controls->runner()->connected());

  ASSERT_TRUE(bus.Register("Timekeeper"));
  EXPECT_TRUE(controls->ConnectRunner(CFrameControls::Report::kModal));
}


#ifdef ORVO_HAVE_NEWS_NETWORK
// The whole road: the reader asks Timekeeper, Timekeeper runs Gatherer against
// a news network on 127.0.0.1, the reader follows and lists the new items.
TEST(DownloadControl, DownloadRunsThroughTimekeeperAndGathererAndStopEndsIt) {
  NewsNetworkOptions options;
  options.articlesA = 3;
  options.articlesB = 2;
  NewsNetwork net(options);
  PrivateBus bus({"Timekeeper", "Gatherer"});
  ASSERT_TRUE(bus.ok()) << bus.error();
  PrepareNewsFolder(bus.orvoHome(), net, 3);
  ::setenv("ORVO_HOME", bus.orvoHome().c_str(), 1);
  Settings(bus.orvoHome() + "/ORVO.ini").WriteInt(kSystemSection, keys::kStartTip, 0);
  {
    Vault vault;
    ASSERT_TRUE(vault.db.Init(""));
    CMainFrame frame(vault, false);
    int fills = 0;
    QObject::connect(frame.newsList(), &CNewsListView::loadingFinished, [&] { ++fills; });
    frame.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fills >= 1; }, 10000));
    EXPECT_EQ(frame.newsList()->model()->rowCount(), 0);
    CFrameControls* controls = frame.controls();
    controls->runner()->SetBus(bus.Connect("reader"));
    QAction* download = frame.action(Cmd::Download);

    QStringList seen;
    QObject::connect(controls->runner(), &CRunnerLink::OnProcessStatus,
                     [&](const QString& text, int, int) { seen << text; });
    download->trigger();
    EXPECT_TRUE(frame.downloadRunning());
    EXPECT_EQ(download->text(), "Stop download");
    EXPECT_TRUE(download->isChecked());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !frame.downloadRunning(); }, 90000)) << bus.DaemonLog();
    EXPECT_FALSE(seen.isEmpty());
    EXPECT_TRUE(seen.contains("Download completed.")) << seen.join(" | ").toStdString();
    EXPECT_EQ(download->text(), "&Download news");
    EXPECT_FALSE(download->isChecked());
    // FilterApply (default on): the grid lists the new items.
    ASSERT_TRUE(QTest::qWaitFor([&] { return fills >= 2; }, 10000));
    EXPECT_EQ(frame.newsList()->model()->rowCount(), 5);

    // Pressing twice quickly: the second press stops the run.
    download->trigger();
    ASSERT_TRUE(frame.downloadRunning());
    download->trigger();
    EXPECT_TRUE(controls->stopRequested());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !frame.downloadRunning(); }, 30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.contains("Download is stopped."); }, 10000));
  }
  ::unsetenv("ORVO_HOME");
}
#endif


// A pair the last download found broken is marked on the Sites/Categories
// page; news found by automatic extraction say so in the information bar.
TEST_F(ControlsTest, BrokenPairsAndNewsFoundWithoutMasksAreMarked) {
  int64_t autoId = Add(pair_[1], "found alone", "<p>text</p>", std::time(nullptr));
  int64_t maskId = Add(pair_[1], "found by mask", "<p>text</p>", std::time(nullptr) - 60);
  ASSERT_EQ(db_->Exec(("INSERT INTO mask_health (fk_site_cat_rel, run_time, list_loaded, links_found, state, symptom,"
                       " broken_since) VALUES (" + std::to_string(pair_[1]) +
                       ", '2030-01-02 10:00:00', 1, 0, 1, 'the list mask found no link on its list page',"
                       " '2030-01-02 10:00:00'), (" + std::to_string(pair_[0]) +
                       ", '2030-01-01 10:00:00', 1, 0, 1, 'old', '2030-01-01 10:00:00'), (" +
                       std::to_string(pair_[0]) + ", '2030-01-02 10:00:00', 1, 3, 0, '', NULL);"
                       "INSERT INTO newsitem_auto (fk_newsitem, how) VALUES (" + std::to_string(autoId) + ", 1);")
                          .c_str()),
            0)
      << db_->ErrorMessage();
  OpenFrame();
  {
    COptionsPropSheet sheet(*vault_, [] { return false; }, frame_.get());
    sheet.show();
    QTreeWidget* sites = sheet.sitesPage()->sitesTree();
    QTreeWidgetItem* broken = Child(sites, "Beta", "Sport (broken since 2030-01-02 10:00:00)");
    ASSERT_NE(broken, nullptr);
    EXPECT_NE(broken->toolTip(0).indexOf("the list mask found no link"), -1);
    // Mended since: no mark. The pair's ids stay what the selection uses.
    int marked = 0;
    for (int i = 0; i < sites->topLevelItemCount(); ++i)
      for (int k = 0; k < sites->topLevelItem(i)->childCount(); ++k)
        marked += sites->topLevelItem(i)->child(k)->text(0).contains("broken since");
    EXPECT_EQ(marked, 1);
    Click(broken);
    sheet.applyButton()->click();
    EXPECT_EQ(QueryInt("SELECT is_selected FROM site_cat_rel WHERE id = " + std::to_string(pair_[1])), 1);
  }
  NewsListModel* model = frame_->newsList()->model();
  int32_t shown = -1;
  QObject::connect(frame_->newsDetail(), &CNewsDetailView::itemShown, [&](int32_t i) { shown = i; });
  SelectRow(model->RowOf(static_cast<int32_t>(autoId)));
  ASSERT_TRUE(WaitFor([&] { return shown == autoId; }));
  EXPECT_EQ(frame_->newsInfo()->categoryText(), "Sport (found by automatic extraction)");
  SelectRow(model->RowOf(static_cast<int32_t>(maskId)));
  ASSERT_TRUE(WaitFor([&] { return shown == maskId; }));
  EXPECT_EQ(frame_->newsInfo()->categoryText(), "Sport");
}

}  // namespace
}  // namespace orvo::testing
