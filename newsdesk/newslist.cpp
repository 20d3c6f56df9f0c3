#include "newslist.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDateTime>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <unordered_map>

#include "commands.h"
#include "newsinfo.h"
#include "render.h"
#include "settings.h"

namespace orvo {

namespace {

const char* const kColumnTitles[4] = {
    QT_TRANSLATE_NOOP("orvo::NewsListModel", "Site"), QT_TRANSLATE_NOOP("orvo::NewsListModel", "Category"),
    QT_TRANSLATE_NOOP("orvo::NewsListModel", "Date/Time"), QT_TRANSLATE_NOOP("orvo::NewsListModel", "Title")};
const char* const kColumnKeys[4] = {"col1", "col2", "col3", "col4"};
const int kDefaultWidths[4] = {150, 100, 160, 420};

class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

// The grid's rows share one copy of each pair's names, and most titles need
// no cleaning: a row costs a copy of its title's bytes, nothing more.
class RowMaker {
 public:
  // The labels first used since the last call go to `labels`, the title to
  // the end of `titles`.
  NewsRow Make(const CNewsListItemStruct& item, NewsBatch* batch) {
    NewsRow r;
    r.id = item.id;
    auto it = slots_.find(item.pair);
    if (it == slots_.end()) {
      it = slots_.emplace(item.pair, static_cast<int32_t>(slots_.size())).first;
      batch->labels.push_back(PairLabel{QString::fromStdString(item.site), QString::fromStdString(item.category)});
    }
    r.label = it->second;
    r.date = item.date;
    std::string& titles = batch->titles;
    r.titleAt = static_cast<uint32_t>(titles.size());
    // Titles are capped by the database's text columns; the cut only guards
    // the offsets of a batch against a hostile file.
    std::string_view t(item.title);
    if (t.size() > kMaxTitle) t = t.substr(0, kMaxTitle);
    if (NeedsCleaning(t)) titles += CleanTitle(t);
    else titles.append(t);
    r.titleSize = static_cast<uint32_t>(titles.size() - r.titleAt);
    r.read = item.read != 0;
    return r;
  }

 private:
  static constexpr size_t kMaxTitle = 64 * 1024;

  // What CleanTitle would change; memchr scans many bytes a step.
  static bool NeedsCleaning(std::string_view t) {
    for (char c : {'&', '\n', '\r'})
      if (std::memchr(t.data(), c, t.size())) return true;
    return false;
  }

  std::unordered_map<int64_t, int32_t> slots_;
};

}  // namespace

// ---------------------------------------------------------------------------

NewsListModel::NewsListModel(QObject* parent) : QAbstractTableModel(parent) {
  EnsureResources();
  readIcon_ = QIcon(":/icons/read.svg");
  unreadIcon_ = QIcon(":/icons/unread.svg");
}

int NewsListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int NewsListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 4; }

QVariant NewsListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const NewsRow& r = rows_[static_cast<size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case 0: return labels_[static_cast<size_t>(r.label)].site;
        case 1: return labels_[static_cast<size_t>(r.label)].category;
        case 2:
          return PublishedText(r.date);
        default: return TitleOf(r);
      }
    case Qt::DecorationRole:
      if (index.column() == 0) return r.read ? readIcon_ : unreadIcon_;
      return {};
    case Qt::FontRole:
      if (!r.read) return bold_;
      return {};
    case Qt::ToolTipRole:
      if (index.column() == 3) return TitleOf(r);
      return {};
    case Qt::UserRole:
      return r.id;
    default:
      return {};
  }
}

QVariant NewsListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 4)
    return tr(kColumnTitles[section]);
  return {};
}

QString NewsListModel::TitleOf(const NewsRow& r) const {
  const std::string& text = texts_[r.text];
  return QString::fromUtf8(text.data() + r.titleAt, static_cast<qsizetype>(r.titleSize));
}

