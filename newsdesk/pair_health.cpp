#include "pair_health.h"

#include <QBrush>
#include <QCoreApplication>
#include <QSignalBlocker>
#include <QTreeWidget>

#include <map>
#include <string>
#include <utility>

#include "database.h"

namespace orvo {

int MarkBrokenPairs(Database& db, QTreeWidget* sites) {
  Statement has(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'mask_health'");
  if (!has.Next() || has.Int(0) == 0) return 0;
  // (site id, category id) -> (since, symptom) of the pairs whose latest verdict is broken.
  std::map<std::pair<int64_t, int64_t>, std::pair<std::string, std::string>> broken;
  Statement st(db,
               "SELECT r.fk_news_config, r.fk_news_cat, COALESCE(h.broken_since, ''), h.symptom FROM mask_health h"
               " JOIN site_cat_rel r ON r.id = h.fk_site_cat_rel WHERE h.state = 1 AND h.id ="
               " (SELECT MAX(x.id) FROM mask_health x WHERE x.fk_site_cat_rel = h.fk_site_cat_rel)");
  while (st.Next()) broken[{st.Int(0), st.Int(1)}] = {st.Text(2), st.Text(3)};
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
