// The download control against Timekeeper on a private bus when the service
// goes away or takes its time, and the boxes that tell about it.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>

#include <signal.h>

#include "busharness.h"
#include "frame_controls.h"
#include "newslist.h"
#include "options_sheet.h"
#include "runner_link.h"
#include "tipdialog.h"
#include "window_fixture.h"

namespace orvo::testing {
namespace {

class ServiceLinkTest : public ReaderTest {};

TEST_F(ServiceLinkTest, ServiceLeavingTheBusEndsTheRunAndTheNextCommandConnectsAgain) {
  PrivateBus bus({"Timekeeper"}, {{"ORVO_HOME", dir_.path()}});
  ASSERT_TRUE(bus.ok()) << bus.error();
  AddNews(2);
  OpenFrame();
  CFrameControls* controls = frame_->controls();
  controls->runner()->SetBus(bus.Connect("reader"));
  ASSERT_TRUE(controls->ConnectRunner(CFrameControls::Report::kNone));
  QAction* download = frame_->action(Cmd::Download);
  // A run goes on, a stop was asked for; then the service is gone (stopped,
  // crashed, logged out).
  frame_->SetDownloadRunning(true);
  frame_->SetGenerationRunning(true);
  frame_->action(Cmd::GenerateLit)->setEnabled(false);
  frame_->SetStatusText("Loading page 3 of 9");
  pid_t service = bus.OwnerPid(kRunnerBusName);
  ASSERT_GT(service, 0);
  ASSERT_EQ(::kill(service, SIGKILL), 0);

  ASSERT_TRUE(WaitFor([&] { return !frame_->downloadRunning(); }, 10000));
  EXPECT_FALSE(frame_->generationRunning());
  EXPECT_FALSE(download->isChecked());
  EXPECT_TRUE(download->isEnabled());
  EXPECT_EQ(download->text(), "&Download news");
  EXPECT_TRUE(frame_->action(Cmd::GenerateLit)->isEnabled());
  EXPECT_FALSE(controls->stopRequested());
  EXPECT_TRUE(frame_->statusText().contains("Timekeeper")) << frame_->statusText().toStdString();
  EXPECT_FALSE(controls->runner()->connected());

  // The next command reaches the service again (the bus starts it anew).
  EXPECT_TRUE(controls->ConnectRunner(CFrameControls::Report::kNone));
  EXPECT_GT(bus.OwnerPid(kRunnerBusName), 0);
  EXPECT_NE(bus.OwnerPid(kRunnerBusName), service);
}

// The bus starts the engine with the ORVO_DATABASE of its registration: a
// reader on another database would never see the news it asked for.
TEST_F(ServiceLinkTest, ADownloadIntoAnotherDatabaseThanTheReadersIsToldFirst) {
  const std::string other = dir_.File("other.db");
  PrivateBus bus({"Timekeeper", "Gatherer"}, {{"ORVO_HOME", dir_.path()}, {"ORVO_DATABASE", other}});
  ASSERT_TRUE(bus.ok()) << bus.error();
  // The reader looks for registrations where the bus does, as in one session.
  const char* data = std::getenv("XDG_DATA_HOME");
  const std::string saved = data ? data : "";
  setenv("XDG_DATA_HOME", bus.dataHome().c_str(), 1);
  struct Restore {
    bool had;
    std::string value;
    ~Restore() { had ? setenv("XDG_DATA_HOME", value.c_str(), 1) : unsetenv("XDG_DATA_HOME"); }
  } restore{data != nullptr, saved};
  AddNews(2);
  OpenFrame();
  frame_->controls()->runner()->SetBus(bus.Connect("reader"));
  QString told;
  AnswerMessageBox(QMessageBox::Cancel, &told);
  frame_->action(Cmd::Download)->trigger();
  ASSERT_TRUE(WaitFor([&] { return !told.isEmpty(); }));
  EXPECT_TRUE(told.contains("would not come into this reader")) << told.toStdString();
  EXPECT_FALSE(frame_->downloadRunning());
  EXPECT_FALSE(bus.HasOwner("org.orvo.Gatherer2"));
  EXPECT_TRUE(frame_->action(Cmd::Download)->isEnabled());
}

TEST_F(ServiceLinkTest, StopKeepsTheDownloadCommandDisabledUntilTheRunHasEnded) {
  PrivateBus bus({"Timekeeper"}, {{"ORVO_HOME", dir_.path()}});
  ASSERT_TRUE(bus.ok()) << bus.error();
  AddNews(2);
  db_->Exec("UPDATE site_cat_rel SET is_selected = 1");
  settings().WriteInt(kSystemSection, "FilterApply", 0);
  OpenFrame();
  CFrameControls* controls = frame_->controls();
  controls->runner()->SetBus(bus.Connect("reader"));
  ASSERT_TRUE(controls->ConnectRunner(CFrameControls::Report::kNone));
  QAction* download = frame_->action(Cmd::Download);
  // How the command looks when the service's end of the run arrives.
  int complites = 0;
  bool enabledAtComplite = true;
  QObject::connect(controls->runner(), &CRunnerLink::Complite, [&](int) {
    ++complites;
    enabledAtComplite = download->isEnabled();
  });
  frame_->SetDownloadRunning(true);
  download->trigger();  // Stop
  EXPECT_TRUE(controls->stopRequested());
  EXPECT_FALSE(download->isEnabled());
  ASSERT_TRUE(WaitFor([&] { return complites > 0; }));
  EXPECT_FALSE(enabledAtComplite) << "Download came back before the run had ended";
  ASSERT_TRUE(WaitFor([&] { return !frame_->downloadRunning(); }));
  EXPECT_TRUE(download->isEnabled());
  EXPECT_FALSE(controls->stopRequested());
}

// The informative text of the next message box, and then it is closed.
struct BoxCatcher {
  QString text, informative;
  QFont font;
  int labelWidth = 0;
  bool caught = false;
  QTimer timer;
  BoxCatcher() {
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [this] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box || !box->isVisible()) continue;
        text = box->text();
        informative = box->informativeText();
        if (auto* label = box->findChild<QLabel*>("qt_msgbox_informativelabel")) {
          font = label->font();
          labelWidth = label->width();
          informative = label->text();
        }
        caught = true;
        timer.stop();
        box->done(QMessageBox::Ok);
        return;
      }
    });
    timer.start();
  }
};

