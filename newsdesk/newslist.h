// CNewsListView: the news grid. A model/view table filled on a worker thread
// from the manager's enumeration, so that even 100,000 rows stay quick.
#pragma once

#include <QAbstractTableModel>
#include <QFont>
#include <QIcon>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "vault.h"

class QAction;
class QItemSelection;
class QMenu;
class QTableView;
class QUrl;

namespace orvo {

class CNewsInfoView;

// A row names its site and category by a slot in the model's labels: a
// million rows hold a few dozen names between them. Its title stays UTF-8 in
// the text of the batch it came with and becomes a QString only when shown,
// so a row costs no allocation of its own.
struct NewsRow {
  int32_t id = 0;
  int32_t label = 0;
  std::time_t date = 0;
  uint32_t text = 0;  // which batch's text holds the title
  uint32_t titleAt = 0;
  uint32_t titleSize = 0;
  bool read = false;
};

struct PairLabel {
  QString site;
  QString category;
};

// Rows for the model, with the labels first used by them (their slots follow
// those of the batches before) and their titles, cleaned for one line, one
// after another.
struct NewsBatch {
  std::vector<NewsRow> rows;
  std::vector<PairLabel> labels;
  std::string titles;
};

class NewsListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit NewsListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void Append(NewsBatch&& batch);
  void Clear();
  void SetRead(int row, bool read);
  // The rows at `positions` whose ids are still `ids` (the list may have
  // been filled again meanwhile).
  void SetRead(const std::vector<int>& positions, const std::vector<int32_t>& ids, bool read);
  // Removes the rows at the given positions (any order).
  void RemovePositions(std::vector<int> positions);
  const NewsRow& row(int i) const { return rows_[static_cast<size_t>(i)]; }
  const QString& site(int i) const { return labels_[static_cast<size_t>(row(i).label)].site; }
  const QString& category(int i) const { return labels_[static_cast<size_t>(row(i).label)].category; }
  QString title(int i) const { return TitleOf(row(i)); }
  int RowOf(int32_t id) const;
  void SetBoldFont(const QFont& font) { bold_ = font; }

 private:
  QString TitleOf(const NewsRow& r) const;

  std::vector<NewsRow> rows_;
  std::vector<std::string> texts_;  // the batches' titles
  std::vector<PairLabel> labels_;
  QIcon readIcon_;
  QIcon unreadIcon_;
  QFont bold_;
};

// Walks the manager's enumeration on its own thread, one item per hold of the
// database lock, and hands the rows over in batches.
class CNewsListLoaderThread {
 public:
  // `deliver` runs on the loader thread; `done` is true with the last batch.
  using Deliver = std::function<void(NewsBatch&& batch, bool done)>;
  CNewsListLoaderThread(Vault& vault, Deliver deliver);
  ~CNewsListLoaderThread();  // stops and waits

