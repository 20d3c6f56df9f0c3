#include "catalogue.h"

#include <cstdio>
#include <unordered_map>
#include <unordered_set>

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

struct MaskRow {
  int64_t id = 0;
  int version = 0;
  int type = 0;
};

struct PairEntry {
  int64_t id = 0;
  bool selected = false;
  std::vector<MaskRow> masks;  // in (type, id) order, as the update reads them
};

// A mask to fetch after the pairs are in.
struct MaskFetch {
  std::string site, category;
  int64_t rowId[2] = {0, 0};
  std::string ident[2];
  int version[2] = {0, 0};
  bool wanted[2] = {false, false};
};

// The catalogue as the database holds it, read once per update, so that each
// listed pair costs a few hash look-ups and only the statements that change
// something. Names are compared in their stored form.
class CatalogueUpdater {
 public:
  CatalogueUpdater(Database& db, bool autoCheck) : autoCheck_(autoCheck), write_(db) {}

  int Load(Database& db) {
    CatalogueRows rows;
    if (int rc = ReadCatalogueRows(db, &rows); rc != 0) return rc;
    for (auto& [name, id] : rows.sites) sites_.try_emplace(std::move(name), id);
    for (auto& [name, id] : rows.categories) cats_.try_emplace(std::move(name), id);
    std::unordered_map<int64_t, PairEntry*> byId;
    for (const CataloguePairRow& row : rows.pairs) {
      auto [it, added] = pairs_.try_emplace(Key(row.site, row.category));
      if (!added) continue;
      it->second.id = row.id;
      it->second.selected = row.selected;
      byId[it->second.id] = &it->second;
      if (it->second.selected) selectedCats_.insert(row.category);
    }
    for (const CatalogueMaskRow& mask : rows.masks) {
      auto it = byId.find(mask.pair);
      if (it != byId.end()) it->second->masks.push_back({mask.id, mask.version, mask.type});
    }
    return 0;
  }

  // Inside the caller's transaction: creates the pair when it is new, takes
  // the mark off its two masks, and notes the masks to fetch.
  void Apply(const CataloguePair& listed) {
    const std::string site = FitBuffer(listed.site, kTextColumn);
    const std::string category = FitBuffer(listed.category, kTextColumn);
    auto it = pairs_.find(Key(site, category));
    if (it == pairs_.end()) {
      // A pair that AutoCheck selects gets its masks in this same update, so
      // its news come with this very run.
      write_.BeginPair();
      PairEntry created;
      if (!Create(site, category, &created)) {
        write_.DropPair();
        return;
      }
      write_.KeepPair();
      it = pairs_.emplace(Key(site, category), std::move(created)).first;
    }
    PairEntry& pair = it->second;
    // A pair without both masks keeps its mark and is withdrawn.
    if (pair.masks.size() < 2) return;
    MaskFetch fetch;
    for (int k = 0; k < 2; ++k) {
      MaskRow& row = pair.masks[k];
      const int version = k == 0 ? listed.listVersion : listed.newsVersion;
      if (row.type >= 128) row.type -= 128;
      if (pair.selected && (listed.forced > 0 || row.version != version)) {
        fetch.wanted[k] = true;
        fetch.rowId[k] = row.id;
        fetch.ident[k] = k == 0 ? listed.listMask : listed.newsMask;
        fetch.version[k] = version;
      }
      // A mask being fetched keeps what it had until its text arrives. One
      // the server disabled stays disabled: raised to 1 it would be read
      // again and fetched anew on every other update.
      if (row.version < 1 && !(pair.selected && version == 0)) row.version = 1;
      if (int rc = write_.SetMaskVersion(row.id, row.version, row.type); rc != 0) {
        WriteEventLog("Can not update mask " + std::to_string(rc) + " SQL : \n" + write_.failedSql());
        return;
      }
    }
    if (fetch.wanted[0] || fetch.wanted[1]) {
      fetch.site = listed.site;
      fetch.category = listed.category;
      // The fetched version is what the row holds from now on.
      for (int k = 0; k < 2; ++k)
        if (fetch.wanted[k]) pair.masks[k].version = fetch.version[k];
      fetches.push_back(std::move(fetch));
    }
  }

  std::vector<MaskFetch> fetches;

 private:
  static std::string Key(const std::string& site, const std::string& category) {
    std::string key = site;
    key.push_back('\0');
    key += category;
    return key;
  }