// True when `phrase` is laid out on one line at every width from `from` to
// `to` pixels at which it can fit at all.
bool NeverBroken(const QString& html, const QFont& font, const QString& phrase, int from, int to, int* badWidth) {
  QTextDocument doc;
  doc.setDefaultFont(font);
  if (Qt::mightBeRichText(html)) doc.setHtml(html);
  else doc.setPlainText(html);
  doc.setDocumentMargin(0);
  int phraseWidth = QFontMetrics(font).horizontalAdvance(phrase);
  for (int w = std::max(from, phraseWidth + 4); w <= to; ++w) {
    doc.setTextWidth(w);
    for (QTextBlock b = doc.begin(); b != doc.end(); b = b.next()) {
      int at = b.text().indexOf(phrase);
      if (at < 0) continue;
      QTextLayout* l = b.layout();
      if (l->lineForTextPosition(at).lineNumber() !=
          l->lineForTextPosition(at + static_cast<int>(phrase.size()) - 1).lineNumber()) {
        *badWidth = w;
        return false;
      }
    }
  }
  return true;
}

TEST_F(ServiceLinkTest, UnreachableServiceBoxKeepsTheCommandOnOneLine) {
  PrivateBus bus;  // nothing registered
  ASSERT_TRUE(bus.ok()) << bus.error();
  OpenFrame();
  frame_->controls()->runner()->SetBus(bus.Connect("reader"));
  BoxCatcher box;
  frame_->action(Cmd::Download)->trigger();
  ASSERT_TRUE(box.caught);
  EXPECT_EQ(box.text, "Can not open reciver");
  ASSERT_TRUE(box.informative.contains("Timekeeper") && box.informative.contains("RegServer"))
      << box.informative.toStdString();
  int bad = 0;
  EXPECT_TRUE(NeverBroken(box.informative, box.font, "Timekeeper -RegServer", 120, 700, &bad))
      << "broken at " << bad << " pixels: " << box.informative.toStdString();
}

