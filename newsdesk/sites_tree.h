// CSitesTree: the sites and their categories beside the grid, each with its
// count of unread news. Choosing one lists its news; "All news" lists all.
#pragma once

#include <QTreeWidget>

class QFontMetrics;
class QMenu;

#include <cstdint>
#include <vector>

#include "vault.h"

namespace orvo {

class CSitesTree : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CSitesTree(Vault& vault, QWidget* parent = nullptr);

  // Reads the counts again, keeping the chosen entry.
  void Refresh();
  // Coalesces many changes into one refresh once the event loop runs.
  void RefreshSoon();

  int64_t totalUnread() const { return totalUnread_; }
  // The unread count shown for a site (or, with a category, for that pair); -1
  // when the tree has no such entry.
  int64_t UnreadOf(const QString& site, const QString& category = QString()) const;
  // The item of a site (and category), for tests and the keyboard.
  QTreeWidgetItem* ItemOf(const QString& site, const QString& category = QString()) const;
  // "Name (12)" cut to `width` pixels: the name shortened, the count kept.
  static QString ElideKeepingCount(const QString& text, const QFontMetrics& fm, int width);
  // Whether an entry stands for the user's own pairs only.
  static bool IsOwn(const QTreeWidgetItem* item);
  // The context menu of an entry (Rename and Remove for own sites); null
  // for others.
  QMenu* MenuFor(QTreeWidgetItem* item);
  // Rename and Remove of an own entry, as the menu runs them.
  void RenameOwn(QTreeWidgetItem* item);
  void RemoveOwn(QTreeWidgetItem* item);

 signals:
  // The user chose a site or a category: its pairs' news should be listed.
  void pairsChosen(const std::vector<int64_t>& pairs);
  // The user chose "All news".
  void allChosen();
  // Own sites were renamed or removed.
  void ownSitesChanged();
  // After each refresh: how many site/category pairs the database holds.
  void refreshed(int pairs);
  // A refresh could not read the database (a server gone, say); the pane
  // still shows what it read last.
  void databaseGone();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnActivated(QTreeWidgetItem* item);
  static QString Label(const QString& name, int64_t unread);

  Vault& vault_;
  bool refreshPending_ = false;
  bool filled_ = false;  // a refresh has read the database once
  int64_t totalUnread_ = 0;
};

}  // namespace orvo
