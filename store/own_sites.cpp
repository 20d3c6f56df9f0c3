#include "own_sites.h"

#include <cstdio>

#include "database.h"
#include "schema.h"
#include "text.h"

namespace orvo {

namespace {

constexpr const char* kSelectOwn =
    "SELECT o.fk_site_cat_rel, ns.site_name, nc.name, o.address, o.kind, o.page_url, o.added, o.feed_title,"
    " o.etag, o.last_modified, rel.is_selected FROM own_site o"
    " JOIN site_cat_rel rel ON rel.id = o.fk_site_cat_rel"
    " JOIN news_config ns ON ns.id = rel.fk_news_config JOIN news_cat nc ON nc.id = rel.fk_news_cat ";

OwnSite ReadRow(const Statement& st) {
  OwnSite s;
  s.pair = st.Int(0);
  s.site = st.Text(1);
  s.category = st.Text(2);
  s.address = st.Text(3);
  s.kind = st.Int(4) == 1 ? OwnKind::kPage : OwnKind::kFeed;
  s.pageUrl = st.Text(5);
  s.added = st.Text(6);
  s.feedTitle = st.Text(7);
  s.etag = st.Text(8);
  s.lastModified = st.Text(9);
  s.selected = st.Int(10) != 0;
  return s;
}

std::vector<OwnSite> Query(Database& db, const std::string& where, const std::string& bind = {}) {
  UpgradeSchema(db);
  std::vector<OwnSite> out;
  Statement st(db, std::string(kSelectOwn) + where + " ORDER BY ns.site_name, nc.name, o.fk_site_cat_rel");
  if (!bind.empty()) st.Bind(1, bind);
  while (st.Next()) out.push_back(ReadRow(st));
  return out;
}

// The id of the own site (or own category) of that name; 0 when none.
int64_t OwnNameId(Database& db, bool site, const std::string& name) {
  Statement st(db,
               site ? "SELECT ns.id FROM news_config ns WHERE ns.site_name = ? AND ns.id IN (SELECT rel.fk_news_config"
                      " FROM site_cat_rel rel JOIN own_site o ON o.fk_site_cat_rel = rel.id) ORDER BY ns.id LIMIT 1"
                    : "SELECT nc.id FROM news_cat nc WHERE nc.name = ? AND nc.id IN (SELECT rel.fk_news_cat"
                      " FROM site_cat_rel rel JOIN own_site o ON o.fk_site_cat_rel = rel.id) ORDER BY nc.id LIMIT 1");
  st.Bind(1, name);
  return st.Next() ? st.Int(0) : 0;
}

// A savepoint inside the caller's transaction, or a transaction of its own:
// PostgreSQL knows savepoints only within one.
class Savepoint {
 public:
  explicit Savepoint(Database& db)
      : db_(db), own_(!db.InTransaction()), status_(own_ ? db.Begin() : db.Exec("SAVEPOINT own_site_add")) {}
  ~Savepoint() {
    if (status_ != 0 || done_) return;
    if (own_) db_.Rollback();
    else db_.Exec("ROLLBACK TO own_site_add; RELEASE own_site_add");
  }
  int status() const { return status_; }
  int Commit() {
    done_ = true;
    if (status_ != 0) return status_;
    return own_ ? db_.Commit() : db_.Exec("RELEASE own_site_add");
  }