void NewsListModel::Append(NewsBatch&& batch) {
  labels_.insert(labels_.end(), std::make_move_iterator(batch.labels.begin()),
                 std::make_move_iterator(batch.labels.end()));
  std::vector<NewsRow>& rows = batch.rows;
  if (rows.empty()) return;
  const auto text = static_cast<uint32_t>(texts_.size());
  texts_.push_back(std::move(batch.titles));
  for (NewsRow& r : rows) r.text = text;
  int first = rowCount();
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(rows.size()) - 1);
  rows_.insert(rows_.end(), rows.begin(), rows.end());
  endInsertRows();
}

void NewsListModel::Clear() {
  beginResetModel();
  std::vector<NewsRow>().swap(rows_);
  std::vector<std::string>().swap(texts_);
  labels_.clear();
  endResetModel();
}

void NewsListModel::SetRead(int row, bool read) {
  if (row < 0 || row >= rowCount()) return;
  rows_[static_cast<size_t>(row)].read = read;
  emit dataChanged(index(row, 0), index(row, 3));
}

void NewsListModel::SetRead(const std::vector<int>& positions, const std::vector<int32_t>& ids, bool read) {
  int first = rowCount(), last = -1;
  for (size_t i = 0; i < positions.size() && i < ids.size(); ++i) {
    int row = positions[i];
    if (row < 0 || row >= rowCount() || rows_[static_cast<size_t>(row)].id != ids[i]) continue;
    rows_[static_cast<size_t>(row)].read = read;
    first = std::min(first, row);
    last = std::max(last, row);
  }
  if (last >= first) emit dataChanged(index(first, 0), index(last, 3));
}

void NewsListModel::RemovePositions(std::vector<int> positions) {
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  // Highest first, one call per run of neighbouring rows.
  int i = static_cast<int>(positions.size()) - 1;
  while (i >= 0) {
    int last = positions[static_cast<size_t>(i)];
    int first = last;
    while (i > 0 && positions[static_cast<size_t>(i - 1)] == first - 1) first = positions[static_cast<size_t>(--i)];
    --i;
    if (first < 0 || last >= rowCount()) continue;
    beginRemoveRows(QModelIndex(), first, last);
    rows_.erase(rows_.begin() + first, rows_.begin() + last + 1);
    endRemoveRows();
  }
}

int NewsListModel::RowOf(int32_t id) const {
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].id == id) return static_cast<int>(i);
  return -1;
}

// ---------------------------------------------------------------------------

CNewsListLoaderThread::CNewsListLoaderThread(Vault& vault, Deliver deliver)
    : thread_(&CNewsListLoaderThread::Run, this, std::ref(vault), std::move(deliver)) {}

CNewsListLoaderThread::~CNewsListLoaderThread() {
  stop_ = true;
  thread_.join();
}

void CNewsListLoaderThread::Run(Vault& vault, Deliver deliver) {
  using Clock = std::chrono::steady_clock;
  RowMaker maker;
  NewsBatch batch;
  bool first = true;
  bool end = false;
  size_t delivered = 0;
  auto sent = Clock::now();
  while (!stop_ && !end) {
    {
      // A few rows per hold of the lock: cheap, and the window thread never
      // waits long for it. The first row goes alone, at once.
      VaultLock lock(vault.lock);
      for (int n = first ? 1 : kRowsPerLock; n > 0; --n) {
        const CNewsListItemStruct* item = vault.db.EnumNextNewsListItem();
        if (!item) {
          end = true;
          break;
        }
        batch.rows.push_back(maker.Make(*item, &batch));
      }
    }
    if (end) break;
    // Then a screenful, then larger batches: each one repaints the view.
    if (first || batch.rows.size() >= 20000 || (delivered < 200 && batch.rows.size() >= 100) ||
        Clock::now() - sent > std::chrono::milliseconds(100)) {
      delivered += batch.rows.size();
      first = false;
      batch.titles.shrink_to_fit();  // the text is kept as long as its rows
      deliver(std::move(batch), false);
      batch = {};
      sent = Clock::now();
    }
  }
  {
    VaultLock lock(vault.lock);
    vault.db.EndNewsListEnum();
  }
  batch.titles.shrink_to_fit();
  deliver(std::move(batch), true);
}

