// What one download did, gathered from the run's status texts and the news
// database: new items, the sites they came from, the failures told.
#pragma once

#include <QCoreApplication>
#include <QSet>
#include <QString>

#include <cstdint>

namespace orvo {

class CRunSummary {
  Q_DECLARE_TR_FUNCTIONS(CRunSummary)
 public:
  // A run begins; `lastNewsId` is the highest news id before it.
  void Begin(int64_t lastNewsId);
  bool active() const { return active_; }
  int64_t lastNewsIdBefore() const { return lastId_; }
  // One status text of the gathering engine.
  void Feed(const QString& text);
  // The run has ended with `newItems` news from `newSites` sites stored;
  // `interrupted`: before its end (the engine was lost or stalled).
  void Finish(int64_t newItems, int64_t newSites, bool interrupted = false);
  bool interrupted() const { return interrupted_; }

  int64_t newItems() const { return newItems_; }
  int64_t newSites() const { return newSites_; }
  int sitesVisited() const { return static_cast<int>(sites_.size()); }
  int failures() const { return failures_; }
  // "Download completed: 12 new news items from 3 sites; 1 failure (see the event log)."
  // or "Download interrupted: ..." with what was stored before.
  QString Text() const;

 private:
  bool active_ = false;
  int64_t lastId_ = 0;
  QSet<QString> sites_;
  int failures_ = 0;
  int64_t newItems_ = 0;
  int64_t newSites_ = 0;
  bool interrupted_ = false;
};

}  // namespace orvo
