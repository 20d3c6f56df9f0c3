// The main frame's commands that reach beyond the news panes: the Filters
// window, the Options sheet, and the download and eBook control through the
// scheduling service. Kept apart from the frame so the frame stays about its
// panes; the frame makes one at its creation.
#pragma once

#include <QObject>
#include <QPointer>

#include <cstdint>

#include "filters_dialog.h"
#include "run_summary.h"
#include "vault.h"

namespace orvo {

class CDesktopNotifier;
class CFilterEditor;
class CMainFrame;
class COptionsPropSheet;
class CRunnerLink;

class CFrameControls : public QObject {
  Q_OBJECT
 public:
  CFrameControls(CMainFrame* frame, Vault& vault);
  ~CFrameControls() override;

  CRunnerLink* runner() const { return runner_; }
  CFiltersDialog* filtersDialog() const { return filters_; }
  bool stopRequested() const { return stopRequested_; }
  CDesktopNotifier* notifier() const { return notifier_; }
  const CRunSummary& summary() const { return summary_; }

  // How a failure to reach the service is told: not at all, in a box that
  // waits for the user, or in one that leaves the window running.
  // kStatus: only in the status bar (and so the tray's tooltip), for a start
  // in the tray.
  enum class Report { kNone, kModal, kWindow, kStatus };
  // Connects to the service when not connected; on failure says "Can not open
  // reciver". A running download shows the Download button pressed.
  bool ConnectRunner(Report report);

  // The first connection, once the window runs (after the tip of the day, so
  // that the two never stack). `inTray`: the window is not shown.
  void ConnectAtStart(bool inTray);

  // Commands.
  void Download();
  void GenerateLit();
  void OpenFilters();
  // Runs the Options sheet modally, on its first page or on page.
  void OpenOptions();
  void OpenOptionsAt(int page);

  // The combo shows this filter (reloaded); without it "w/o filter", applied.
  void SelectFilter(int32_t filterId);

 signals:
  // A sheet or editor was made (tests drive them).
  void optionsCreated(COptionsPropSheet* sheet);
  // A download has ended and stored what it found (the counts are out of date).
  void downloadEnded();
  void filterEditorCreated(CFilterEditor* editor);

 private:
  // False when the user would rather not download into another database
  // than this reader's (the engine's registration names another).
  bool ConfirmEngineDatabase();
  void OnStatus(const QString& text, int from, int nID);
  void OnComplite(int status);
  void StopDownload();
  // The service left the bus: no Complite will come for what it was doing.
  void OnServiceLost();
  void OnFiltersClosed(bool keep, int32_t filterId);
  void BeginSummary();
  // The end of a download, with the status of its Complite.
  void FinishSummary(int status);

  CMainFrame* frame_;
  Vault& vault_;
  CRunnerLink* runner_;
  QPointer<CFiltersDialog> filters_;
  bool stopRequested_ = false;
  CDesktopNotifier* notifier_;
  CRunSummary summary_;
  QString lastEbookText_;
};

}  // namespace orvo