 private:
  void Run(Vault& vault, Deliver deliver);
  static constexpr int kRowsPerLock = 64;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class CNewsListView : public QWidget {
  Q_OBJECT
 public:
  explicit CNewsListView(Vault& vault, QWidget* parent = nullptr);
  ~CNewsListView() override;

  void SetInfoView(CNewsInfoView* info) { info_ = info; }

  // Fills; false when ignored (still loading) or when the query cannot begin.
  bool FillAll();
  // `inFound`: only within the last listed result.
  bool FillSearch(const std::vector<std::string>& escapedKeywords, bool withFilter, int32_t filterId,
                  bool inFound = false);
  bool FillFilter(int32_t filterId);
  // All news of these site/category pairs.
  bool FillPairs(std::vector<int64_t> pairs);
  // Fills again the way it was last filled.
  bool Refill();
  void Clear();
  bool busy() const { return busy_; }

  // Re-reads MarkReadTime, SortColumn and SortOrder (at start and after Options).
  void ReadSettings();
  void SaveSettings() const;  // column widths; the sort goes with the frame's keys
  int sortColumn() const { return sortColumn_; }
  int sortOrder() const { return sortOrder_; }
  int markReadDelay() const { return markReadMs_; }

  void MarkSelected(bool read);
  void DeleteSelected();
  void CopyAddress();
  // Selects the next (or previous) unread row after the current one; false
  // when there is none.
  bool SelectNextUnread(bool forward);
  // Marks every listed row read: one transaction, on its own thread.
  void MarkAllRead();
  // Opens the current item's address in the desktop's browser; says so when
  // there is no address or nothing opens it.
  bool OpenInBrowser();
  // How addresses are opened (the desktop's handler unless replaced).
  void SetUrlOpener(std::function<bool(const QUrl&)> opener) { openUrl_ = std::move(opener); }
  void OnHeaderClicked(int column);
  // Narrows columns wider than the view allows (kept from a larger window).
  void ClampColumns();
  static constexpr int kMinColumnWidth = 60;

  QTableView* table() const { return table_; }
  NewsListModel* model() const { return model_; }
  QAction* markReadAction() const { return markRead_; }
  QAction* markUnreadAction() const { return markUnread_; }
  QAction* deleteAction() const { return delete_; }
  QAction* copyAddressAction() const { return copyAddress_; }
  QAction* nextUnreadAction() const { return nextUnread_; }
  QAction* previousUnreadAction() const { return previousUnread_; }
  QAction* markAllReadAction() const { return markAllRead_; }
  QAction* openInBrowserAction() const { return openInBrowser_; }
  int selectedCount() const;
  // One unread row: Mark as Read, Delete, Copy address; one read row: Mark as
  // Unread instead; several rows: Mark as Read, Mark as Unread, Delete.
  QMenu* ContextMenuForSelection() const;

  // Marking many rows runs on its own thread.
  bool marking() const { return marker_ != nullptr; }

 signals:
  void loadingStarted();
  void loadingFinished();
  void itemSelected(int32_t id);
  void textClearRequested();
  // Read flags or deletions were stored (counts elsewhere are out of date).
  void newsChanged();
  // The database file was deleted or replaced under the reader, or its
  // server went away; `writeFailed`: a mark or a deletion was not stored.
  void databaseGone(bool writeFailed);

 private:
  using Setup = std::function<bool(CDBManager&)>;
  bool Start(Setup setup, bool ignoreFailure);
  void Receive(uint64_t generation, NewsBatch&& batch, bool done);
  void OnSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
  void OnMarkReadTimer();
  void MarkRow(int32_t id, bool read);
  // `rc` failed because the database is gone (see databaseGone).
  bool DatabaseGone(long rc);
  void ShowContextMenu(const QPoint& pos);
  void ShowSortIndicator();
  bool eventFilter(QObject* watched, QEvent* event) override;
  void FinishMarking(std::vector<int> positions, std::vector<int32_t> ids, bool read, long rc);
  void MarkRows(std::vector<int> positions, std::vector<int32_t> ids, bool read);

  Vault& vault_;
  CNewsInfoView* info_ = nullptr;
  QTableView* table_;
  NewsListModel* model_;
  std::unique_ptr<CNewsListLoaderThread> loader_;
  std::unique_ptr<std::thread> marker_;
  uint64_t generation_ = 0;
  bool busy_ = false;
  Setup lastSetup_;
  bool lastIgnoresFailure_ = true;

  QTimer markTimer_;
  int markReadMs_ = 5000;
  int32_t lastSelectedId_ = -1;
  bool columnsClamped_ = false;
  int sortColumn_ = 0;
  int sortOrder_ = 0;

  QAction* markRead_;
  QAction* markUnread_;
  QAction* delete_;
  QAction* copyAddress_;
  QAction* nextUnread_;
  QAction* previousUnread_;
  QAction* markAllRead_;
  QAction* openInBrowser_;
  std::function<bool(const QUrl&)> openUrl_;
  QMenu* menuUnread_;
  QMenu* menuRead_;
  QMenu* menuSeveral_;
};

}  // namespace orvo