// ---------------------------------------------------------------------------

CNewsListView::CNewsListView(Vault& vault, QWidget* parent) : QWidget(parent), vault_(vault) {
  EnsureResources();
  model_ = new NewsListModel(this);
  table_ = new QTableView(this);
  table_->setObjectName("CNewsList");
  table_->setAccessibleName(tr("News list"));
  table_->setModel(model_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setShowGrid(false);
  table_->setWordWrap(false);
  table_->setAlternatingRowColors(false);
  table_->setContextMenuPolicy(Qt::CustomContextMenu);
  table_->verticalHeader()->hide();
  // Fixed row heights keep 100,000 rows cheap to lay out.
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  table_->horizontalHeader()->setSectionsMovable(true);
  table_->horizontalHeader()->setHighlightSections(false);
  // The manager sorts; the view must not. (setSortingEnabled(false) also
  // hides the indicator, so the arrow is switched on after it.)
  table_->setSortingEnabled(false);
  table_->horizontalHeader()->setSortIndicatorShown(true);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  QFont bold = table_->font();
  bold.setWeight(QFont::Bold);
  model_->SetBoldFont(bold);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(table_);
  setFocusProxy(table_);
  table_->installEventFilter(this);

  Settings settings = Settings::Shared();
  for (int i = 0; i < 4; ++i) {
    int w = settings.ReadInt(kSystemSection, kColumnKeys[i], kDefaultWidths[i]);
    table_->setColumnWidth(i, w <= 5 ? 80 : w);
  }

  markRead_ = new QAction(QIcon(":/icons/read.svg"), tr("Mark as &Read"), this);
  markRead_->setData(static_cast<int>(Cmd::MarkRead));
  markUnread_ = new QAction(QIcon(":/icons/unread.svg"), tr("Mark as &Unread"), this);
  markUnread_->setData(static_cast<int>(Cmd::MarkUnread));
  delete_ = new QAction(QIcon(":/icons/delete.svg"), tr("&Delete"), this);
  delete_->setData(static_cast<int>(Cmd::Delete));
  delete_->setShortcut(QKeySequence::Delete);
  delete_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  copyAddress_ = new QAction(QIcon(":/icons/copy.svg"), tr("Copy &address"), this);
  copyAddress_->setData(static_cast<int>(Cmd::CopyAddress));
  addAction(delete_);
  // Keyboard reading: N and Shift+N walk the unread news.
  nextUnread_ = new QAction(tr("&Next Unread"), this);
  nextUnread_->setShortcut(QKeySequence(Qt::Key_N));
  previousUnread_ = new QAction(tr("&Previous Unread"), this);
  previousUnread_->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_N));
  markAllRead_ = new QAction(QIcon(":/icons/read.svg"), tr("Mark A&ll as Read"), this);
  markAllRead_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
  openInBrowser_ = new QAction(tr("&Open in Browser"), this);
  openInBrowser_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
  openUrl_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  // Next and previous unread are wired by the frame, which tells when none is left.
  connect(markAllRead_, &QAction::triggered, this, &CNewsListView::MarkAllRead);
  connect(openInBrowser_, &QAction::triggered, this, &CNewsListView::OpenInBrowser);
  connect(table_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex&) { OpenInBrowser(); });
  connect(markRead_, &QAction::triggered, this, [this] { MarkSelected(true); });
  connect(markUnread_, &QAction::triggered, this, [this] { MarkSelected(false); });
  connect(delete_, &QAction::triggered, this, &CNewsListView::DeleteSelected);
  connect(copyAddress_, &QAction::triggered, this, &CNewsListView::CopyAddress);

  menuUnread_ = new QMenu(this);
  menuUnread_->addActions({markRead_, delete_, copyAddress_, openInBrowser_});
  menuRead_ = new QMenu(this);
  menuRead_->addActions({markUnread_, delete_, copyAddress_, openInBrowser_});
  menuSeveral_ = new QMenu(this);
  menuSeveral_->addActions({markRead_, markUnread_, delete_});

  markTimer_.setSingleShot(true);
  connect(&markTimer_, &QTimer::timeout, this, &CNewsListView::OnMarkReadTimer);
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &CNewsListView::OnSelectionChanged);
  connect(table_->horizontalHeader(), &QHeaderView::sectionClicked, this, &CNewsListView::OnHeaderClicked);
  connect(table_, &QWidget::customContextMenuRequested, this, &CNewsListView::ShowContextMenu);

  ReadSettings();
}

