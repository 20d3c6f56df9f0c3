#include "sites_tree.h"

#include <QCollator>
#include <QHeaderView>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>
#include <map>

#include "database.h"
#include "store/own_sites.h"

namespace orvo {

namespace {
// Item data: the pairs an entry stands for, and its name without the count.
constexpr int kPairsRole = Qt::UserRole;
constexpr int kNameRole = Qt::UserRole + 1;
constexpr int kUnreadRole = Qt::UserRole + 2;
constexpr int kAllRole = Qt::UserRole + 3;
constexpr int kOwnRole = Qt::UserRole + 4;

QVariant PairList(const std::vector<int64_t>& pairs) {
  QVariantList list;
  for (int64_t p : pairs) list << QVariant::fromValue<qlonglong>(p);
  return list;
}
}  // namespace

namespace {
// Runs of digits compare by value, the rest by the locale's collation (the
// collator's own numeric mode needs ICU, which the C locale does not use).
int NaturalCompare(const QCollator& collator, const QString& a, const QString& b) {
  qsizetype i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = a[i].isDigit(), db = b[j].isDigit();
    qsizetype ei = i, ej = j;
    while (ei < a.size() && a[ei].isDigit() == da) ++ei;
    while (ej < b.size() && b[ej].isDigit() == db) ++ej;
    const QStringView pa = QStringView(a).mid(i, ei - i), pb = QStringView(b).mid(j, ej - j);
    int c = 0;
    if (da && db) {
      // By value: without leading zeros, the longer number is the larger.
      QStringView na = pa, nb = pb;
      while (na.size() > 1 && na.front() == u'0') na = na.mid(1);
      while (nb.size() > 1 && nb.front() == u'0') nb = nb.mid(1);
      c = na.size() != nb.size() ? (na.size() < nb.size() ? -1 : 1) : na.compare(nb);
    } else {
      c = collator.compare(pa, pb);
    }
    if (c != 0) return c;
    i = ei;
    j = ej;
  }
  return (a.size() - i > 0) - (b.size() - j > 0);
}

// A name too long for the pane is cut, its unread count "(12)" never.
class CountKeepingDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    int room = option->rect.width() - 8;
    if (!option->icon.isNull()) room -= option->decorationSize.width() + 4;
    option->text = CSitesTree::ElideKeepingCount(option->text, QFontMetrics(option->font), room);
    option->textElideMode = Qt::ElideNone;
  }
};
}  // namespace

CSitesTree::CSitesTree(Vault& vault, QWidget* parent) : QTreeWidget(parent), vault_(vault) {
  setItemDelegate(new CountKeepingDelegate(this));
  setObjectName("CSitesTree");
  setAccessibleName(tr("Sites and categories"));
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(true);
  setUniformRowHeights(true);
  connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) { OnActivated(item); });
  connect(this, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item, int) { OnActivated(item); });
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    if (QMenu* menu = MenuFor(itemAt(at))) {
      menu->exec(viewport()->mapToGlobal(at));
      menu->deleteLater();
    }
  });
}

QString CSitesTree::ElideKeepingCount(const QString& text, const QFontMetrics& fm, int width) {
  const qsizetype cut = text.lastIndexOf(QStringLiteral(" ("));
  if (fm.horizontalAdvance(text) <= width) return text;
  if (cut <= 0 || !text.endsWith(')')) return fm.elidedText(text, Qt::ElideRight, width);
  const QString count = text.mid(cut);
  return fm.elidedText(text.left(cut), Qt::ElideRight, std::max(0, width - fm.horizontalAdvance(count))) + count;
}

void CSitesTree::keyPressEvent(QKeyEvent* event) {
  // The arrow keys (and Page Up/Down, Home, End) choose as a click does;
  // only moving into the pane does not.
  QTreeWidgetItem* before = currentItem();
  QTreeWidget::keyPressEvent(event);
  if (currentItem() && currentItem() != before) OnActivated(currentItem());
}

QString CSitesTree::Label(const QString& name, int64_t unread) {
  return unread > 0 ? tr("%1 (%2)").arg(name).arg(unread) : name;
}

void CSitesTree::RefreshSoon() {
  if (refreshPending_) return;
  refreshPending_ = true;
  QTimer::singleShot(0, this, [this] {
    refreshPending_ = false;
    Refresh();
  });
}

