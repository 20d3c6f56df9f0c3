// The engine's side of the updates exchange: the catalogue of sites,
// categories and mask versions from the updates server is brought into the
// database, the changed masks of selected pairs are fetched, and the masks the
// server no longer lists are withdrawn.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "orvo_version.h"
#include "store/catalogue_rows.h"  // the marks and the withdrawal

namespace orvo {

class Browser;
class Database;
class HtmlDocument;
class HttpSession;

// The program version the catalogue request announces.
inline constexpr const char* kProgramVersion = kVersion;
// Largest mask text kept, in bytes.
inline constexpr size_t kMaxMaskBytes = 47500;

struct UpdateServer {
  std::string catalogueUrl;  // "http://" + DownloadURL
  std::string maskUrl;       // .../getmask.asp
  std::string endUrl;        // .../end.asp
};
UpdateServer UpdateAddresses(const std::string& downloadUrl);

// One site/category pair as the catalogue lists it.
struct CataloguePair {
  std::string site;
  std::string category;
  std::string listMask;  // identifiers as the server names them
  int listVersion = 0;
  std::string newsMask;
  int newsVersion = 0;
  int forced = 0;  // Fdld: above 0 fetches both masks again
};

struct Catalogue {
  std::vector<CataloguePair> pairs;
  int siteRows = 0;
};

// Reads the catalogue page: each TABLE among the body's children holds, in
// its first child, one row per site (attribute name) whose children are read
// in pairs of cells, one pair per category; a last cell without partner is
// read as both cells.
Catalogue ReadCatalogue(const HtmlDocument& page);

// Posts "_Ver=<version>" (with its terminating zero byte) for the catalogue page.
void RequestCatalogue(Browser& browser, const UpdateServer& server);

using StatusSink = std::function<void(const std::string&)>;

// Creates the pair when it is new (selected when autoCheck finds a selected
// pair of a category of that name; then it joins the filters of such pairs),
// takes the mark off its two masks and fetches the masks of a selected pair
// whose version changed or that is forced.
void UpsertPair(Database& db, HttpSession& http, const UpdateServer& server, const CataloguePair& pair,
                bool autoCheck, const StatusSink& status);

// The update of a database that engines on other machines share
// (PostgreSQL): the marks, the pairs and the withdrawal are one transaction
// under the catalogue lock, so no other connection ever sees a mark, a second
// engine's update waits for this one, and nothing is withdrawn before the
// whole catalogue is in. The masks are fetched after its commit.
struct SharedUpdate {
  // How long to wait for another engine's update before going on with the
  // stored masks.
  int lockWaitSeconds = 60;
  // A catalogue that lists no site withdraws every mask only on the run's
  // last try; before that the update is rolled back whole.
  bool lastTry = false;
  // What happened:
  bool skipped = false;               // the lock did not come in time
  bool withdrawn = false;             // the unconfirmed masks were withdrawn
  std::vector<std::string> leftOut;   // selected pairs withdrawn ("Site / Category")
};

struct CatalogueHooks {
  // Called now and then with the pairs done and the pairs listed.
  std::function<void(size_t done, size_t total)> progress;
  // Called before the masks of a pair are fetched.
  std::function<void(const std::string& site, const std::string& category)> fetching;
  // While true the update ends as soon as it can, rolling back what it did.
  const std::atomic<bool>* cancel = nullptr;
  // Set where several engines share the database (see SharedUpdate).
  SharedUpdate* shared = nullptr;
};

// Applies every pair of the catalogue (one transaction for the pairs, then
// the fetches), then tells the server the update is over. True when the
// catalogue listed at least one site. With hooks.shared the marks and the
// withdrawal are part of the pairs' transaction.
bool ApplyCatalogue(Database& db, HttpSession& http, const UpdateServer& server, const Catalogue& catalogue,
                    bool autoCheck, const StatusSink& status, const CatalogueHooks& hooks = {});

}  // namespace orvo