CNewsListView::~CNewsListView() {
  loader_.reset();
  if (marker_) marker_->join();
  SaveSettings();
}

void CNewsListView::ReadSettings() {
  Settings settings = Settings::Shared();
  int seconds = settings.ReadInt(kSystemSection, keys::kMarkReadTime, 5);
  markReadMs_ = std::clamp(seconds, 0, 24 * 3600) * 1000;
  int column = settings.ReadInt(kSystemSection, keys::kSortColumn, 0);
  int order = settings.ReadInt(kSystemSection, keys::kSortOrder, 0);
  sortColumn_ = column >= 0 && column <= 3 ? column : 0;
  sortOrder_ = order ? 1 : 0;
  {
    VaultLock lock(vault_.lock);
    vault_.db.SetSort(sortColumn_);
    vault_.db.SetSortOrder(!sortOrder_);  // the header's 0 is the manager's ascending
  }
  ShowSortIndicator();
}

void CNewsListView::SaveSettings() const {
  Settings settings = Settings::Shared();
  for (int i = 0; i < 4; ++i) settings.WriteInt(kSystemSection, kColumnKeys[i], table_->columnWidth(i));
}

void CNewsListView::ShowSortIndicator() {
  table_->horizontalHeader()->setSortIndicator(sortColumn_, sortOrder_ == 0 ? Qt::AscendingOrder
                                                                             : Qt::DescendingOrder);
}

bool CNewsListView::Start(Setup setup, bool ignoreFailure) {
  if (busy_) return false;
  markTimer_.stop();
  loader_.reset();
  model_->Clear();
  lastSelectedId_ = -1;
  lastSetup_ = setup;
  lastIgnoresFailure_ = ignoreFailure;
  busy_ = true;
  emit loadingStarted();
  bool began;
  {
    VaultLock lock(vault_.lock);
    began = setup(vault_.db);
  }
  if (!began && DatabaseGone(0)) QTimer::singleShot(0, this, [this] { emit databaseGone(false); });
  if (!began && !ignoreFailure) {
    busy_ = false;
    emit loadingFinished();
    return false;
  }
  uint64_t generation = ++generation_;
  QPointer<CNewsListView> self(this);
  loader_ = std::make_unique<CNewsListLoaderThread>(vault_, [self, generation](NewsBatch&& batch, bool done) {
    QMetaObject::invokeMethod(
        qApp, [self, generation, batch = std::move(batch), done]() mutable {
          if (self) self->Receive(generation, std::move(batch), done);
        },
        Qt::QueuedConnection);
  });
  return true;
}

void CNewsListView::Receive(uint64_t generation, NewsBatch&& batch, bool done) {
  if (generation != generation_) return;
  model_->Append(std::move(batch));
  if (done) {
    loader_.reset();
    busy_ = false;
    emit loadingFinished();
  }
}

bool CNewsListView::FillAll() {
  // All news: the thread starts whatever the query said (an unopened
  // database simply lists nothing).
  return Start(
      [](CDBManager& db) {
        db.SetPairRestriction({});
        db.ClearSearchKeywords();
        db.SetSearchWithFilter(false);
        db.searchInFound = false;
        return db.BeginNewsListEnum();
      },
      true);
}