TEST_F(ServiceLinkTest, FirstStartTipAndServiceBoxComeOneAfterTheOther) {
  PrivateBus bus;  // nothing registered: the start-up connection fails
  ASSERT_TRUE(bus.ok()) << bus.error();
  AddNews(1);
  settings().WriteInt(kSystemSection, keys::kStartTip, 1);
  vault_ = std::make_unique<Vault>();
  ASSERT_TRUE(vault_->db.Init(""));
  frame_ = std::make_unique<CMainFrame>(*vault_, false);
  frame_->controls()->runner()->SetBus(bus.Connect("reader"));
  QStringList order;
  int mostAtOnce = 0;
  QTimer watch;
  watch.setInterval(20);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    int up = 0;
    QDialog* last = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* d = qobject_cast<QDialog*>(w);
      if (!d || !d->isVisible()) continue;
      ++up;
      last = d;
      QString name = d->metaObject()->className();
      if (order.isEmpty() || order.back() != name) order << name;
    }
    mostAtOnce = std::max(mostAtOnce, up);
    // Each one is read for a while, then closed.
    static int ticks = 0;
    if (last && ++ticks % 10 == 0) last->done(QDialog::Rejected);
  });
  watch.start();
  frame_->show();
  ASSERT_TRUE(WaitFor([&] { return order.size() >= 2; }, 10000)) << order.join(", ").toStdString();
  QTest::qWait(300);
  EXPECT_EQ(mostAtOnce, 1) << order.join(", ").toStdString();
  EXPECT_EQ(order.value(0), "orvo::CTipDialog");
  EXPECT_EQ(order.value(1), "QMessageBox");
}

TEST_F(ServiceLinkTest, OptionsOkKeepsValuesItsControlsCannotShow) {
  Settings s = settings();
  s.WriteInt(kDownloadSection, "Days", 3650);
  s.WriteInt(kDownloadSection, "ConnectTimeout", 5000);
  s.WriteInt(kSystemSection, "MaxNewsPerLit", 2000);
  s.WriteInt(kCleanupSection, "Month", 240);
  s.WriteInt(kCleanupSection, "Hour", 100);
  OpenFrame();
  COptionsPropSheet sheet(*vault_, [] { return false; }, frame_.get());
  sheet.show();
  for (int i = 0; i < sheet.tabs()->count(); ++i) {
    sheet.tabs()->setCurrentIndex(i);
    QApplication::processEvents();
  }
  // One value edited by the user is written as shown.
  sheet.miscPage()->maxNews()->setValue(50);
  sheet.okButton()->click();
  s = settings();
  EXPECT_EQ(s.ReadInt(kDownloadSection, "Days", -1), 3650);
  EXPECT_EQ(s.ReadInt(kDownloadSection, "ConnectTimeout", -1), 5000);
  EXPECT_EQ(s.ReadInt(kCleanupSection, "Month", -1), 240);
  EXPECT_EQ(s.ReadInt(kCleanupSection, "Hour", -1), 100);
  EXPECT_EQ(s.ReadInt(kSystemSection, "MaxNewsPerLit", -1), 50);
}

TEST_F(ServiceLinkTest, EveryOptionsTabIsInSight) {
  OpenFrame();
  COptionsPropSheet sheet(*vault_, [] { return false; }, frame_.get());
  sheet.show();
  QApplication::processEvents();
  QTabBar* bar = sheet.tabs()->tabBar();
  for (int i = 0; i < bar->count(); ++i) {
    QRect r = bar->tabRect(i);
    EXPECT_TRUE(bar->rect().contains(r)) << bar->tabText(i).toStdString() << " is out of sight";
  }
}

}  // namespace
}  // namespace orvo::testing
