// The two check trees of sites and categories, with their "All" boxes, shared
// by the filter editor and the Sites/Categories page of the options.
//
// The sites tree holds one root per site with one child per category of that
// site; the categories tree one root per category name. The category children
// under the sites are the real choices; every other state is derived from them.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

class QCheckBox;
class QTreeWidget;
class QTreeWidgetItem;

namespace orvo {

class CDBManager;

class CheckTrees : public QObject {
  Q_OBJECT
 public:
  // (category id, site id): one site/category pair.
  using Pair = std::pair<int32_t, int32_t>;

  CheckTrees(QTreeWidget* sites, QTreeWidget* categories, QCheckBox* allSites, QCheckBox* allCategories,
             QObject* parent = nullptr);

  // Fills both trees from the manager's category enumeration (`kind` as the
  // manager takes it); the caller holds the database lock. With `useSelection`
  // a pair starts checked when it is selected for download. False when the
  // enumeration cannot begin (the trees stay empty).
  bool Load(CDBManager& db, int kind, bool useSelection);

  void SetAll(bool checked);
  // Checks exactly these pairs.
  void CheckOnly(const std::vector<Pair>& pairs);
  std::vector<Pair> Pairs(bool checked) const;
  bool AnyChecked() const;
  int pairCount() const;

  // As a click or the space key would change it.
  void Toggle(QTreeWidgetItem* item);

 signals:
  void changed();

 private:
  void OnItemChanged(QTreeWidgetItem* item, int column);
  void OnAllClicked(QCheckBox* box);
  void SetState(QTreeWidgetItem* item, Qt::CheckState state);
  void Derive();

  QTreeWidget* sites_;
  QTreeWidget* categories_;
  QCheckBox* allSites_;
  QCheckBox* allCategories_;
  bool updating_ = false;
};

}  // namespace orvo