bool CNewsListView::FillSearch(const std::vector<std::string>& escapedKeywords, bool withFilter, int32_t filterId,
                               bool inFound) {
  // The in-found state belongs to this search: a later fill of another kind
  // (or this one again, to sort it) does not inherit a state switched since.
  return Start(
      [escapedKeywords, withFilter, filterId, inFound](CDBManager& db) {
        db.searchInFound = inFound;
        db.SetPairRestriction({});
        db.ClearSearchKeywords();
        for (const std::string& k : escapedKeywords)
          if (!k.empty()) db.AddSearchKeyword(k);
        db.SetSearchWithFilter(withFilter);
        if (withFilter) db.SetSearchFilter(filterId);
        return db.BeginNewsListEnum();
      },
      false);
}

bool CNewsListView::FillFilter(int32_t filterId) {
  return Start(
      [filterId](CDBManager& db) {
        db.SetPairRestriction({});
        db.ClearSearchKeywords();
        db.searchInFound = false;
        db.SetSearchWithFilter(true);
        db.SetSearchFilter(filterId);
        return db.BeginNewsListEnum();
      },
      false);
}

bool CNewsListView::FillPairs(std::vector<int64_t> pairs) {
  if (pairs.empty()) return FillAll();
  return Start(
      [pairs = std::move(pairs)](CDBManager& db) {
        db.SetPairRestriction(pairs);
        db.ClearSearchKeywords();
        db.searchInFound = false;
        db.SetSearchWithFilter(false);
        return db.BeginNewsListEnum();
      },
      false);
}

bool CNewsListView::Refill() {
  // A search in found narrows its own result again with the same keywords,
  // which lists the same rows in the new order.
  if (!lastSetup_) return FillAll();
  return Start(lastSetup_, lastIgnoresFailure_);
}

void CNewsListView::Clear() {
  loader_.reset();
  ++generation_;
  if (busy_) {
    busy_ = false;
    emit loadingFinished();
  }
  {
    VaultLock lock(vault_.lock);
    vault_.db.ClearNewsList();
  }
  markTimer_.stop();
  lastSelectedId_ = -1;
  model_->Clear();
}

int CNewsListView::selectedCount() const { return static_cast<int>(table_->selectionModel()->selectedRows().size()); }

void CNewsListView::OnSelectionChanged(const QItemSelection& selected, const QItemSelection&) {
  QModelIndexList rows = table_->selectionModel()->selectedRows();
  if (rows.size() != 1) return;
  int row = rows.first().row();
  bool newlySelected = false;
  for (const QModelIndex& i : selected.indexes())
    if (i.row() == row) newlySelected = true;
  if (!newlySelected) return;
  int32_t id = model_->row(row).id;
  emit itemSelected(id);
  if (id != lastSelectedId_) {
    markTimer_.start(markReadMs_);
    lastSelectedId_ = id;
  }
}

void CNewsListView::OnMarkReadTimer() {
  if (lastSelectedId_ >= 0) MarkRow(lastSelectedId_, true);
}

bool CNewsListView::DatabaseGone(long rc) {
  if (rc == SQLITE_READONLY_DBMOVED) return true;
  VaultLock lock(vault_.lock);
  return vault_.db.ConnectionLost();
}

void CNewsListView::MarkRow(int32_t id, bool read) {
  long rc;
  {
    VaultLock lock(vault_.lock);
    rc = vault_.db.MarkAsRead(id, read);
  }
  if (rc == 0) {
    model_->SetRead(model_->RowOf(id), read);
    emit newsChanged();
  } else if (DatabaseGone(rc)) {
    emit databaseGone(true);
  }
}

void CNewsListView::MarkSelected(bool read) {
  QModelIndexList selected = table_->selectionModel()->selectedRows();
  if (selected.isEmpty()) return;
  if (selected.size() == 1) {
    MarkRow(model_->row(selected.first().row()).id, read);
    return;
  }
  std::vector<int> positions;
  std::vector<int32_t> ids;
  positions.reserve(static_cast<size_t>(selected.size()));
  ids.reserve(static_cast<size_t>(selected.size()));
  for (const QModelIndex& i : selected) {
    positions.push_back(i.row());
    ids.push_back(model_->row(i.row()).id);
  }
  MarkRows(std::move(positions), std::move(ids), read);
}