 private:
  Database& db_;
  const bool own_;
  int status_;
  bool done_ = false;
};

int64_t Insert(Database& db, const char* sql, const std::string& name) {
  Statement st(db, sql);
  st.BindText(1, name, kTextColumn);
  return st.Execute() == 0 ? db.LastInsertId() : 0;
}

}  // namespace

const char* const kOwnPairIds = "(SELECT fk_site_cat_rel FROM own_site)";
const char* const kOwnSiteIds =
    "(SELECT rel.fk_news_config FROM site_cat_rel rel JOIN own_site o ON o.fk_site_cat_rel = rel.id)";
const char* const kOwnCategoryIds =
    "(SELECT rel.fk_news_cat FROM site_cat_rel rel JOIN own_site o ON o.fk_site_cat_rel = rel.id)";

bool OwnNameTaken(Database& db, const std::string& site, const std::string& category) {
  Statement st(db,
               "SELECT 1 FROM own_site o JOIN site_cat_rel rel ON rel.id = o.fk_site_cat_rel"
               " JOIN news_config ns ON ns.id = rel.fk_news_config JOIN news_cat nc ON nc.id = rel.fk_news_cat"
               " WHERE o.removed = 0 AND ns.site_name = ? AND nc.name = ? LIMIT 1");
  st.Bind(1, site).Bind(2, category);
  return st.Next();
}

bool AddOwnSite(Database& db, OwnSite& site, std::time_t now, std::string* why) {
  UpgradeSchema(db);
  site.site = FitBuffer(Trim(site.site), kTextColumn);
  site.category = FitBuffer(Trim(site.category), kTextColumn);
  if (site.site.empty() || site.category.empty()) {
    *why = "a site and a category need a name";
    return false;
  }
  {
    Statement st(db, std::string(kSelectOwn) + "WHERE o.address = ?");
    st.Bind(1, site.address);
    if (st.Next()) {
      OwnSite old = ReadRow(st);
      Statement removed(db, "SELECT removed FROM own_site WHERE fk_site_cat_rel = ?");
      removed.Bind(1, old.pair);
      if (!removed.Next() || removed.Int(0) == 0) {
        *why = "this feed is there already, as " + old.site + "/" + old.category;
        return false;
      }
      // Its news were kept when it was removed: it comes back with them.
      Statement back(db, "UPDATE own_site SET removed = 0 WHERE fk_site_cat_rel = ?");
      back.Bind(1, old.pair);
      Statement sel(db, "UPDATE site_cat_rel SET is_selected = 1 WHERE id = ?");
      sel.Bind(1, old.pair);
      if (back.Execute() != 0 || sel.Execute() != 0) {
        *why = db.ErrorMessage();
        return false;
      }
      site = old;
      site.selected = true;
      return true;
    }
  }
  if (OwnNameTaken(db, site.site, site.category)) {
    *why = site.site + "/" + site.category + " is taken by another feed; choose another name with --site or --category";
    return false;
  }
  // A savepoint, so that an import of many adds them in its one transaction.
  Savepoint tx(db);
  if (tx.status() != 0) {
    *why = db.ErrorMessage();
    return false;
  }
  int64_t siteId = OwnNameId(db, true, site.site);
  if (siteId == 0) siteId = Insert(db, "INSERT INTO news_config (site_name) VALUES (?)", site.site);
  int64_t catId = OwnNameId(db, false, site.category);
  if (catId == 0) catId = Insert(db, "INSERT INTO news_cat (name) VALUES (?)", site.category);
  if (siteId == 0 || catId == 0) {
    *why = db.ErrorMessage();
    return false;
  }
  Statement rel(db, "INSERT INTO site_cat_rel (is_selected, fk_news_cat, fk_news_config) VALUES (1, ?, ?)");
  rel.Bind(1, catId).Bind(2, siteId);
  if (rel.Execute() != 0) {
    *why = db.ErrorMessage();
    return false;
  }
  site.pair = db.LastInsertId();
  site.added = FormatDbTime(now);
  Statement own(db,
                "INSERT INTO own_site (fk_site_cat_rel, address, kind, page_url, added, feed_title) "
                "VALUES (?, ?, ?, ?, ?, ?)");
  own.Bind(1, site.pair).Bind(2, site.address).Bind(3, static_cast<int>(site.kind));
  own.Bind(4, site.pageUrl).Bind(5, site.added).BindText(6, site.feedTitle, kTextColumn);
  if (own.Execute() != 0 || tx.Commit() != 0) {
    *why = db.ErrorMessage();
    return false;
  }
  site.selected = true;
  return true;
}

std::vector<OwnSite> ListOwnSites(Database& db, bool withRemoved) {
  return Query(db, withRemoved ? "" : "WHERE o.removed = 0");
}

std::vector<OwnSite> OwnPlanSites(Database& db) { return Query(db, "WHERE o.removed = 0 AND rel.is_selected <> 0"); }

bool IsOwnAddress(Database& db, const std::string& address) {
  return !Query(db, "WHERE o.removed = 0 AND o.address = ?", address).empty();
}

std::vector<OwnSite> FindOwnSites(Database& db, const std::string& name) {
  const std::vector<OwnSite> all = ListOwnSites(db);
  for (bool exact : {true, false}) {
    auto same = [&](const std::string& a, const std::string& b) { return exact ? a == b : EqualsNoCase(a, b); };
    std::vector<OwnSite> found;
    for (const OwnSite& s : all)
      if (same(s.site + "/" + s.category, name) || same(s.site, name)) found.push_back(s);
    if (!found.empty()) return found;
  }
  return {};
}

int RemoveOwnSite(Database& db, int64_t pair, bool withNews) {
  Transaction tx(db);
  if (tx.status() != 0) return tx.status();
  int rc = 0;
  std::vector<std::string> files;
  if (withNews) {
    {
      Statement images(db,
                       "SELECT ig.image_path FROM newsimages ig JOIN newsitem ni ON ni.id = ig.fk_newsitem "
                       "WHERE ni.fk_site_cat_rel = ?");
      images.Bind(1, pair);
      while (images.Next()) files.push_back(images.Text(0));
    }
    Statement st(db, "DELETE FROM site_cat_rel WHERE id = ?");
    st.Bind(1, pair);
    rc = st.Execute();
    if (rc == 0) {
      // The site or category goes with its last pair.
      rc = db.Exec(
          "DELETE FROM news_cat WHERE NOT EXISTS (SELECT 1 FROM site_cat_rel r WHERE r.fk_news_cat = news_cat.id);"
          "DELETE FROM news_config WHERE NOT EXISTS (SELECT 1 FROM site_cat_rel r WHERE r.fk_news_config = "
          "news_config.id);");
    }
  } else {
    Statement st(db, "UPDATE own_site SET removed = 1 WHERE fk_site_cat_rel = ?");
    st.Bind(1, pair);
    Statement off(db, "UPDATE site_cat_rel SET is_selected = 0 WHERE id = ?");
    off.Bind(1, pair);
    rc = st.Execute();
    if (rc == 0) rc = off.Execute();
  }
  if (rc == 0) rc = tx.Commit();
  // The pictures of the deleted news go once the rows are surely gone.
  if (rc == 0)
    for (const std::string& f : files) std::remove(f.c_str());
  return rc;
}

bool RenameOwnSite(Database& db, const OwnSite& pair, const std::string& newSite, const std::string& newCategory,
                   std::string* why) {
  const std::string site = FitBuffer(Trim(newSite), kTextColumn);
  const std::string category = FitBuffer(Trim(newCategory), kTextColumn);
  if (site.empty()) {
    *why = "the new name is empty";
    return false;
  }
  for (const OwnSite& other : ListOwnSites(db))
    if (other.pair != pair.pair && other.site == site &&
        other.category == (category.empty() ? pair.category : category) &&
        (other.site != pair.site || !category.empty())) {
      *why = site + "/" + other.category + " exists already";
      return false;
    }
  Transaction tx(db);
  int rc = tx.status();
  if (rc == 0 && site != pair.site) {
    // Its own row: a catalogue site of the same name is another row.
    Statement st(
        db, "UPDATE news_config SET site_name = ? WHERE id = (SELECT fk_news_config FROM site_cat_rel WHERE id = ?)");
    st.Bind(1, site).Bind(2, pair.pair);
    rc = st.Execute();
  }
  if (rc == 0 && !category.empty() && category != pair.category) {
    // Other own pairs may share the category row: this pair gets one of its own.
    int64_t catId = Insert(db, "INSERT INTO news_cat (name) VALUES (?)", category);
    Statement st(db, "UPDATE site_cat_rel SET fk_news_cat = ? WHERE id = ?");
    st.Bind(1, catId).Bind(2, pair.pair);
    rc = catId == 0 ? SQLITE_ERROR : st.Execute();
    if (rc == 0)
      rc = db.Exec(
          "DELETE FROM news_cat WHERE NOT EXISTS (SELECT 1 FROM site_cat_rel r WHERE r.fk_news_cat = news_cat.id)");
  }
  if (rc == 0) rc = tx.Commit();
  if (rc != 0) *why = db.ErrorMessage();
  return rc == 0;
}

int SaveFeedAnswer(Database& db, int64_t pair, const std::string& etag, const std::string& lastModified,
                   const std::string& title) {
  Statement st(db,
               "UPDATE own_site SET etag = ?, last_modified = ?, feed_title = CASE WHEN ? <> '' THEN ? ELSE "
               "feed_title END WHERE fk_site_cat_rel = ?");
  st.BindText(1, etag, kTextColumn).BindText(2, lastModified, kTextColumn);
  st.BindText(3, title, kTextColumn).BindText(4, title, kTextColumn).Bind(5, pair);
  return st.Execute();
}

int DeleteSpentOwnPairs(Database& db) {
  UpgradeSchema(db);
  return db.Exec(
      "DELETE FROM site_cat_rel WHERE id IN (SELECT fk_site_cat_rel FROM own_site WHERE removed <> 0)"
      " AND NOT EXISTS (SELECT 1 FROM newsitem n WHERE n.fk_site_cat_rel = site_cat_rel.id AND n.is_del = 0)");
}

}  // namespace orvo
