#include "frame_controls.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDBusConnection>
#include <QFile>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTimer>

#include "desktop_notifier.h"
#include "engine_texts.h"
#include "eventlog.h"
#include "filter_editor.h"
#include "filters_dialog.h"
#include "mainframe.h"
#include "database.h"
#include "newsdetail.h"
#include "newslist.h"
#include "options_sheet.h"
#include "runner_link.h"
#include "servercmd.h"
#include "settings.h"
#include "pg.h"

namespace orvo {

namespace {
constexpr const char* kGathererBusName = "org.orvo.Gatherer2";

const char* const kAttention = QT_TRANSLATE_NOOP("orvo::CFrameControls",
                                                 "ATTENTION!\nNo sites and categories are selected for download.\n"
                                                 "Press 'OK' and select sources of your choice.\n");

// The generator says only "Lit generation Failed"; why is in the event log,
// as the last record of its run before that text.
QString FailedEbookReason() {
  QFile log(QString::fromStdString(EventLogPath()));
  if (!log.open(QIODevice::ReadOnly)) return QString();
  const qint64 tail = 256 * 1024;
  if (log.size() > tail) log.seek(log.size() - tail);
  const QString text = QString::fromUtf8(log.readAll());
  static const QRegularExpression record(QStringLiteral("Message: (.*) \n-{25}\n"));
  QStringList messages;
  for (auto it = record.globalMatch(text); it.hasNext();) messages << it.next().captured(1);
  qsizetype end = messages.lastIndexOf(QStringLiteral("Lit generation Failed"));
  for (qsizetype i = end - 1; i >= 0; --i) {
    if (messages[i] == QStringLiteral("*.lit files generation started")) break;
    if (!messages[i].trimmed().isEmpty()) return messages[i].trimmed();
  }
  return QString();
}

struct WaitCursor {
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};
}  // namespace

CFrameControls::CFrameControls(CMainFrame* frame, Vault& vault)
    : QObject(frame),
      frame_(frame),
      vault_(vault),
      runner_(new CRunnerLink(QDBusConnection::sessionBus(), this)),
      notifier_(new CDesktopNotifier(QDBusConnection::sessionBus(), this)) {
  connect(runner_, &CRunnerLink::OnProcessStatus, this, &CFrameControls::OnStatus);
  // Complite is handled once the event has been delivered, as a posted message.
  connect(runner_, &CRunnerLink::Complite, this, &CFrameControls::OnComplite, Qt::QueuedConnection);

  for (Cmd id : {Cmd::Filters, Cmd::GenerateLit, Cmd::Download, Cmd::Options}) frame_->action(id)->setEnabled(true);
  connect(frame_->action(Cmd::Download), &QAction::triggered, this, [this] {
    // The button's check follows the run state, not the click.
    frame_->SetDownloadRunning(frame_->downloadRunning());
    Download();
  });
  connect(frame_->action(Cmd::GenerateLit), &QAction::triggered, this, &CFrameControls::GenerateLit);
  connect(frame_->action(Cmd::Filters), &QAction::triggered, this, &CFrameControls::OpenFilters);
  connect(frame_->action(Cmd::Options), &QAction::triggered, this, &CFrameControls::OpenOptions);

  connect(runner_, &CRunnerLink::serviceLost, this, &CFrameControls::OnServiceLost);
}

void CFrameControls::ConnectAtStart(bool inTray) {
  // Without a session bus at all there is nothing to report (start-up has
  // said so already); otherwise an unreachable service is.
  if (!runner_->bus().isConnected()) ConnectRunner(Report::kNone);
  else ConnectRunner(inTray ? Report::kStatus : Report::kWindow);
}

void CFrameControls::OnServiceLost() {
  bool wasBusy = frame_->downloadRunning() || frame_->generationRunning() || stopRequested_;
  stopRequested_ = false;
  frame_->action(Cmd::Download)->setEnabled(true);
  frame_->action(Cmd::GenerateLit)->setEnabled(true);
  frame_->SetDownloadRunning(false);
  frame_->SetGenerationRunning(false);
  frame_->SetStatusText(wasBusy ? tr("Timekeeper, the scheduling service, has ended, and the run it was doing "
                                     "with it. The next command starts it again.")
                                : tr("Timekeeper, the scheduling service, has ended. The next command starts it "
                                     "again."));
}

CFrameControls::~CFrameControls() {
  if (filters_) delete filters_;
}

bool CFrameControls::ConnectRunner(Report report) {
  if (runner_->connected()) return true;
  QString error;
  if (!runner_->Connect(&error)) {
    if (report == Report::kStatus) {
      frame_->SetStatusText(tr("Can not open reciver: Timekeeper could not be reached (%1).").arg(error));
    } else if (report != Report::kNone) {
      auto* box = new QMessageBox(QMessageBox::NoIcon, QString(), tr("Can not open reciver"), QMessageBox::Ok,
                                  frame_);
      // The command on a line of its own, so that it is never broken.
      box->setInformativeText(tr("The scheduling service Timekeeper could not be reached (%1). Register it "
                                 "with\n\n    Timekeeper -RegServer\n\nor start it, then try again.")
                                  .arg(error));
      box->setAttribute(Qt::WA_DeleteOnClose);
      // At start-up the window must come up and stay responsive behind it.
      if (report == Report::kWindow) box->open();
      else box->exec();
    }
    return false;
  }
  int status = runner_->GetStatus();
  if (status > 0 && (status & 1)) frame_->SetDownloadRunning(true);
  return true;
}

void CFrameControls::Download() {
  if (frame_->downloadRunning()) {
    stopRequested_ = true;
    frame_->action(Cmd::Download)->setEnabled(false);
    QTimer::singleShot(0, this, &CFrameControls::StopDownload);
    return;
  }
  if (!ConfirmEngineDatabase()) return;
  frame_->SetDownloadRunning(true);
  if (!ConnectRunner(Report::kModal)) {
    // Nothing was started, so nothing will ever complete it.
    frame_->SetDownloadRunning(false);
    return;
  }
  int status = runner_->GetStatus();
  if (status != 0) {
    if (status < 0) {
      frame_->SetDownloadRunning(false);
      ConnectRunner(Report::kModal);
      return;
    }
    QMessageBox::information(frame_, QString(), tr("Parser already started"));
    return;
  }
  BeginSummary();
  if (!runner_->Start()) {
    summary_ = CRunSummary();
    frame_->SetDownloadRunning(false);
    ConnectRunner(Report::kModal);
    return;
  }
  frame_->setFocus();
}

bool CFrameControls::ConfirmEngineDatabase() {
  Settings settings = Settings::Shared();
  const std::string ours = NewsDatabaseLocation(settings, kPathBuffer);
  const std::optional<std::string> engine =
      RegisteredDatabaseOtherThan(kGathererBusName, ours, ConfiguredDatabaseLocation(settings, kPathBuffer));
  if (!engine) return true;
  QMessageBox box(QMessageBox::Warning, QString(), tr("The news of this download would not come into this reader"),
                  QMessageBox::Ok | QMessageBox::Cancel, frame_);
  box.setInformativeText(
      tr("The Gatherer registered with the session bus stores the news in %1, and this reader shows %2. The bus "
         "starts it with the ORVO_DATABASE of the shell that registered it, or else with ORVO.ini's. Register it "
         "again from a shell with this reader's database:\n\n    Gatherer -RegServer\n\nDownload anyway?")
          .arg(engine->empty() ? tr("(no database)") : QString::fromStdString(pg::RedactUrl(*engine)),
               QString::fromStdString(pg::RedactUrl(ours))));
  box.button(QMessageBox::Ok)->setText(tr("&Download anyway"));
  box.setDefaultButton(QMessageBox::Cancel);
  return box.exec() == QMessageBox::Ok;
}

void CFrameControls::StopDownload() {
  WaitCursor wait;
  // The command stays disabled until the run's Complite.
  bool stopped = ConnectRunner(Report::kModal) && runner_->Stop();
  if (!stopped) {
    // The service is gone, and so is its download.
    stopRequested_ = false;
    frame_->action(Cmd::Download)->setEnabled(true);
    frame_->SetDownloadRunning(false);
  }
}

void CFrameControls::GenerateLit() {
  frame_->SetGenerationRunning(true);
  frame_->action(Cmd::GenerateLit)->setEnabled(false);
  if (!ConnectRunner(Report::kModal) || !runner_->StartLitGen()) {
    frame_->SetGenerationRunning(false);
    frame_->action(Cmd::GenerateLit)->setEnabled(true);
  }
}

void CFrameControls::BeginSummary() {
  int64_t last;
  {
    VaultLock lock(vault_.lock);
    last = vault_.db.LastNewsId();
  }
  summary_.Begin(last);
}

void CFrameControls::FinishSummary(int status) {
  if (!summary_.active()) return;
  const bool interrupted = status == CRunnerLink::kGatheringInterrupted;
  int64_t items = 0, sites = 0;
  {
    VaultLock lock(vault_.lock);
    vault_.db.CountNewsAfter(summary_.lastNewsIdBefore(), &items, &sites);
  }
  summary_.Finish(items, sites, interrupted);
  emit downloadEnded();
  if (status != CRunnerLink::kGatheringEnded && !interrupted) return;
  frame_->SetStatusText(summary_.Text());
  // The filter applied after the download would put its own text over it.
  frame_->SetStatusAfterFill(summary_.Text());
  if (interrupted)
    notifier_->Notify(tr("Download interrupted"), summary_.Text());
  else if (items > 0)
    notifier_->Notify(items == 1 ? tr("1 new news item") : tr("%n new news items", nullptr, static_cast<int>(items)),
                      summary_.Text());
}

void CFrameControls::OnStatus(const QString& text, int from, int /*nID*/) {
  QString reason;
  if (from == CRunnerLink::kFromEbook && text == QStringLiteral("Lit generation Failed"))
    reason = FailedEbookReason();
  // Shown in the reader's language; the log keeps the engine's own words.
  frame_->SetStatusText(reason.isEmpty() ? TranslateEngineText(text)
                                         : tr("Lit generation Failed: %1").arg(TranslateEngineText(reason)));
  if (from == CRunnerLink::kFromGathering) frame_->ShowProgress(ParseEngineProgress(text));
  if (from == CRunnerLink::kFromGathering) {
    // A run the schedule started is summed up as well.
    if (!summary_.active()) BeginSummary();
    summary_.Feed(text);
  }
  if (from == CRunnerLink::kFromEbook) lastEbookText_ = text;
  if (from == CRunnerLink::kFromGathering && !frame_->downloadRunning()) frame_->SetDownloadRunning(true);
  if (from == CRunnerLink::kFromEbook && !frame_->generationRunning()) {
    frame_->SetGenerationRunning(true);
    frame_->action(Cmd::GenerateLit)->setEnabled(false);
  }
}

void CFrameControls::OnComplite(int status) {
  if (status >= CRunnerLink::kEbookEnded) {
    frame_->SetGenerationRunning(false);
    frame_->action(Cmd::GenerateLit)->setEnabled(true);
    // The generator's last text tells how the run went.
    if (lastEbookText_ == "*.lit files generation completed successfully")
      notifier_->Notify(tr("eBooks are ready"), tr("The news of your filters have been written as eBooks."));
    lastEbookText_.clear();
    return;
  }
  stopRequested_ = false;
  frame_->action(Cmd::Download)->setEnabled(true);
  frame_->SetDownloadRunning(false);
  FinishSummary(status);
  if (status != CRunnerLink::kGatheringEnded && status != CRunnerLink::kGatheringInterrupted) return;
  // What an interrupted run stored before stays, and is shown.
  if (Settings::Shared().ReadInt(kSystemSection, "FilterApply", 1) != 0) frame_->ApplySelectedFilter();
  else frame_->SetStatusAfterFill(QString());
  if (status == CRunnerLink::kGatheringInterrupted) return;
  bool any;
  {
    VaultLock lock(vault_.lock);
    any = vault_.db.IsAnySelected();
  }
  if (!any) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QMessageBox box(QMessageBox::NoIcon, QString(), tr(kAttention), QMessageBox::Ok, frame_);
    QApplication::restoreOverrideCursor();
    box.exec();
    OpenOptions();
  }
}