void CSitesTree::Refresh() {
  std::vector<CPairCountStruct> counts;
  std::map<int64_t, QString> own;  // own pair -> its feed
  bool read;
  {
    VaultLock lock(vault_.lock);
    read = vault_.db.IsOpen() && vault_.db.CountNewsPerPair(&counts);
    if (Database* db = vault_.db.database(); read && db)
      for (const OwnSite& o : ListOwnSites(*db, true)) own[o.pair] = QString::fromStdString(o.address);
  }
  // An empty tree would tell the user they have no sites yet.
  if (!read && filled_) {
    emit databaseGone();
    return;
  }
  filled_ = filled_ || read;
  // In the user's order: their locale's, with numbers by value ("Site 2"
  // before "Site 10"); a site's pairs stay together.
  QCollator collator;
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::stable_sort(counts.begin(), counts.end(), [&](const CPairCountStruct& a, const CPairCountStruct& b) {
    if (a.siteId != b.siteId) {
      const int bySite =
          NaturalCompare(collator, QString::fromStdString(a.siteName), QString::fromStdString(b.siteName));
      return bySite != 0 ? bySite < 0 : a.siteId < b.siteId;
    }
    return NaturalCompare(collator, QString::fromStdString(a.categoryName), QString::fromStdString(b.categoryName)) <
           0;
  });
  // What was chosen and which sites were open, to keep them so.
  QString chosenSite, chosenCategory;
  bool allChosen = false;
  if (QTreeWidgetItem* cur = currentItem()) {
    allChosen = cur->data(0, kAllRole).toBool();
    if (cur->parent()) {
      chosenSite = cur->parent()->data(0, kNameRole).toString();
      chosenCategory = cur->data(0, kNameRole).toString();
    } else {
      chosenSite = cur->data(0, kNameRole).toString();
    }
  }
  std::map<QString, bool> expanded;
  for (int i = 0; i < topLevelItemCount(); ++i)
    expanded[topLevelItem(i)->data(0, kNameRole).toString()] = topLevelItem(i)->isExpanded();

  blockSignals(true);
  clear();
  auto* all = new QTreeWidgetItem(this);
  all->setData(0, kAllRole, true);
  all->setData(0, kNameRole, tr("All news"));
  totalUnread_ = 0;
  QTreeWidgetItem* site = nullptr;
  int32_t siteId = -1;
  std::vector<int64_t> sitePairs;
  int64_t siteUnread = 0;
  bool siteOwn = true;
  auto closeSite = [&] {
    if (!site) return;
    site->setData(0, kOwnRole, siteOwn);
    if (siteOwn) site->setToolTip(0, tr("Your own site"));
    site->setData(0, kPairsRole, PairList(sitePairs));
    site->setData(0, kUnreadRole, QVariant::fromValue<qlonglong>(siteUnread));
    site->setText(0, Label(site->data(0, kNameRole).toString(), siteUnread));
    QFont f = font();
    f.setBold(siteUnread > 0);
    f.setItalic(siteOwn);
    site->setFont(0, f);
  };
  for (const CPairCountStruct& c : counts) {
    if (!site || c.siteId != siteId) {
      closeSite();
      site = new QTreeWidgetItem(this);
      site->setData(0, kNameRole, QString::fromStdString(c.siteName));
      siteId = c.siteId;
      sitePairs.clear();
      siteUnread = 0;
      siteOwn = true;
    }
    sitePairs.push_back(c.pairId);
    siteUnread += c.unread;
    totalUnread_ += c.unread;
    auto* category = new QTreeWidgetItem(site);
    QString name = QString::fromStdString(c.categoryName);
    category->setData(0, kNameRole, name);
    category->setData(0, kPairsRole, PairList({c.pairId}));
    category->setData(0, kUnreadRole, QVariant::fromValue<qlonglong>(c.unread));
    category->setText(0, Label(name, c.unread));
    category->setToolTip(0, tr("%1 of %2 news unread").arg(c.unread).arg(c.total));
    auto o = own.find(c.pairId);
    siteOwn = siteOwn && o != own.end();
    category->setData(0, kOwnRole, o != own.end());
    if (o != own.end()) {
      // Own pairs read in italics, with their feed in the tooltip.
      QFont f = category->font(0);
      f.setItalic(true);
      category->setFont(0, f);
      category->setToolTip(
          0, tr("Your own site, read from %1; %2 of %3 news unread").arg(o->second).arg(c.unread).arg(c.total));
    }
  }
  closeSite();
  all->setData(0, kUnreadRole, QVariant::fromValue<qlonglong>(totalUnread_));
  all->setText(0, Label(tr("All news"), totalUnread_));

  for (int i = 1; i < topLevelItemCount(); ++i) {
    auto it = expanded.find(topLevelItem(i)->data(0, kNameRole).toString());
    if (it != expanded.end() && it->second) topLevelItem(i)->setExpanded(true);
  }
  QTreeWidgetItem* again = allChosen ? all : (chosenSite.isEmpty() ? nullptr : ItemOf(chosenSite, chosenCategory));
  if (again) setCurrentItem(again);
  blockSignals(false);
  emit refreshed(static_cast<int>(counts.size()));
}