void CNewsListView::MarkAllRead() {
  // Only the rows still unread: nothing else would change.
  std::vector<int> positions;
  std::vector<int32_t> ids;
  for (int i = 0; i < model_->rowCount(); ++i) {
    if (model_->row(i).read) continue;
    positions.push_back(i);
    ids.push_back(model_->row(i).id);
  }
  if (ids.empty()) return;
  MarkRows(std::move(positions), std::move(ids), true);
}

void CNewsListView::MarkRows(std::vector<int> positions, std::vector<int32_t> ids, bool read) {
  // One transaction on a thread of its own, so the window stays responsive;
  // the rows change when it is done.
  if (marker_) {
    marker_->join();
    marker_.reset();
  }
  QApplication::setOverrideCursor(Qt::BusyCursor);
  QPointer<CNewsListView> self(this);
  Vault& vault = vault_;
  marker_ = std::make_unique<std::thread>([self, &vault, positions = std::move(positions), ids = std::move(ids),
                                           read]() mutable {
    long rc;
    {
      VaultLock lock(vault.lock);
      rc = vault.db.MarkAsRead(ids, read);
    }
    QMetaObject::invokeMethod(
        qApp, [self, positions = std::move(positions), ids = std::move(ids), read, rc]() mutable {
          QApplication::restoreOverrideCursor();
          if (self) self->FinishMarking(std::move(positions), std::move(ids), read, rc);
        },
        Qt::QueuedConnection);
  });
}

void CNewsListView::FinishMarking(std::vector<int> positions, std::vector<int32_t> ids, bool read, long rc) {
  if (marker_) {
    marker_->join();
    marker_.reset();
  }
  // A failure leaves every row as it was.
  if (rc == 0) {
    model_->SetRead(positions, ids, read);
    emit newsChanged();
  } else if (DatabaseGone(rc)) {
    emit databaseGone(true);
  } else {
    QMessageBox::warning(window(), QString(),
                         tr("The news could not be marked (database error %1). Try again later.").arg(rc));
  }
}

bool CNewsListView::eventFilter(QObject* watched, QEvent* event) {
  // Ctrl+A in the grid selects its rows rather than the news text.
  if (watched == table_ && event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::SelectAll)) event->accept();
  }
  // Home and End go to the first and the last row, as in a list, rather than
  // to the first and the last column.
  if (watched == table_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if ((key->key() == Qt::Key_End || key->key() == Qt::Key_Home) &&
        (mods == Qt::NoModifier || mods == Qt::ControlModifier) && model_->rowCount() > 0) {
      const int row = key->key() == Qt::Key_End ? model_->rowCount() - 1 : 0;
      table_->selectionModel()->setCurrentIndex(model_->index(row, 0),
                                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      table_->scrollTo(model_->index(row, 0));
      return true;
    }
  }
  if (watched == table_ && (event->type() == QEvent::Resize || event->type() == QEvent::Show)) ClampColumns();
  return QWidget::eventFilter(watched, event);
}