  bool Create(const std::string& site, const std::string& category, PairEntry* pair) {
    int64_t siteId = 0;
    if (auto s = sites_.find(site); s != sites_.end()) {
      siteId = s->second;
    } else if (write_.AddSite(site, &siteId) != 0) {
      return false;
    }
    int64_t catId = 0;
    if (auto c = cats_.find(category); c != cats_.end()) {
      catId = c->second;
    } else if (write_.AddCategory(category, &catId) != 0) {
      return false;
    }
    const bool select = autoCheck_ && CategorySelected(category);
    if (write_.AddPair(select, catId, siteId, &pair->id) != 0) return false;
    pair->selected = select;
    if (select) {
      // The new pair joins every filter that holds a pair of a category of that name.
      const std::vector<int64_t>* filters = FiltersOf(category);
      if (!filters) return false;
      for (int64_t filter : *filters)
        if (write_.AddFilterLink(filter, pair->id) != 0) return false;
    }
    for (int type = 0; type < 2; ++type) {
      int64_t mask = 0;
      if (write_.AddMask(type, pair->id, &mask) != 0) return false;
      pair->masks.push_back({mask, 1, type});
    }
    // Only now is the creation sure to stand (a failure rolls it all back).
    sites_.try_emplace(site, siteId);
    cats_.try_emplace(category, catId);
    return true;
  }

  // Whether a selected pair has a category of this name (compared as the
  // reader's LIKE compares an escaped keyword).
  bool CategorySelected(const std::string& category) {
    auto [it, added] = selectedByName_.try_emplace(category, false);
    if (added) {
      const std::string pattern = LikeEscape(category);
      for (const std::string& name : selectedCats_) {
        if (LikeMatch(pattern, name)) {
          it->second = true;
          break;
        }
      }
    }
    return it->second;
  }

  const std::vector<int64_t>* FiltersOf(const std::string& category) {
    auto [it, added] = filtersByName_.try_emplace(category);
    if (added && write_.FiltersOfCategory(category, &it->second) != 0) {
      filtersByName_.erase(it);
      return nullptr;
    }
    return &it->second;
  }

  bool autoCheck_;
  std::unordered_map<std::string, int64_t> sites_, cats_;
  std::unordered_map<std::string, PairEntry> pairs_;
  std::unordered_set<std::string> selectedCats_;
  std::unordered_map<std::string, bool> selectedByName_;
  std::unordered_map<std::string, std::vector<int64_t>> filtersByName_;
  CatalogueWriter write_;
};

// Fetches the noted masks of one pair and stores what came.
void FetchMasks(MaskTextWriter& store, HttpSession& http, const UpdateServer& server, const MaskFetch& fetch,
                const StatusSink& status) {
  status("Updates for: Site [" + fetch.site + "], Category [" + fetch.category + "].");
  for (int k = 0; k < 2; ++k) {
    if (!fetch.wanted[k]) continue;
    std::string body = "_mask=" + fetch.ident[k];
    body.push_back('\0');
    std::string text;
    http.SetBodyLimit(kMaxMaskBytes);
    HttpResponse r = http.Post(server.maskUrl, body, {"Content-Type: application/x-www-form-urlencoded"}, &text);
    if (!r.ok()) {
      // The pair keeps the mask it had; the next update tries again.
      WriteEventLog("Error getting mask. Error: " + r.error.substr(0, 255));
      continue;
    }
    if (r.status != 200) text.clear();
    if (text.size() > kMaxMaskBytes) text.resize(kMaxMaskBytes);
    if (int rc = store.Store(fetch.rowId[k], ToHex(text), text.empty() ? 1 : fetch.version[k]); rc != 0)
      WriteEventLog("Can not update mask " + std::to_string(rc) + " SQL : \n" + store.sql());
  }
}

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

