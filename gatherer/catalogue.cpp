#include "catalogue.h"

#include <cstdio>

#include "browser.h"
#include "database.h"
#include "eventlog.h"
#include "http_client.h"
#include "like.h"
#include "text.h"

namespace orvo {

namespace {

std::string ToHex(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

struct PairState {
  bool siteKnown = false;
  int64_t siteId = 0;
  bool pairKnown = false;
  bool selected = false;
};

PairState LookUpPair(Database& db, const CataloguePair& pair) {
  PairState s;
  Statement site(db, "SELECT id FROM news_config WHERE site_name = ?");
  site.Bind(1, pair.site);
  if (site.Next()) {
    s.siteKnown = true;
    s.siteId = site.Int(0);
  }
  Statement rel(db,
                "SELECT rel.is_selected FROM news_cat nc, site_cat_rel rel, news_config ns"
                " WHERE nc.name = ? AND ns.site_name = ? AND rel.fk_news_cat = nc.id"
                " AND rel.fk_news_config = ns.id");
  rel.Bind(1, pair.category).Bind(2, pair.site);
  if (rel.Next()) {
    s.pairKnown = true;
    s.selected = rel.Int(0) != 0;
  }
  return s;
}

// Creates the pair with two empty masks in one transaction. Returns false
// when any step fails (everything is rolled back); *selected tells how the
// pair was created.
bool CreatePair(Database& db, const CataloguePair& pair, const PairState& state, bool autoCheck, bool* selected) {
  Transaction tx(db);
  if (tx.status() != 0) return false;
  int64_t siteId = state.siteId;
  if (!state.siteKnown) {
    Statement ins(db, "INSERT INTO news_config (site_name) VALUES(?)");
    ins.BindText(1, pair.site, kTextColumn);
    if (ins.Execute() != 0) return false;
    siteId = db.LastInsertId();
  }
  int64_t catId = 0;
  {
    Statement cat(db, "SELECT id FROM news_cat WHERE name = ?");
    cat.Bind(1, pair.category);
    if (cat.Next()) {
      catId = cat.Int(0);
    } else {
      if (cat.error() != 0) return false;
      Statement ins(db, "INSERT INTO news_cat (name) VALUES(?)");
      ins.BindText(1, pair.category, kTextColumn);
      if (ins.Execute() != 0) return false;
      catId = db.LastInsertId();
    }
  }
  bool select = false;
  if (autoCheck) {
    Statement sel(db,
                  "SELECT sc.id FROM site_cat_rel sc INNER JOIN news_cat c ON sc.fk_news_cat = c.id"
                  " WHERE sc.is_selected = 1 AND c.name LIKE ? LIMIT 1");
    sel.Bind(1, LikeEscape(pair.category));
    select = sel.Next();
  }
  Statement rel(db, "INSERT INTO site_cat_rel (is_selected, fk_news_cat, fk_news_config) VALUES(?,?,?)");
  rel.Bind(1, select ? 1 : 0).Bind(2, catId).Bind(3, siteId);
  if (rel.Execute() != 0) return false;
  const int64_t pairId = db.LastInsertId();
  if (select) {
    // The new pair joins every filter that holds a pair of a category of that name.
    Statement links(db,
                    "INSERT INTO filter_site_cat_rel (fk_filter, fk_site_cat_rel)"
                    " SELECT DISTINCT fr.fk_filter, ?1 FROM filter_site_cat_rel fr"
                    " INNER JOIN site_cat_rel sc ON fr.fk_site_cat_rel = sc.id"
                    " INNER JOIN news_config s ON sc.fk_news_config = s.id"
                    " INNER JOIN news_cat c ON sc.fk_news_cat = c.id"
                    " WHERE sc.id <> ?1 AND c.name LIKE (SELECT nc.name FROM news_cat nc, site_cat_rel rl"
                    " WHERE nc.id = rl.fk_news_cat AND rl.id = ?1 LIMIT 1)");
    links.Bind(1, pairId);
    if (links.Execute() != 0) return false;
  }
  for (int type = 0; type < 2; ++type) {
    Statement mask(db, "INSERT INTO news_masks (mask, mask_version, type, fk_site_cat_rel) VALUES('', 1, ?, ?)");
    mask.Bind(1, type).Bind(2, pairId);
    if (mask.Execute() != 0) return false;
  }
  if (tx.Commit() != 0) return false;
  *selected = select;
  return true;
}

struct MaskRow {
  int64_t id = 0;
  std::string mask;
  int version = 0;
  int type = 0;
  int64_t pair = 0;
};

}  // namespace

UpdateServer UpdateAddresses(const std::string& downloadUrl) {
  UpdateServer s;
  s.catalogueUrl = "http://" + downloadUrl;
  // The other two live beside the catalogue page: cut at the last "/" of the
  // path (an address without a path keeps its host whole).
  std::string base = s.catalogueUrl;
  size_t slash = base.rfind('/');
  if (slash != std::string::npos && slash > 7) base.resize(slash);
  s.maskUrl = base + "/getmask.asp";
  s.endUrl = base + "/end.asp";
  return s;
}

void RequestCatalogue(Browser& browser, const UpdateServer& server) {
  std::string body = std::string("_Ver=") + kProgramVersion;
  body.push_back('\0');
  browser.Navigate(server.catalogueUrl, body, {"Content-Type:application/x-www-form-urlencoded"});
}

int MarkAllMasks(Database& db) {
  // A mask that carries a mark already keeps that one: a mark applied twice
  // would survive its withdrawal and withdraw the mask on the next run.
  Statement st(db, "UPDATE news_masks SET type = type + 128 WHERE type < 128");
  int rc = st.Execute();
  if (rc != 0) WriteEventLog("Can not delete news items " + std::to_string(rc) + " SQL : \n" + st.sql());
  return rc;
}

int WithdrawUnconfirmedMasks(Database& db) {
  Statement st(db, "UPDATE news_masks SET mask_version = 0, mask = '', type = type - 128 WHERE type >= 128");
  int rc = st.Execute();
  if (rc != 0) WriteEventLog("Can not delete news items " + std::to_string(rc) + " SQL : \n" + st.sql());
  return rc;
}

int RemoveMarks(Database& db, int* removed) {
  // type % 128 also mends the 256/257 that marking twice once left behind.
  Statement st(db, "UPDATE news_masks SET type = type % 128 WHERE type >= 128");
  int rc = st.Execute();
  if (rc != 0) WriteEventLog("Can not update mask " + std::to_string(rc) + " SQL : \n" + st.sql());
  if (removed) *removed = rc == 0 ? db.Changes() : 0;
  return rc;
}

void UpsertPair(Database& db, HttpSession& http, const UpdateServer& server, const CataloguePair& listed,
                bool autoCheck, const StatusSink& status) {
  // Names are looked up as they are stored: a name longer than its column
  // would otherwise never be found again and come back as a new site.
  CataloguePair pair = listed;
  pair.site = FitBuffer(pair.site, kTextColumn);
  pair.category = FitBuffer(pair.category, kTextColumn);
  PairState state = LookUpPair(db, pair);
  bool selected = state.selected;
  if (!state.siteKnown || !state.pairKnown) {
    // A pair that AutoCheck selects gets its masks in this same update, so
    // its news come with this very run.
    if (!CreatePair(db, pair, state, autoCheck, &selected)) return;
  }

  std::vector<MaskRow> rows;
  {
    Statement st(db,
                 "SELECT nm.id, nm.mask, nm.mask_version, nm.type, nm.fk_site_cat_rel"
                 " FROM news_masks nm, site_cat_rel rel, news_config conf, news_cat nc"
                 " WHERE nc.name = ? AND conf.site_name = ? AND rel.fk_news_cat = nc.id"
                 " AND rel.fk_news_config = conf.id AND nm.fk_site_cat_rel = rel.id ORDER BY nm.type, nm.id");
    st.Bind(1, pair.category).Bind(2, pair.site);
    while (rows.size() < 2 && st.Next())
      rows.push_back({st.Int(0), st.Text(1), static_cast<int>(st.Int(2)), static_cast<int>(st.Int(3)), st.Int(4)});
  }
  // A pair without both masks keeps its mark and is withdrawn.
  if (rows.size() < 2) return;

  for (int k = 0; k < 2; ++k) {
    MaskRow& row = rows[k];
    const std::string& ident = k == 0 ? pair.listMask : pair.newsMask;
    const int version = k == 0 ? pair.listVersion : pair.newsVersion;
    if (row.type >= 128) row.type -= 128;
    if (selected && (pair.forced > 0 || row.version != version)) {
      status("Updates for: Site [" + pair.site + "], Category [" + pair.category + "].");
      std::string body = "_mask=" + ident;
      body.push_back('\0');
      std::string text;
      http.SetBodyLimit(kMaxMaskBytes);
      HttpResponse r = http.Post(server.maskUrl, body, {"Content-Type: application/x-www-form-urlencoded"}, &text);
      if (!r.ok()) {
        // The pair keeps the mask it had; the next update tries again.
        WriteEventLog("Error getting mask. Error: " + r.error.substr(0, 255));
        row.version = row.version < 1 ? 1 : row.version;
        continue;
      }
      if (r.status != 200) text.clear();
      if (text.size() > kMaxMaskBytes) text.resize(kMaxMaskBytes);
      row.mask = ToHex(text);
      row.version = text.empty() ? 1 : version;
    } else if (row.version < 1) {
      row.version = 1;
    }
  }

  Transaction tx(db);
  for (const MaskRow& row : rows) {
    Statement up(db, "UPDATE news_masks SET mask = ?, mask_version = ?, type = ?, fk_site_cat_rel = ? WHERE id = ?");
    up.Bind(1, row.mask).Bind(2, row.version).Bind(3, row.type).Bind(4, row.pair).Bind(5, row.id);
    if (int rc = up.Execute(); rc != 0) {
      WriteEventLog("Can not update mask " + std::to_string(rc) + " SQL : \n" + up.sql());
      return;
    }
  }
  tx.Commit();
}

bool ApplyCatalogue(Database& db, HttpSession& http, const UpdateServer& server, const Catalogue& catalogue,
                    bool autoCheck, const StatusSink& status) {
  if (HttpOrigin(server.endUrl).empty()) return false;
  for (const CataloguePair& pair : catalogue.pairs) UpsertPair(db, http, server, pair, autoCheck, status);
  std::string ignored;
  http.SetBodyLimit(1 << 16);
  HttpResponse r = http.Get(server.endUrl, &ignored);
  if (!r.ok()) WriteEventLog("Error ending the update at " + server.endUrl + ". Error: " + r.error.substr(0, 255));
  return catalogue.siteRows > 0;
}

}  // namespace orvo
