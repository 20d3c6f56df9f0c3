#include "check_trees.h"

#include <QCheckBox>
#include <QTreeWidget>

#include <map>

#include "vaultmap/dbmanager.h"

namespace orvo {

namespace {
constexpr int kIdRole = Qt::UserRole;
// The state the item had before the toolkit changed it.
constexpr int kStateRole = Qt::UserRole + 1;

Qt::CheckState Of(int checked, int total) {
  if (checked == total) return Qt::Checked;
  if (checked == 0) return Qt::Unchecked;
  return Qt::PartiallyChecked;
}
}  // namespace

CheckTrees::CheckTrees(QTreeWidget* sites, QTreeWidget* categories, QCheckBox* allSites, QCheckBox* allCategories,
                       QObject* parent)
    : QObject(parent), sites_(sites), categories_(categories), allSites_(allSites), allCategories_(allCategories) {
  for (QTreeWidget* tree : {sites_, categories_}) {
    tree->setHeaderHidden(true);
    connect(tree, &QTreeWidget::itemChanged, this, &CheckTrees::OnItemChanged);
  }
  for (QCheckBox* box : {allSites_, allCategories_}) {
    box->setTristate(true);
    connect(box, &QCheckBox::clicked, this, [this, box] { OnAllClicked(box); });
  }
}

bool CheckTrees::Load(CDBManager& db, int kind, bool useSelection) {
  updating_ = true;
  sites_->clear();
  categories_->clear();
  bool ok = db.BeginNewsCategoryEnum(kind);
  if (ok) {
    std::map<int32_t, QTreeWidgetItem*> siteItems;
    std::map<int32_t, QTreeWidgetItem*> categoryItems;
    while (const CNewsCategoryStruct* c = db.EnumNextNewsCategory()) {
      QTreeWidgetItem*& site = siteItems[c->siteId];
      if (!site) {
        site = new QTreeWidgetItem(sites_, {QString::fromStdString(c->siteName)});
        site->setData(0, kIdRole, c->siteId);
      }
      auto* child = new QTreeWidgetItem(site, {QString::fromStdString(c->categoryName)});
      child->setData(0, kIdRole, c->categoryId);
      SetState(child, useSelection && c->selected ? Qt::Checked : Qt::Unchecked);
      QTreeWidgetItem*& category = categoryItems[c->categoryId];
      if (!category) {
        category = new QTreeWidgetItem(categories_, {QString::fromStdString(c->categoryName)});
        category->setData(0, kIdRole, c->categoryId);
      }
    }
    db.EndNewsCategoryEnum();
    categories_->sortItems(0, Qt::AscendingOrder);
  }
  for (QTreeWidget* tree : {sites_, categories_})
    for (int i = 0; i < tree->topLevelItemCount(); ++i) SetState(tree->topLevelItem(i), Qt::Unchecked);
  updating_ = false;
  Derive();
  return ok;
}

void CheckTrees::SetState(QTreeWidgetItem* item, Qt::CheckState state) {
  bool was = updating_;
  updating_ = true;
  item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
  item->setData(0, kStateRole, static_cast<int>(state));
  item->setCheckState(0, state);
  updating_ = was;
}

void CheckTrees::SetAll(bool checked) {
  for (int i = 0; i < sites_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* site = sites_->topLevelItem(i);
    for (int j = 0; j < site->childCount(); ++j) SetState(site->child(j), checked ? Qt::Checked : Qt::Unchecked);
  }
  Derive();
}

void CheckTrees::CheckOnly(const std::vector<Pair>& pairs) {
  for (int i = 0; i < sites_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* site = sites_->topLevelItem(i);
    int32_t siteId = site->data(0, kIdRole).toInt();
    for (int j = 0; j < site->childCount(); ++j) {
      int32_t categoryId = site->child(j)->data(0, kIdRole).toInt();
      bool on = false;
      for (const Pair& p : pairs)
        if (p.first == categoryId && p.second == siteId) on = true;
      SetState(site->child(j), on ? Qt::Checked : Qt::Unchecked);
    }
  }
  Derive();
}

std::vector<CheckTrees::Pair> CheckTrees::Pairs(bool checked) const {
  std::vector<Pair> out;
  for (int i = 0; i < sites_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* site = sites_->topLevelItem(i);
    for (int j = 0; j < site->childCount(); ++j)
      if ((site->child(j)->checkState(0) == Qt::Checked) == checked)
        out.emplace_back(site->child(j)->data(0, kIdRole).toInt(), site->data(0, kIdRole).toInt());
  }
  return out;
}

bool CheckTrees::AnyChecked() const { return !Pairs(true).empty(); }

int CheckTrees::pairCount() const {
  int n = 0;
  for (int i = 0; i < sites_->topLevelItemCount(); ++i) n += sites_->topLevelItem(i)->childCount();
  return n;
}

void CheckTrees::OnItemChanged(QTreeWidgetItem* item, int column) {
  if (updating_ || column != 0) return;
  Toggle(item);
}

void CheckTrees::Toggle(QTreeWidgetItem* item) {
  // One step on from the state before: unchecked, checked, partial. Anything
  // but checked then counts as unchecked.
  auto before = static_cast<Qt::CheckState>(item->data(0, kStateRole).toInt());
  Qt::CheckState state = before == Qt::Unchecked ? Qt::Checked : Qt::Unchecked;
  int32_t id = item->data(0, kIdRole).toInt();
  if (item->treeWidget() == sites_ && !item->parent()) {
    for (int j = 0; j < item->childCount(); ++j) SetState(item->child(j), state);
    SetState(item, state);
  } else if (item->treeWidget() == sites_) {
    SetState(item, state);
  } else {
    for (int i = 0; i < sites_->topLevelItemCount(); ++i) {
      QTreeWidgetItem* site = sites_->topLevelItem(i);
      for (int j = 0; j < site->childCount(); ++j)
        if (site->child(j)->data(0, kIdRole).toInt() == id) SetState(site->child(j), state);
    }
  }
  Derive();
  emit changed();
}

void CheckTrees::OnAllClicked(QCheckBox* box) {
  // The box was unchecked: check everything. It was checked or partial:
  // uncheck everything.
  bool wasUnchecked = box->property("derived").toInt() == Qt::Unchecked;
  SetAll(wasUnchecked);
  emit changed();
}

void CheckTrees::Derive() {
  std::map<int32_t, std::pair<int, int>> perCategory;  // checked, total
  int checked = 0, total = 0;
  for (int i = 0; i < sites_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* site = sites_->topLevelItem(i);
    int on = 0;
    for (int j = 0; j < site->childCount(); ++j) {
      bool c = site->child(j)->checkState(0) == Qt::Checked;
      on += c ? 1 : 0;
      auto& counts = perCategory[site->child(j)->data(0, kIdRole).toInt()];
      counts.first += c ? 1 : 0;
      counts.second += 1;
    }
    // A site without categories shows checked.
    SetState(site, Of(on, site->childCount()));
    checked += on;
    total += site->childCount();
  }
  for (int i = 0; i < categories_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* category = categories_->topLevelItem(i);
    auto counts = perCategory[category->data(0, kIdRole).toInt()];
    SetState(category, Of(counts.first, counts.second));
  }
  Qt::CheckState all = Of(checked, total);
  for (QCheckBox* box : {allSites_, allCategories_}) {
    box->setCheckState(all);
    box->setProperty("derived", static_cast<int>(all));
  }
}

}  // namespace orvo