void CFrameControls::OpenOptions() { OpenOptionsAt(0); }

void CFrameControls::OpenOptionsAt(int page) {
  COptionsPropSheet sheet(vault_, [this] { return frame_->downloadRunning(); }, frame_);
  sheet.tabs()->setCurrentIndex(page);
  connect(&sheet, &COptionsPropSheet::settingsWritten, frame_->newsList(), &CNewsListView::ReadSettings);
  connect(&sheet, &COptionsPropSheet::startDownloadRequested, this, [this] {
    // After the sheet has applied and closed.
    QTimer::singleShot(0, this, [this] {
      if (!frame_->downloadRunning()) Download();
    });
  });
  emit optionsCreated(&sheet);
  sheet.exec();
}

void CFrameControls::OpenFilters() {
  if (filters_) {
    filters_->show();
    filters_->raise();
    filters_->activateWindow();
    return;
  }
  QComboBox* combo = frame_->filterCombo();
  int32_t current = combo->currentIndex() > 0 ? combo->currentData().toInt() : -1;
  filters_ = new CFiltersDialog(vault_, current, frame_);
  filters_->setAttribute(Qt::WA_DeleteOnClose);
  connect(filters_, &CFiltersDialog::applyRequested, this, [this](int32_t id) {
    SelectFilter(id);
    frame_->ListFilterNews(id);
  });
  connect(filters_, &CFiltersDialog::closed, this, &CFrameControls::OnFiltersClosed, Qt::QueuedConnection);
  connect(filters_, &CFiltersDialog::editorCreated, this, [this](CFilterEditor* editor) {
    connect(editor, &CFilterEditor::listFilterRequested, frame_, &CMainFrame::ListFilterNews);
    emit filterEditorCreated(editor);
  });
  filters_->show();
}

void CFrameControls::OnFiltersClosed(bool keep, int32_t filterId) {
  QComboBox* combo = frame_->filterCombo();
  if (keep) {
    // The list is read again (names may have changed), keeping what it shows.
    int32_t current = combo->currentIndex() > 0 ? combo->currentData().toInt() : -1;
    frame_->FillFilterCombo(current);
    if (current >= 0 && combo->currentIndex() == 0) frame_->ApplySelectedFilter();  // it was deleted
  } else {
    SelectFilter(filterId);
    frame_->ApplySelectedFilter();
  }
  frame_->setFocus();
}

void CFrameControls::SelectFilter(int32_t filterId) {
  frame_->FillFilterCombo(filterId);
  if (frame_->filterCombo()->currentIndex() == 0 && filterId >= 0) frame_->ApplySelectedFilter();
}

}  // namespace orvo