namespace {

// The pairs go in with one transaction; the masks are fetched afterwards,
// so that no write lock is held while the updates server answers.
// Inside the update's transaction where engines share the database: takes the
// catalogue lock, waiting a while for another engine's update, and marks the
// masks. False when the update is not to go on.
bool BeginSharedUpdate(Database& db, SharedUpdate& shared, const StatusSink& status) {
  bool held = false;
  if (int rc = TryLockCatalogue(db, &held); rc != 0) {
    WriteEventLog("Can not lock the catalogue of " + db.Describe() + ": " + db.ErrorMessage());
    return false;
  }
  if (!held) {
    const std::string waiting = "Another engine is updating the catalogue of " + db.Describe() +
                                "; waiting for it (at most " + std::to_string(shared.lockWaitSeconds) + " s).";
    WriteEventLog(waiting);
    status(waiting);
    if (int rc = WaitForCatalogueLock(db, shared.lockWaitSeconds); rc != 0) {
      shared.skipped = true;
      const std::string text =
          rc == SQLITE_BUSY
              ? "Another engine kept the catalogue of " + db.Describe() + " for more than " +
                    std::to_string(shared.lockWaitSeconds) + " s; this run downloads with the stored masks."
              : "Can not lock the catalogue of " + db.Describe() + ": " + db.ErrorMessage() +
                    "; this run downloads with the stored masks.";
      WriteEventLog(text);
      status(text);
      return false;
    }
    WriteEventLog("The other engine's catalogue update is over; this one goes on.");
  }
  return MarkAllMasks(db) == 0;
}

bool ApplyPairs(Database& db, HttpSession& http, const UpdateServer& server, const std::vector<CataloguePair>& pairs,
                bool listed, bool autoCheck, const StatusSink& status, const CatalogueHooks& hooks) {
  auto cancelled = [&] { return hooks.cancel && hooks.cancel->load(); };
  CatalogueUpdater updater(db, autoCheck);
  {
    Transaction tx(db);
    if (tx.status() == 0 && hooks.shared && !BeginSharedUpdate(db, *hooks.shared, status)) return false;
    if (tx.status() != 0 || updater.Load(db) != 0) {
      WriteEventLog("Can not update the catalogue: " + db.ErrorMessage());
      return false;
    }
    for (size_t i = 0; i < pairs.size(); ++i) {
      if (cancelled()) return false;
      // Names are looked up as they are stored: a name longer than its
      // column would otherwise never be found again and come back new.
      CataloguePair pair = pairs[i];
      pair.site = FitBuffer(pair.site, kTextColumn);
      pair.category = FitBuffer(pair.category, kTextColumn);
      updater.Apply(pair);
      if (hooks.progress && (i % 500 == 0 || i + 1 == pairs.size())) hooks.progress(i + 1, pairs.size());
    }
    if (SharedUpdate* shared = hooks.shared) {
      // A first empty answer is asked again, with nothing changed meanwhile.
      if (!listed && !shared->lastTry) return false;
      shared->leftOut = listed ? SelectedPairsLeftOut(db) : std::vector<std::string>{};
      if (WithdrawUnconfirmedMasks(db) != 0) return false;
      shared->withdrawn = true;
    }
    if (int rc = tx.Commit(); rc != 0) {
      WriteEventLog("Can not update the catalogue " + std::to_string(rc) + ": " + db.ErrorMessage());
      db.Rollback();
      if (hooks.shared) {
        hooks.shared->withdrawn = false;
        hooks.shared->leftOut.clear();
      }
      return false;
    }
  }
  MaskTextWriter store(db);
  for (const MaskFetch& fetch : updater.fetches) {
    if (cancelled()) return false;
    if (hooks.fetching) hooks.fetching(fetch.site, fetch.category);
    FetchMasks(store, http, server, fetch, status);
  }
  return true;
}

}  // namespace

void UpsertPair(Database& db, HttpSession& http, const UpdateServer& server, const CataloguePair& pair,
                bool autoCheck, const StatusSink& status) {
  ApplyPairs(db, http, server, {pair}, true, autoCheck, status, {});
}

bool ApplyCatalogue(Database& db, HttpSession& http, const UpdateServer& server, const Catalogue& catalogue,
                    bool autoCheck, const StatusSink& status, const CatalogueHooks& hooks) {
  if (HttpOrigin(server.endUrl).empty()) return false;
  http.SetCancelFlag(hooks.cancel);
  ApplyPairs(db, http, server, catalogue.pairs, catalogue.siteRows > 0, autoCheck, status, hooks);
  if (!hooks.cancel || !hooks.cancel->load()) {
    std::string ignored;
    http.SetBodyLimit(1 << 16);
    HttpResponse r = http.Get(server.endUrl, &ignored);
    if (!r.ok()) WriteEventLog("Error ending the update at " + server.endUrl + ". Error: " + r.error.substr(0, 255));
  }
  http.SetCancelFlag(nullptr);
  return catalogue.siteRows > 0;
}

}  // namespace orvo