void CNewsListView::DeleteSelected() {
  QModelIndexList selected = table_->selectionModel()->selectedRows();
  if (selected.isEmpty()) return;
  if (QMessageBox::question(window(), QString(), tr("Are you sure that you want to delete the selected news?"),
                            QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes) {
    table_->setFocus();
    return;
  }
  WaitCursor wait;
  std::vector<int32_t> ids;
  std::vector<int> positions;
  for (const QModelIndex& i : selected) {
    ids.push_back(model_->row(i.row()).id);
    positions.push_back(i.row());
  }
  long rc;
  {
    VaultLock lock(vault_.lock);
    rc = vault_.db.DeleteNewItems(ids);
  }
  emit textClearRequested();
  if (rc == 0) {
    int lowest = *std::min_element(positions.begin(), positions.end());
    markTimer_.stop();
    lastSelectedId_ = -1;
    model_->RemovePositions(std::move(positions));
    emit newsChanged();
    if (model_->rowCount() > 0) {
      int row = std::min(lowest, model_->rowCount() - 1);
      table_->selectionModel()->setCurrentIndex(model_->index(row, 0),
                                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      table_->scrollTo(model_->index(row, 0));
    }
  } else if (DatabaseGone(rc)) {
    emit databaseGone(true);
  } else {
    QMessageBox::warning(window(), QString(),
                         tr("The news could not be deleted (database error %1). Try again later.").arg(rc));
  }
  table_->setFocus();
}

void CNewsListView::ClampColumns() {
  // A width saved in a larger window must not push the other columns out of
  // sight: no column wider than the view leaves room for the other three.
  // Once, when the view first has its size on screen: later the user's own
  // widths stand.
  const int view = table_->viewport()->width();
  if (columnsClamped_ || !table_->isVisible() || view < 6 * kMinColumnWidth) return;
  columnsClamped_ = true;
  const int most = view - 3 * kMinColumnWidth;
  for (int i = 0; i < 4; ++i)
    if (table_->columnWidth(i) > most) table_->setColumnWidth(i, most);
}

void CNewsListView::CopyAddress() {
  if (!info_) return;
  if (QClipboard* clipboard = QApplication::clipboard()) clipboard->setText(info_->linkText());
}

bool CNewsListView::SelectNextUnread(bool forward) {
  int rows = model_->rowCount();
  QModelIndex current = table_->selectionModel()->currentIndex();
  int from = current.isValid() ? current.row() : (forward ? -1 : rows);
  for (int i = from + (forward ? 1 : -1); i >= 0 && i < rows; i += forward ? 1 : -1) {
    if (model_->row(i).read) continue;
    table_->selectionModel()->setCurrentIndex(model_->index(i, 0),
                                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    table_->scrollTo(model_->index(i, 0));
    return true;
  }
  return false;
}

bool CNewsListView::OpenInBrowser() {
  QModelIndex current = table_->selectionModel()->currentIndex();
  if (!current.isValid()) return false;
  QString link;
  {
    VaultLock lock(vault_.lock);
    if (const CNewsInfoItemStruct* info = vault_.db.LoadNewsInfo(model_->row(current.row()).id))
      link = QString::fromStdString(info->link).trimmed();
  }
  QUrl url = QUrl::fromUserInput(link);
  // Only web pages: a stored link must not start a program or open a file.
  if (link.isEmpty() || !url.isValid() || (url.scheme() != "http" && url.scheme() != "https")) {
    QMessageBox::information(window(), QString(),
                             link.isEmpty() ? tr("This news item has no address to open.")
                                            : tr("The address of this news item is not a web page: %1").arg(link));
    return false;
  }
  if (openUrl_ && openUrl_(url)) return true;
  QMessageBox::warning(window(), QString(),
                       tr("No web browser could open %1.\nChoose a default web browser in the desktop's settings, "
                          "or copy the address (News, Copy address) into one.")
                           .arg(url.toString()));
  return false;
}

void CNewsListView::OnHeaderClicked(int column) {
  if (busy_ || model_->rowCount() == 0 || column < 0 || column > 3) {
    ShowSortIndicator();  // the header flips its arrow by itself: put it back
    return;
  }
  {
    VaultLock lock(vault_.lock);
    vault_.db.SetSort(column);
  }
  if (column == sortColumn_) {
    sortOrder_ = sortOrder_ ? 0 : 1;
  } else {
    sortColumn_ = column;
    sortOrder_ = 0;
  }
  ShowSortIndicator();
  Refill();
}

QMenu* CNewsListView::ContextMenuForSelection() const {
  QModelIndexList rows = table_->selectionModel()->selectedRows();
  if (rows.isEmpty()) return nullptr;
  if (rows.size() > 1) return menuSeveral_;
  return model_->row(rows.first().row()).read ? menuRead_ : menuUnread_;
}

void CNewsListView::ShowContextMenu(const QPoint& pos) {
  if (QMenu* menu = ContextMenuForSelection()) menu->exec(table_->viewport()->mapToGlobal(pos));
}

}  // namespace orvo
