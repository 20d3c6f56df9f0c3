#include "cleanup.h"

#include "store/images.h"

#include <cstdio>
#include <vector>

#include "database.h"
#include "eventlog.h"
#include "own_sites.h"
#include "settings.h"
#include "text.h"

namespace orvo {

namespace {

constexpr const char* kCannotOpen = "Can not open news database. Please check you settings.";

constexpr int kDeleteBatch = 1000;

void LogDeleteFailure(int code, const std::string& sql) {
  WriteEventLog("Can not delete news items " + std::to_string(code) + " SQL : \n" + sql);
}

// A negative age puts the cut-off in the future and a huge one past what
// the calendar holds: either would delete every item, and so would a value
// that is not a number read as 0. Such a value is logged and this run's
// clean-up is left out. A missing key is 0.
bool CleanupSetting(const Settings& settings, const char* key, int max, int* out) {
  *out = 0;
  std::string text;
  if (settings.ReadIntStrict(kCleanupSection, key, out, &text) == Settings::IntRead::kInvalid) {
    WriteEventLog(std::string("Cleanup setting ") + key + "=" + text + " is not a whole number; old news are not "
                  "deleted this time. Set the age again on the reader's Options page (or orvo config Cleanup " +
                  key + " NUMBER).");
    return false;
  }
  if (*out >= 0 && *out <= max) return true;
  WriteEventLog(std::string("Cleanup setting ") + key + "=" + std::to_string(*out) + " is out of range (0 to " +
                std::to_string(max) + "); old news are not deleted this time.");
  return false;
}

}  // namespace

std::string CleanupCutoff(std::time_t now, int month, int day, int hour, int minute) {
  const long days = static_cast<long>(month * 30.5 + day);
  std::tm tm{};
  localtime_r(&now, &tm);
  // Calendar arithmetic on the local clock, as a date value would do it:
  // mktime normalises the fields, a day stays a day across DST changes.
  tm.tm_mday -= static_cast<int>(days);
  tm.tm_hour -= hour;
  tm.tm_min -= minute;
  tm.tm_sec = 0;
  tm.tm_isdst = -1;
  std::time_t cut = std::mktime(&tm);
  localtime_r(&cut, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:00", &tm);
  return buf;
}

void DeleteOldNews(const Settings& settings, const StatusSink& status, std::time_t now) {
  status("The old news checking and removing...");
  const int enabled = settings.ReadIntChecked(kCleanupSection, "DeleteOlder", 0);
  if (OpenDatabase() != 0) {
    WriteEventLog(kCannotOpen);
    return;
  }
  if (enabled == 0) return;
  // At most a hundred years in each unit.
  int month = 0, day = 0, hour = 0, minute = 0;
  if (!CleanupSetting(settings, "Month", 1200, &month) || !CleanupSetting(settings, "Day", 36525, &day) ||
      !CleanupSetting(settings, "Hour", 876600, &hour) || !CleanupSetting(settings, "Minute", 52596000, &minute))
    return;
  const std::string cutoff = CleanupCutoff(now, month, day, hour, minute);
  Database& db = *ProcessDatabase();

  // In batches, each its own transaction: a download or the reader waiting
  // for the database never waits for the whole clean-up. The rows go first
  // and the files only once that is committed: a failure or a kill between
  // leaves at most files without rows (the start-up sweep removes those),
  // never rows whose pictures are gone.
  // Oldest first, through the date index: each batch starts where the last
  // one ended instead of scanning the table from its first row again.
  const std::string batch = "SELECT id FROM newsitem WHERE publication_date < ? ORDER BY publication_date, id LIMIT " +
                            std::to_string(kDeleteBatch);
  Statement images(db, "SELECT image_path FROM newsimages WHERE fk_newsitem IN (" + batch + ")");
  Statement del(db, "DELETE FROM newsitem WHERE id IN (" + batch + ")");
  for (;;) {
    Transaction tx(db);
    if (tx.status() != 0) {
      LogDeleteFailure(tx.status(), del.sql());
      WriteEventLog("Delete error 126");
      return;
    }
    std::vector<std::string> files;
    images.Reset();
    images.Bind(1, cutoff);
    // On PostgreSQL the bytes go with their rows; a row names no file there.
    while (!PicturesInDatabase(db) && images.Next()) files.push_back(images.Text(0));
    if (images.error() != 0) {
      WriteEventLog("Delete error 125");
      return;
    }
    del.Reset();
    del.Bind(1, cutoff);
    int rc = del.Execute();
    const int deleted = db.Changes();
    if (rc == 0) rc = tx.Commit();
    if (rc != 0) {
      LogDeleteFailure(rc, del.sql());
      WriteEventLog("Delete error 126");
      return;
    }
    for (const auto& path : files) {
      if (std::remove(path.c_str()) != 0) WriteEventLog("Can not delete image : " + path);
    }
    if (deleted < kDeleteBatch) break;
  }
}

void DeleteOrphanCatalogue(const StatusSink& status) {
  if (OpenDatabase() != 0) {
    WriteEventLog(kCannotOpen);
    return;
  }
  status("Updating news database");
  Database& db = *ProcessDatabase();
  // Per pair, through the indexes on the fk_ columns: not a walk over all news.
  const char* kOrphanPairs =
      "SELECT r.id FROM site_cat_rel r"
      " WHERE EXISTS (SELECT 1 FROM news_masks m WHERE m.fk_site_cat_rel = r.id AND m.mask_version = 0)"
      " AND NOT EXISTS (SELECT 1 FROM newsitem n WHERE n.fk_site_cat_rel = r.id AND n.is_del = 0)";

  // The user-deleted items of a pair go with it; so do their image files.
  std::vector<std::string> files;
  {
    Statement st(db, std::string("SELECT ig.image_path FROM newsimages ig, newsitem ni"
                                 " WHERE ig.fk_newsitem = ni.id AND ni.fk_site_cat_rel IN (") +
                         kOrphanPairs + ")");
    while (!PicturesInDatabase(db) && st.Next()) files.push_back(st.Text(0));
  }
  const std::string statements[] = {
      std::string("DELETE FROM site_cat_rel WHERE id IN (") + kOrphanPairs + ")",
      "DELETE FROM news_cat WHERE NOT EXISTS (SELECT 1 FROM site_cat_rel r WHERE r.fk_news_cat = news_cat.id)",
      "DELETE FROM news_config WHERE NOT EXISTS (SELECT 1 FROM site_cat_rel r"
      " WHERE r.fk_news_config = news_config.id)",
  };
  for (size_t i = 0; i < 3; ++i) {
    Statement st(db, statements[i]);
    int rc = st.Execute();
    if (rc != 0) {
      LogDeleteFailure(rc, st.sql());
    } else if (i == 0) {
      for (const auto& path : files) std::remove(path.c_str());
    }
  }
  // Own pairs removed with their news kept go once the news have.
  if (int rc = DeleteSpentOwnPairs(db); rc != 0) LogDeleteFailure(rc, "DELETE FROM site_cat_rel (own pairs)");
}

}  // namespace orvo
