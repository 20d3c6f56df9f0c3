#include "sites_tree.h"

#include <QHeaderView>
#include <QTimer>

#include <map>

namespace orvo {

namespace {
// Item data: the pairs an entry stands for, and its name without the count.
constexpr int kPairsRole = Qt::UserRole;
constexpr int kNameRole = Qt::UserRole + 1;
constexpr int kUnreadRole = Qt::UserRole + 2;
constexpr int kAllRole = Qt::UserRole + 3;

QVariant PairList(const std::vector<int64_t>& pairs) {
  QVariantList list;
  for (int64_t p : pairs) list << QVariant::fromValue<qlonglong>(p);
  return list;
}
}  // namespace

CSitesTree::CSitesTree(Vault& vault, QWidget* parent) : QTreeWidget(parent), vault_(vault) {
  setObjectName("CSitesTree");
  setAccessibleName(tr("Sites and categories"));
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(true);
  setUniformRowHeights(true);
  connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) { OnActivated(item); });
  connect(this, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item, int) { OnActivated(item); });
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
  {
    VaultLock lock(vault_.lock);
    if (vault_.db.IsOpen()) vault_.db.CountNewsPerPair(&counts);
  }
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
  auto closeSite = [&] {
    if (!site) return;
    site->setData(0, kPairsRole, PairList(sitePairs));
    site->setData(0, kUnreadRole, QVariant::fromValue<qlonglong>(siteUnread));
    site->setText(0, Label(site->data(0, kNameRole).toString(), siteUnread));
    if (siteUnread > 0) {
      QFont f = font();
      f.setBold(true);
      site->setFont(0, f);
    }
  };
  for (const CPairCountStruct& c : counts) {
    if (!site || c.siteId != siteId) {
      closeSite();
      site = new QTreeWidgetItem(this);
      site->setData(0, kNameRole, QString::fromStdString(c.siteName));
      siteId = c.siteId;
      sitePairs.clear();
      siteUnread = 0;
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