bool CSitesTree::IsOwn(const QTreeWidgetItem* item) { return item && item->data(0, kOwnRole).toBool(); }

QMenu* CSitesTree::MenuFor(QTreeWidgetItem* item) {
  if (!IsOwn(item)) return nullptr;
  auto* menu = new QMenu(this);
  menu->addAction(tr("&Rename..."), this, [this, item] { RenameOwn(item); });
  menu->addAction(tr("Re&move..."), this, [this, item] { RemoveOwn(item); });
  return menu;
}

void CSitesTree::RenameOwn(QTreeWidgetItem* item) {
  if (!IsOwn(item)) return;
  const bool category = item->parent() != nullptr;
  const QString old = item->data(0, kNameRole).toString();
  bool ok = false;
  const QString name = QInputDialog::getText(this, category ? tr("Rename the category") : tr("Rename the site"),
                                             tr("New name:"), QLineEdit::Normal, old, &ok)
                           .trimmed();
  if (!ok || name.isEmpty() || name == old) return;
  const QVariantList pairs = item->data(0, kPairsRole).toList();
  std::string why;
  bool done = false;
  {
    VaultLock lock(vault_.lock);
    if (Database* db = vault_.db.database()) {
      for (const OwnSite& o : ListOwnSites(*db)) {
        if (pairs.isEmpty() || o.pair != pairs.front().toLongLong()) continue;
        done = category ? RenameOwnSite(*db, o, o.site, name.toStdString(), &why)
                        : RenameOwnSite(*db, o, name.toStdString(), std::string(), &why);
      }
    }
  }
  if (!done) {
    QMessageBox::warning(this, tr("Rename"), tr("Can not rename %1: %2.").arg(old, QString::fromStdString(why)));
    return;
  }
  Refresh();
  emit ownSitesChanged();
}

void CSitesTree::RemoveOwn(QTreeWidgetItem* item) {
  if (!IsOwn(item)) return;
  QString name = item->data(0, kNameRole).toString();
  if (item->parent()) name = item->parent()->data(0, kNameRole).toString() + " / " + name;
  QMessageBox box(QMessageBox::Question, tr("Remove"),
                  tr("Remove your own site %1? It is no longer downloaded. Its news stay until they are deleted, "
                     "unless you remove them with it.")
                      .arg(name),
                  QMessageBox::Cancel, this);
  QPushButton* keep = box.addButton(tr("&Remove"), QMessageBox::AcceptRole);
  QPushButton* withNews = box.addButton(tr("Remove with its &news"), QMessageBox::DestructiveRole);
  box.exec();
  if (box.clickedButton() != keep && box.clickedButton() != withNews) return;
  {
    VaultLock lock(vault_.lock);
    if (Database* db = vault_.db.database())
      for (const QVariant& p : item->data(0, kPairsRole).toList())
        RemoveOwnSite(*db, p.toLongLong(), box.clickedButton() == withNews);
  }
  Refresh();
  emit ownSitesChanged();
}

QTreeWidgetItem* CSitesTree::ItemOf(const QString& site, const QString& category) const {
  for (int i = 1; i < topLevelItemCount(); ++i) {
    QTreeWidgetItem* s = topLevelItem(i);
    if (s->data(0, kNameRole).toString() != site) continue;
    if (category.isEmpty()) return s;
    for (int j = 0; j < s->childCount(); ++j)
      if (s->child(j)->data(0, kNameRole).toString() == category) return s->child(j);
  }
  return nullptr;
}

int64_t CSitesTree::UnreadOf(const QString& site, const QString& category) const {
  QTreeWidgetItem* item = ItemOf(site, category);
  return item ? item->data(0, kUnreadRole).toLongLong() : -1;
}

void CSitesTree::OnActivated(QTreeWidgetItem* item) {
  if (!item) return;
  if (item->data(0, kAllRole).toBool()) {
    emit allChosen();
    return;
  }
  std::vector<int64_t> pairs;
  for (const QVariant& v : item->data(0, kPairsRole).toList()) pairs.push_back(v.toLongLong());
  if (!pairs.empty()) emit pairsChosen(pairs);
}

}  // namespace orvo
