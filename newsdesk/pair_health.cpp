#include "pair_health.h"

#include <QBrush>
#include <QCoreApplication>
#include <QSignalBlocker>
#include <QTreeWidget>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "database.h"
#include "store/mask_health.h"

namespace orvo {

int MarkBrokenPairs(Database& db, QTreeWidget* sites) {
  // (site id, category id) -> (since, symptom) of the pairs whose latest verdict is broken.
  std::map<std::pair<int64_t, int64_t>, std::pair<std::string, std::string>> broken;
  std::vector<PairVerdict> verdicts;
  LatestVerdicts(db, &verdicts);
  for (const PairVerdict& p : verdicts)
    if (p.verdict.state == PairHealth::kBroken)
      broken[{p.siteId, p.categoryId}] = {p.verdict.brokenSince, p.verdict.symptom};
  if (broken.empty()) return 0;
  int marked = 0;
  // The check trees take every item change for a click: the marks must not
  // reach them.
  const QSignalBlocker quiet(sites);
  for (int i = 0; i < sites->topLevelItemCount(); ++i) {
    QTreeWidgetItem* site = sites->topLevelItem(i);
    const int64_t siteId = site->data(0, Qt::UserRole).toLongLong();
    for (int k = 0; k < site->childCount(); ++k) {
      QTreeWidgetItem* category = site->child(k);
      auto it = broken.find({siteId, category->data(0, Qt::UserRole).toLongLong()});
      if (it == broken.end()) continue;
      ++marked;
      const QString since = QString::fromStdString(it->second.first);
      category->setText(0, category->text(0) + QCoreApplication::translate("Sites", " (broken since %1)").arg(since));
      category->setForeground(0, QBrush(Qt::red));
      category->setToolTip(0, QCoreApplication::translate("Sites",
                                                          "The masks of this pair stopped working: %1. Its news "
                                                          "come through automatic extraction until the updates "
                                                          "server sends a mended mask.")
                                  .arg(QString::fromStdString(it->second.second)));
    }
  }
  return marked;
}

}  // namespace orvo
