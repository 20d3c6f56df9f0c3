#include "run.h"

#include <sys/resource.h>

#include <QMetaMethod>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>
#include <tuple>

#include "auto_news.h"
#include "background.h"
#include "browser.h"
#include "catalogue.h"
#include "store/cleanup.h"
#include "database.h"
#include "eventlog.h"
#include "feed_fetch.h"
#include "http_setup.h"
#include "text.h"
#include "gatherer/autoextract/auto_extract.h"
#include "gatherer/masks/charset.h"
#include "gatherer/masks/extraction.h"
#include "gatherer/masks/html_document.h"
#include "gatherer/masks/mask.h"
#include "http_client.h"
#include "item_store.h"
#include "mask_plan.h"
#include "store/own_sites.h"
#include "store/search_index.h"
#include "settings.h"
#include "work_pool.h"

namespace orvo {

namespace {

// Runs work on a worker of the pool so that the page time-out holds over it:
// work that outlasts what is left of the time-out is abandoned (its worker
// finishes on its own copies) and nothing is returned.
template <typename Result, typename Work>
std::optional<Result> RunWithin(WorkPool& pool, std::chrono::milliseconds budget, Work work) {
  auto task = std::make_shared<std::packaged_task<Result()>>(std::move(work));
  std::future<Result> result = task->get_future();
  pool.Post([task] { (*task)(); });
  if (result.wait_for(budget) != std::future_status::ready) return std::nullopt;
  return result.get();
}

// The page is shared, as automatic extraction may still read it on its own
// thread after the run has given up on it.
using PagePtr = std::shared_ptr<const HtmlDocument>;

// A parse given up on is told so, and its thread ends soon after instead of
// spending minutes of CPU on a page nobody waits for.
std::optional<PagePtr> ParseWithin(WorkPool& pool, const BrowserDocument& doc, std::chrono::milliseconds budget) {
  auto cancel = std::make_shared<std::atomic<bool>>(false);
  std::optional<PagePtr> page =
      RunWithin<PagePtr>(pool, budget, [bytes = doc.bytes, charset = doc.charset, url = doc.url, cancel] {
        return std::make_shared<const HtmlDocument>(HtmlDocument::FromBytes(bytes, charset, url, cancel.get()));
      });
  if (!page) cancel->store(true);
  return page;
}

constexpr int kMaxParallelSites = 16;
constexpr const char* kCannotOpen = "Can not open news database. Please check you settings.";
constexpr const char* kDownloadError = "News downloading error";
constexpr const char* kDownloadCompleted = "Download completed.";
constexpr const char* kNoUpdatesServer = "No updates server is set; only your own sites are downloaded.";
constexpr const char* kUpdatesOff =
    "Site template updates are switched off (DownloadUpdates=0): downloading with the stored catalogue and masks.";
constexpr const char* kNothingToDo =
    "No updates server is set and no own site is selected: add a site with orvo site add URL, or set the updates "
    "server (DownloadURL).";
constexpr const char* kSelectCategories =
    "Updating is completed. Now select certain categories (menu Settings->Options->Sites/Categories) and then "
    "\"Start download\".";

}  // namespace

class GatheringWindow;

// One site at a time of a run: the site's categories walked list page, then
// news pages, each page with its own time-out, exactly as a run over the
// whole plan walks them. A run has one lane, or up to ParallelSites lanes
// that each take the next site when theirs is done.
class SiteLane : public QObject {
 public:
  // browser and images: the window's own for the first lane (null: the lane
  // makes its own).
  SiteLane(GatheringWindow& window, Browser* browser, HttpSession* images);
  ~SiteLane() override;

  // Walks the sites of plan from its first mask; tells the window when the
  // plan is exhausted.
  void Begin(MaskPlan plan);
  // The run ended: no request stays open.
  void Halt();
  bool active() const { return active_; }
  bool busy() const { return job_.busy() || fetchJob_.busy(); }
  // What the lane waits for, when it waits; empty otherwise.
  std::string WaitingText() const;

 private:
  enum class LoadResult { kLoaded, kSkipped, kFailed };

  template <typename F>
  void Post(F f) {
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
  }
  bool Live() const;
  void ReportStatus(const std::string& text);

  void OnDocumentComplete(const std::string& url);
  void OnNavigateError(const std::string& url, int code, const std::string& reason);
  void OnPageTimer();
  void HandleNavigationError(bool timeout);
  void HandlePageComplete();
  void SkipCurrentPage();
  void ProcessPage(const BrowserDocument& doc);
  // An item walked and finished, on its way to the database.
  struct PendingStore {
    std::shared_ptr<NewsItemRecord> item;
    std::string address;
    size_t images = 0;  // pictures to fetch
    int mark = 0;       // how it was found without its masks
  };
  void StoreItem();
  void MoveStoresOn();
  void BeginFetch(PendingStore store);
  void OnFetched(PendingStore store, std::shared_ptr<ImageFetch> fetch);
  void BeginWrite(PendingStore store, std::shared_ptr<ImageFetch> fetch);
  void OnPicturesIn(const std::string& address, size_t images, int failed);
  void OnStoreDone(const PendingStore& store, const StoreResult& result);
  // Mask health and the fallbacks for masks that stopped yielding.
  void AfterListWalk(const HtmlDocument& page, const BrowserDocument& doc);
  void AfterNewsWalk(const PagePtr& page, std::chrono::steady_clock::time_point deadline);
  void FinishPairHealth();
  void NoteStoredItem(int64_t id, int mark);
  void OnItemStored(const std::string& address, const StoreResult& result);
  void NextNewsPage();
  // Own pairs: the feed gives the links, titles, authors and dates.
  bool OwnCategory() const;
  void FetchOwnFeed();
  void OnOwnFeed(FeedFetch fetched);
  void MergeFeedEntry();
  bool StoreFromFeedOnly();

  void StartNextMask();
  LoadResult LoadMask(MaskPhase phase);
  void ArmAndRequest();
  void Navigate();
  void RequestFirstLink();
  void RequestNextUnstoredLink();
  std::string ProgressText() const;

  GatheringWindow& window_;
  std::unique_ptr<Browser> ownBrowser_;
  std::unique_ptr<HttpSession> ownImages_;
  Browser& browser_;
  HttpSession& images_;
  QTimer pageTimer_;

  bool active_ = false;
  bool listPhase_ = false;
  MaskPlan plan_;
  std::string currentUrl_;
  std::string failedText_;
  std::string failedReason_;  // the failure in words, for the status line
  size_t totalLinks_ = 0;
  std::chrono::milliseconds pageBudget_{0};  // for the parse of the page that arrived
  std::chrono::steady_clock::time_point waitSince_;
  ExtractionState state_;
  std::vector<FormField> formFields_;
  StoredMask maskRow_;
  std::optional<Mask> mask_;
  RunHealth health_;
  int autoMark_ = 0;           // how the current item was found without its masks
  bool feedCategory_ = false;  // the current category's links came from its feed
  std::unordered_map<std::string, FeedEntry> ownEntries_;  // the own feed's entries by address
  // Once an item's pictures are in, the lane goes on with the next page while
  // the item is written, and the next item's pictures come meanwhile. Items
  // are written in the plan's order and one at a time: one whose pictures
  // are in waits in fetched_ for the write before it, one walked meanwhile in
  // waitingStore_ for its turn to fetch.
  struct FetchedStore {
    PendingStore store;
    std::shared_ptr<ImageFetch> fetch;
  };
  std::optional<PendingStore> waitingStore_;
  std::optional<FetchedStore> fetched_;
  bool nextMaskAfterStore_ = false;  // the category is done once its last item is written
  bool picturesIn_ = false;          // the lane went on from the item being fetched
  // Last: their threads may use the members above until they are joined.
  BackgroundJob job_;       // writes the items
  BackgroundJob fetchJob_;  // fetches their pictures
};

// The hidden window of one run: the update exchange with its browser and
// timer, the plan, and the lanes that walk the plan's sites. It lives from a
// start request to the next start or a stop.
class GatheringWindow : public QObject {
 public:
  explicit GatheringWindow(GathererEngine& engine);
  ~GatheringWindow() override;

  void Start();
  bool ended() const { return ended_; }
  bool waiting() const;

 private:
  friend class SiteLane;
  enum class Phase { kUpdates, kGathering };

  // Posted steps: each runs from the event loop, never inside another step.
  template <typename F>
  void Post(F f) {
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
  }

  void ReportStatus(const std::string& text) { engine_.ReportStatus(text); }
  const std::string& dbPath() const { return engine_.dbPath_; }
  int runStatus() const { return engine_.runStatus_; }
  void Fail(const std::string& status);
  void Finish();
  // Ends the run as failed: the database server went away.
  void FailLost(const std::string& server);

  void RequestCatalogueWithTimer();
  void OnDocumentComplete();
  void OnNavigateError(const std::string& url, int code, const std::string& reason);
  void OnPageTimer();
  void HandleCatalogue();
  void TakeMarksOff();
  // shared: what the update did where engines share the database.
  void AfterCatalogue(bool applied, const SharedUpdate* shared = nullptr);
  void HandleNavigationError(bool timeout);
  void CheckForUpdates();
  void OnHeartbeat();
  std::vector<std::string> WaitingTexts() const;

  // ownOnly: the run without an updates server.
  bool BuildPlan(bool ownOnly = false);
  // Hands the plan to the lanes: all of it to one lane, or one site to each
  // of up to ParallelSites lanes.
  void StartGathering();
  void OnLaneDone(SiteLane& lane);
  void Dispatch(SiteLane& lane);
  void EndOfRun();

  // With lanes side by side, an address belongs to the first lane that asks
  // for it; another lane passes it over as if it were stored.
  bool parallel() const { return parallelSites_ > 1; }
  bool Claim(const std::string& address) { return claimed_.insert(address).second; }
  bool Claimed(const std::string& address) const { return claimed_.count(address) != 0; }
  void Unclaim(const std::string& address) { claimed_.erase(address); }

  GathererEngine& engine_;
  Browser browser_;
  QTimer pageTimer_;
  HttpSession updatesHttp_;
  WorkPool workers_;  // parses and automatic extractions of every lane

  // Settings read when the window is created.
  int codePage_ = 0;
  int connectTimeout_ = 300;
  bool loadImages_ = true;
  int maxImagesPerItem_ = kDefaultMaxImagesPerItem;
  int maxLinksPerList_ = kDefaultMaxLinksPerList;
  bool readAfterTimeout_ = false;
  int parallelSites_ = 1;

  Phase phase_ = Phase::kUpdates;
  bool secondAttempt_ = false;
  bool marked_ = false;  // the masks carry the update's mark
  bool ownOnly_ = false;  // no updates server: only the own pairs
  bool ended_ = false;
  UpdateServer updates_;
  MaskPlan plan_;
  std::string failedText_;
  AutoNewsSettings autoNews_;
  std::deque<MaskPlan> pending_;  // sites no lane has taken yet
  std::set<std::string> claimed_;

  // Progress while the run waits: the catalogue request in flight since
  // waitSince_, the background job, or what the lanes wait for.
  QTimer heartbeat_;
  std::chrono::steady_clock::time_point waitSince_;
  ImageHosts imageHosts_;
  std::mutex storeWriter_;  // one lane at a time writes its item
  BackgroundJob job_;
  // Last: they go first, while everything their jobs use is still there.
  std::vector<std::unique_ptr<SiteLane>> lanes_;
};

GatheringWindow::GatheringWindow(GathererEngine& engine)
    : engine_(engine), imageHosts_(engine.imageRetry_), job_(this, engine.dbPath_) {
  Settings settings = Settings::Shared();
  codePage_ = settings.ReadInt(kSystemSection, "CodePage", 0);
  connectTimeout_ = ReadConnectTimeout(settings);
  loadImages_ = settings.ReadInt(kDownloadSection, "LoadImages", 1) != 0;
  // Without a cap one page could queue tens of thousands of requests.
  for (auto [key, value, def] : {std::tuple{"MaxImagesPerItem", &maxImagesPerItem_, kDefaultMaxImagesPerItem},
                                 std::tuple{"MaxLinksPerList", &maxLinksPerList_, kDefaultMaxLinksPerList}}) {
    *value = settings.ReadIntChecked(kDownloadSection, key, def);
    if (*value < 1) {
      WriteEventLog(std::string(key) + " " + std::to_string(*value) + " is below 1; " + std::to_string(def) +
                    " is used.");
      *value = def;
    }
  }
  readAfterTimeout_ = settings.ReadInt(kDownloadSection, "ReadAfterTimeout", 0) != 0;
  parallelSites_ = settings.ReadInt(kDownloadSection, "ParallelSites", 1);
  if (parallelSites_ < 1 || parallelSites_ > kMaxParallelSites) {
    const int used = std::clamp(parallelSites_, 1, kMaxParallelSites);
    WriteEventLog("ParallelSites " + std::to_string(parallelSites_) + " is out of range (1 to " +
                  std::to_string(kMaxParallelSites) + "); " + std::to_string(used) + " is used.");
    parallelSites_ = used;
  }
  autoNews_ = AutoNewsSettings::Read();
  updatesHttp_.SetTimeoutSeconds(connectTimeout_);
  engine_.images_->SetTimeoutSeconds(connectTimeout_);

  pageTimer_.setSingleShot(true);
  connect(&pageTimer_, &QTimer::timeout, this, [this] { OnPageTimer(); });
  heartbeat_.setInterval(std::max(100, engine_.heartbeatMs_ / 3));
  connect(&heartbeat_, &QTimer::timeout, this, [this] { OnHeartbeat(); });
  connect(&browser_, &Browser::DocumentComplete, this, [this](const std::string&) { OnDocumentComplete(); });
  connect(&browser_, &Browser::NavigateError, this,
          [this](const std::string& url, int code, const std::string& reason) { OnNavigateError(url, code, reason); });
}

// The connection goes with the window, as a stop must leave nothing open; a
// job in progress ends first, leaving nothing half stored, and a stop during
// the update must not leave the marks on either.
GatheringWindow::~GatheringWindow() {
  lanes_.clear();
  job_.Cancel();
  TakeMarksOff();
  CloseDatabase();
}

bool GatheringWindow::waiting() const {
  return job_.busy() || std::any_of(lanes_.begin(), lanes_.end(), [](const auto& l) { return l->busy(); });
}

// The mark lives only while one update applies its catalogue: every way out
// of the update phase other than the withdrawal takes it off again.
void GatheringWindow::TakeMarksOff() {
  if (!marked_) return;
  marked_ = false;
  if (Database* db = OpenDatabase() == 0 ? ProcessDatabase() : nullptr) RemoveMarks(*db);
}

void GatheringWindow::Fail(const std::string& status) {
  engine_.runStatus_ = 32;
  ReportStatus(status);
  Finish();
}

// Every later statement would fail too: the run ends instead of visiting page
// after page it cannot store. What was committed stays.
void GatheringWindow::FailLost(const std::string& server) {
  const std::string text =
      "The connection to " + server + " was lost; the download ends. Start it again once the server is back.";
  WriteEventLog(text);
  Fail(text);
}

void GatheringWindow::Finish() {
  ended_ = true;
  TakeMarksOff();  // no mark outlives the run
  heartbeat_.stop();
  pageTimer_.stop();
  browser_.Stop();
  for (auto& lane : lanes_) lane->Halt();
  engine_.RaiseComplite();
}

void GatheringWindow::Start() {
  secondAttempt_ = false;
  if (OpenDatabase() != 0) {
    WriteEventLog(kCannotOpen);
    ended_ = true;
    if (engine_.EventSourceAttached()) Fail(kDownloadError);
    return;
  }
  // In WAL mode NORMAL never corrupts the file; a power cut can only lose the
  // last items, which the next run simply fetches again. FULL would wait for
  // the disk three times per item.
  if (ProcessDatabase()->backend() == Database::Backend::kSqlite)
    ProcessDatabase()->Exec("PRAGMA synchronous = NORMAL");
  // Marks found now were left by a run that was killed during its update.
  int leftover = 0;
  if (RemoveMarks(*ProcessDatabase(), &leftover) == 0 && leftover > 0)
    WriteEventLog("Took the update marks of an interrupted run off " + std::to_string(leftover) + " masks.");
  // Before the clean-up deletes anything: an index that still drops each
  // deleted item at once would make it ten times slower.
  if (int rc = DeferIndexDeletes(*ProcessDatabase()); rc != 0)
    WriteEventLog("Can not set up the search index's queue of deleted news: " + HexCode(rc));
  DeleteOldNews(Settings::Shared(), [this](const std::string& s) { ReportStatus(s); }, std::time(nullptr));
  heartbeat_.start();
  // Files a killed run left without rows go before anything new is stored.
  job_.Run<int>(
      [](BackgroundJob& job) {
        job.SetDoing("removing image files that no news item names");
        Database* db = job.db();
        return db ? RemoveOrphanImages(*db, ImagesFolder()) : 0;
      },
      [this](int) { CheckForUpdates(); });
}

void GatheringWindow::CheckForUpdates() {
  if (ended_) return;
  const ProxySetting proxy = ReadProxySetting();
  if (!proxy.problem.empty()) WriteEventLog(proxy.problem);
  if (proxy.on)
    WriteEventLog("Every request goes through the proxy " + proxy.address +
                  (proxy.port > 0 ? ":" + std::to_string(proxy.port) : std::string()) + " (UseProxy=1).");
  const std::string downloadUrl = Settings::Shared().ReadText(kSystemSection, "DownloadURL", "", kReaderBuffer);
  if (downloadUrl.find_first_not_of(" \t") == std::string::npos) {
    // Nothing to exchange: the catalogue and its masks stay as they are.
    WriteEventLog(kNoUpdatesServer);
    ReportStatus(kNoUpdatesServer);
    ownOnly_ = true;
    phase_ = Phase::kGathering;
    if (!BuildPlan(true)) {
      WriteEventLog(kCannotOpen);
      Fail(kDownloadError);
      return;
    }
    StartGathering();
    return;
  }
  if (Settings::Shared().ReadInt(kSystemSection, "DownloadUpdates", 1) == 0) {
    WriteEventLog(kUpdatesOff);
    ReportStatus(kUpdatesOff);
    phase_ = Phase::kGathering;
    if (!BuildPlan()) {
      WriteEventLog(kCannotOpen);
      Fail(kDownloadError);
      return;
    }
    StartGathering();
    return;
  }
  ReportStatus("Checking for updates...");
  WriteEventLog("Checking for updates...");
  updates_ = UpdateAddresses(downloadUrl);
  phase_ = Phase::kUpdates;
  RequestCatalogueWithTimer();
}

void GatheringWindow::RequestCatalogueWithTimer() {
  // The catalogue page gets the page time-out too: a dead updates server must
  // not hold the run for ever.
  pageTimer_.start(connectTimeout_ * 1000);
  waitSince_ = std::chrono::steady_clock::now();
  RequestCatalogue(browser_, updates_);
}

// The window's browser serves the update; in the gathering phase it belongs
// to the first lane.
void GatheringWindow::OnDocumentComplete() {
  if (ended_ || phase_ != Phase::kUpdates) return;
  if (job_.busy()) return;  // the catalogue is being applied already
  pageTimer_.stop();
  HandleCatalogue();
}

void GatheringWindow::OnNavigateError(const std::string& url, int code, const std::string& reason) {
  if (ended_ || phase_ != Phase::kUpdates) return;
  failedText_ = url + " Error code: " + std::to_string(code);
  if (code < 100) failedText_ += " (" + reason + ")";
  Post([this] { HandleNavigationError(false); });
}

void GatheringWindow::OnPageTimer() {
  if (ended_ || phase_ != Phase::kUpdates) return;
  browser_.Stop();
  TakeMarksOff();
  WriteEventLog("NAVIGATE ERROR, URL: " + updates_.catalogueUrl + " (timeout)");
  const std::string text = "The updates server did not answer within " + std::to_string(connectTimeout_) + " s (" +
                           updates_.catalogueUrl +
                           "). Check DownloadURL in the settings and the network, then start the download again.";
  WriteEventLog(text);
  Fail(text);
}

void GatheringWindow::HandleCatalogue() {
  Database* db = OpenDatabase() == 0 ? ProcessDatabase() : nullptr;
  if (!db) {
    WriteEventLog(kCannotOpen);
    Fail(kDownloadError);
    return;
  }
  // Where other engines share the database, the marks are set inside the
  // update's own transaction instead (see SharedUpdate).
  const bool shared = db->backend() == Database::Backend::kPostgres;
  if (!shared && !marked_ && MarkAllMasks(*db) == 0) marked_ = true;
  const BrowserDocument* doc = browser_.Document();
  if (!doc && !shared) {
    AfterCatalogue(false);
    return;
  }
  struct Outcome {
    int codePage = 0;
    bool applied = false;
    std::optional<SharedUpdate> shared;
  };
  // With nothing arrived a shared update reads an empty catalogue.
  auto page = doc ? std::make_shared<BrowserDocument>(*doc) : std::make_shared<BrowserDocument>();
  const bool autoCheck = Settings::Shared().ReadInt(kSystemSection, "AutoCheck", 1) != 0;
  std::optional<SharedUpdate> sharedUpdate;
  if (shared) {
    sharedUpdate.emplace();
    sharedUpdate->lastTry = secondAttempt_;
    sharedUpdate->lockWaitSeconds = std::max(60, connectTimeout_);
  }
  // A catalogue of many thousand pairs takes a while: it is read and applied
  // off the main thread, which goes on answering calls and telling progress.
  job_.Run<Outcome>(
      [this, page, autoCheck, sharedUpdate](BackgroundJob& job) {
        Outcome out;
        out.shared = sharedUpdate;
        job.SetDoing("reading the catalogue of the updates server");
        HtmlDocument html = HtmlDocument::FromBytes(page->bytes, page->charset, page->url);
        out.codePage = CodePageForCharset(!page->charset.empty() ? page->charset : html.DeclaredCharset());
        const Catalogue catalogue = ReadCatalogue(html);
        Database* db = job.db();
        if (!db) return out;
        CatalogueHooks hooks;
        hooks.cancel = &job.cancelFlag();
        hooks.progress = [&job](size_t done, size_t total) {
          job.SetDoing("updating the catalogue: " + std::to_string(done) + " of " + std::to_string(total) +
                           " site/category pairs",
                       false);
        };
        hooks.fetching = [&job](const std::string& site, const std::string& category) {
          job.SetDoing("fetching the masks of site [" + site + "], category [" + category + "]");
        };
        auto status = [this](const std::string& text) {
          QMetaObject::invokeMethod(this, [this, text] { if (!ended_) ReportStatus(text); }, Qt::QueuedConnection);
        };
        if (out.shared) hooks.shared = &*out.shared;
        out.applied = ApplyCatalogue(*db, updatesHttp_, updates_, catalogue, autoCheck, status, hooks);
        return out;
      },
      [this](Outcome out) {
        codePage_ = out.codePage;
        if (!Settings::Shared().WriteInt(kSystemSection, "CodePage", codePage_))
          WriteEventLog("Can not write dinamic settings");
        AfterCatalogue(out.applied, out.shared ? &*out.shared : nullptr);
      });
}

void GatheringWindow::AfterCatalogue(bool applied, const SharedUpdate* shared) {
  if (ended_) return;
  Database* db = OpenDatabase() == 0 ? ProcessDatabase() : nullptr;
  if (!db) {
    WriteEventLog(kCannotOpen);
    Fail(kDownloadError);
    return;
  }
  if (!applied && !secondAttempt_) {
    secondAttempt_ = true;
    RequestCatalogueWithTimer();
    return;
  }
  if (shared) {
    // Withdrawn, if at all, with the update's own commit.
    for (const std::string& pair : shared->leftOut)
      ReportStatus("Can not visit " + pair + ": the updates server's catalogue no longer lists it, so its masks "
                   "were withdrawn.");
  } else if (marked_) {
    const std::vector<std::string> cut = applied ? SelectedPairsLeftOut(*db) : std::vector<std::string>{};
    // A withdrawal that fails withdraws nothing: the marks come off unused.
    if (WithdrawUnconfirmedMasks(*db) != 0) {
      RemoveMarks(*db);
    } else {
      for (const std::string& pair : cut)
        ReportStatus("Can not visit " + pair + ": the updates server's catalogue no longer lists it, so its masks "
                     "were withdrawn.");
    }
    marked_ = false;
  }
  phase_ = Phase::kGathering;
  const bool built = BuildPlan();
  if (built && applied) {
    DeleteOrphanCatalogue([this](const std::string& s) { ReportStatus(s); });
    StartGathering();
    return;
  }
  const std::string text =
      !built ? std::string(kDownloadError)
             : "The updates server's catalogue (" + updates_.catalogueUrl +
                   ") lists no site, so every mask was withdrawn. Check DownloadURL in the settings.";
  WriteEventLog(text);
  if (built && plan_.HasOwn()) {
    // The own sites owe the updates server nothing: they are gathered all
    // the same, and the run still ends as failed.
    engine_.runStatus_ = 32;
    ReportStatus(text);
    plan_.KeepOwnOnly();
    StartGathering();
    return;
  }
  Fail(text);
}

void GatheringWindow::HandleNavigationError(bool timeout) {
  if (ended_ || phase_ != Phase::kUpdates) return;
  WriteEventLog("NAVIGATE ERROR, URL: " + failedText_ + (timeout ? " (timeout)" : ""));
  pageTimer_.stop();
  TakeMarksOff();
  if (BuildPlan()) {
    // Without updates the run goes on with the masks already stored.
    phase_ = Phase::kGathering;
    ReportStatus("Can not get updates from " + updates_.catalogueUrl + "; downloading with the stored masks.");
    StartGathering();
  } else if (engine_.EventSourceAttached()) {
    Fail(kDownloadError);
  } else {
    ended_ = true;
  }
}

std::vector<std::string> GatheringWindow::WaitingTexts() const {
  using namespace std::chrono;
  if (job_.busy()) {
    steady_clock::duration since{};
    const std::string doing = job_.Doing(&since);
    if (doing.empty()) return {};
    return {"Still " + doing + " (" + std::to_string(duration_cast<seconds>(since).count()) + " s)."};
  }
  if (phase_ == Phase::kUpdates) {
    if (!pageTimer_.isActive()) return {};
    return {"Still waiting for the updates server [" + updates_.catalogueUrl + "] (" +
            std::to_string(duration_cast<seconds>(steady_clock::now() - waitSince_).count()) + " s of " +
            std::to_string(connectTimeout_) + " s)."};
  }
  std::vector<std::string> texts;
  for (const auto& lane : lanes_) {
    if (!lane->active()) continue;
    std::string text = lane->WaitingText();
    if (!text.empty()) texts.push_back(std::move(text));
  }
  return texts;
}

void GatheringWindow::OnHeartbeat() {
  if (ended_) return;
  // Silence would look like a stuck engine to whoever watches the run.
  if (std::chrono::steady_clock::now() - engine_.lastStatus_ < std::chrono::milliseconds(engine_.heartbeatMs_))
    return;
  for (const std::string& text : WaitingTexts()) ReportStatus(text);
}

bool GatheringWindow::BuildPlan(bool ownOnly) {
  plan_.Clear();
  if (OpenDatabase() != 0) return false;
  std::vector<PlanRow> rows;
  if (!ownOnly && ReadPlanRows(*ProcessDatabase(), &rows, autoNews_.autoExtract) != 0) return false;
  plan_.Build(rows);
  std::vector<OwnSite> own = OwnPlanSites(*ProcessDatabase());
  if (own.empty()) return true;
  if (!autoNews_.autoExtract) {
    // Own pairs have no masks: without automatic extraction nothing of them
    // could be read.
    const std::string text = std::to_string(own.size()) +
                             " own sites are not downloaded: they need automatic extraction, which is off "
                             "(AutoExtract=0 in section Download).";
    WriteEventLog(text);
    ReportStatus(text);
    return true;
  }
  std::vector<PlanCategory> categories;
  std::vector<std::string> names;
  for (const OwnSite& o : own) {
    PlanCategory c;
    c.name = o.category;
    c.ownPair = o.pair;
    c.feedUrl = o.address;
    c.etag = o.etag;
    c.lastModified = o.lastModified;
    categories.push_back(std::move(c));
    names.push_back(o.site);
  }
  plan_.AddOwn(categories, names);
  return true;
}

void GatheringWindow::StartGathering() {
  if (ended_) return;
  pending_.clear();
  claimed_.clear();
  if (!parallel()) {
    pending_.push_back(plan_);
  } else {
    for (MaskPlan& site : plan_.SplitBySite()) pending_.push_back(std::move(site));
  }
  if (pending_.empty()) {
    EndOfRun();  // nothing selected
    return;
  }
  const size_t lanes = std::min(pending_.size(), static_cast<size_t>(parallelSites_));
  if (parallel())
    WriteEventLog("Downloading " + std::to_string(pending_.size()) + " sites, " + std::to_string(lanes) +
                  " at a time.");
  // The first lane takes over the window's browser and the engine's image
  // connection, so that one lane runs exactly as the whole run did alone.
  while (lanes_.size() < lanes) {
    const bool first = lanes_.empty();
    lanes_.push_back(std::make_unique<SiteLane>(*this, first ? &browser_ : nullptr,
                                                first ? engine_.images_.get() : nullptr));
  }
  // A lane whose site has nothing to visit is done at once and comes back
  // through OnLaneDone; the others are begun all the same.
  for (size_t i = 0; i < lanes && !ended_; ++i) Dispatch(*lanes_[i]);
}

void GatheringWindow::OnLaneDone(SiteLane& lane) {
  // The last lane ends the run at once, as the end of the plan did before;
  // a lane that takes the next site does so from the event loop, outside
  // the step that finished its last one.
  if (pending_.empty()) {
    Dispatch(lane);
    return;
  }
  Post([this, &lane] { Dispatch(lane); });
}

void GatheringWindow::Dispatch(SiteLane& lane) {
  if (ended_ || lane.active()) return;
  if (!pending_.empty()) {
    MaskPlan next = std::move(pending_.front());
    pending_.pop_front();
    lane.Begin(std::move(next));
    return;
  }
  if (std::none_of(lanes_.begin(), lanes_.end(), [](const auto& l) { return l->active(); })) EndOfRun();
}

void GatheringWindow::EndOfRun() {
  WriteEventLog(kDownloadCompleted);
  if (engine_.runStatus_ == 1) {
    if (!plan_.empty()) {
      if (Database* db = ProcessDatabase()) {
        db->Begin();
        db->Commit();
      }
      CloseDatabase();
      ReportStatus(kDownloadCompleted);
    } else {
      const char* text = ownOnly_ ? kNothingToDo : kSelectCategories;
      ReportStatus(text);
      WriteEventLog(text);
    }
  }
  Finish();
}

SiteLane::SiteLane(GatheringWindow& window, Browser* browser, HttpSession* images)
    : window_(window),
      ownBrowser_(browser ? nullptr : std::make_unique<Browser>()),
      ownImages_(images ? nullptr : std::make_unique<HttpSession>()),
      browser_(browser ? *browser : *ownBrowser_),
      images_(images ? *images : *ownImages_),
      job_(this, window.dbPath()),
      fetchJob_(this, window.dbPath()) {
  if (ownImages_) ownImages_->SetTimeoutSeconds(window.connectTimeout_);
  state_.load_images = window.loadImages_;
  pageTimer_.setSingleShot(true);
  connect(&pageTimer_, &QTimer::timeout, this, [this] { OnPageTimer(); });
  connect(&browser_, &Browser::DocumentComplete, this, [this](const std::string& url) { OnDocumentComplete(url); });
  connect(&browser_, &Browser::NavigateError, this,
          [this](const std::string& url, int code, const std::string& reason) { OnNavigateError(url, code, reason); });
}

SiteLane::~SiteLane() {
  fetchJob_.Cancel();
  job_.Cancel();
  if (fetched_) DiscardImages(*fetched_->fetch);
}

bool SiteLane::Live() const {
  return active_ && !window_.ended_ && window_.phase_ == GatheringWindow::Phase::kGathering;
}

void SiteLane::ReportStatus(const std::string& text) { window_.ReportStatus(text); }

void SiteLane::Begin(MaskPlan plan) {
  plan_ = std::move(plan);
  active_ = true;
  nextMaskAfterStore_ = false;
  StartNextMask();
}

void SiteLane::Halt() {
  pageTimer_.stop();
  browser_.Stop();
  browser_.DropPrefetch();
}

void SiteLane::OnDocumentComplete(const std::string& url) {
  if (!Live()) return;
  std::string completed = url;
  std::string location = browser_.LocationUrl();
  for (char& c : completed) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (char& c : location) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (completed == location || (!currentUrl_.empty() && completed.find(currentUrl_) != std::string::npos))
    Post([this] { HandlePageComplete(); });
}

void SiteLane::OnNavigateError(const std::string& url, int code, const std::string& reason) {
  if (!Live()) return;
  failedText_ = url + " Error code: " + std::to_string(code);
  // Transport failures carry libcurl's words; HTTP statuses speak for themselves.
  if (code < 100) failedText_ += " (" + reason + ")";
  failedReason_ = code >= 100 ? "HTTP status " + std::to_string(code) : reason;
  Post([this] { HandleNavigationError(false); });
}

void SiteLane::OnPageTimer() {
  if (!Live()) return;
  if (window_.readAfterTimeout_) {
    browser_.Stop();
    WriteEventLog("NAVIGATE ERROR, URL: " + currentUrl_ + " (timeout) Reading...");
    Post([this] { HandlePageComplete(); });
    return;
  }
  failedText_ = currentUrl_;
  failedReason_ = "no answer within " + std::to_string(window_.connectTimeout_) + " s";
  Post([this] { HandleNavigationError(true); });
}

void SiteLane::HandleNavigationError(bool timeout) {
  if (!Live()) return;
  WriteEventLog("NAVIGATE ERROR, URL: " + failedText_ + (timeout ? " (timeout)" : ""));
  if (failedText_.find(currentUrl_) == std::string::npos) return;  // a sub-document, not the page
  pageTimer_.stop();
  browser_.Stop();
  ReportStatus("Can not read the page [" + currentUrl_ + "]: " + failedReason_ + ".");
  SkipCurrentPage();
}

void SiteLane::SkipCurrentPage() {
  if (listPhase_) {
    plan_.SkipNewsStep();
    StartNextMask();
    return;
  }
  // An own feed's entry still has the feed's own text.
  if (OwnCategory() && StoreFromFeedOnly()) return;
  // Another site that lists the page may still bring it.
  if (window_.parallel()) window_.Unclaim(currentUrl_);
  if (!state_.links.empty()) state_.links.erase(state_.links.begin());
  RequestNextUnstoredLink();
}

void SiteLane::RequestNextUnstoredLink() {
  Database* db = ProcessDatabase();
  while (!state_.links.empty()) {
    if (db && IsStoredAddress(*db, state_.links.front().address)) {
      state_.links.erase(state_.links.begin());
      continue;
    }
    RequestFirstLink();
    return;
  }
  StartNextMask();
}

void SiteLane::HandlePageComplete() {
  if (!Live()) return;
  if (browser_.Busy()) browser_.Stop();
  // What is left of the page's time-out is the parse's; a page read after its
  // time-out gets a time-out of its own for that.
  const int left = pageTimer_.isActive() ? pageTimer_.remainingTime() : window_.connectTimeout_ * 1000;
  pageBudget_ = std::chrono::milliseconds(std::max(left, 0));
  pageTimer_.stop();
  const BrowserDocument* doc = browser_.Document();
  if (!doc || doc->requestedUrl != currentUrl_) {
    // Nothing of this page arrived: skip it like a failed page.
    WriteEventLog("NAVIGATE ERROR, URL: " + currentUrl_ + " (no document)");
    ReportStatus("Can not read the page [" + currentUrl_ + "]: nothing arrived.");
    SkipCurrentPage();
    return;
  }
  ProcessPage(*doc);
}

void SiteLane::ProcessPage(const BrowserDocument& doc) {
  const DateTime now = DateTime::Now();
  state_.BeginPage(now);
  state_.list_phase = listPhase_;
  const auto deadline = std::chrono::steady_clock::now() + pageBudget_;
  std::optional<PagePtr> parsed = ParseWithin(window_.workers_, doc, pageBudget_);
  if (!parsed) {
    WriteEventLog("NAVIGATE ERROR, URL: " + currentUrl_ + " (timeout while reading the page)");
    ReportStatus("Can not read the page [" + currentUrl_ + "]: reading it took longer than its time-out.");
    SkipCurrentPage();
    return;
  }
  const HtmlDocument& page = **parsed;
  const size_t linksBefore = state_.links.size();
  if (mask_ && !WalkPage(page, *mask_, state_, deadline)) {
    // What is left of the page's time-out is the walk's too: a mask that
    // multiplies over a big page must not hold the engine for minutes.
    WriteEventLog("NAVIGATE ERROR, URL: " + currentUrl_ + " (timeout while applying the mask)");
    ReportStatus("Can not read the page [" + currentUrl_ + "]: applying its mask took longer than its time-out.");
    state_.ClearNewsItem();
    if (listPhase_) state_.links.resize(linksBefore);
    SkipCurrentPage();
    return;
  }
  if (listPhase_) AfterListWalk(page, doc);
  else AfterNewsWalk(*parsed, deadline);
  if (!listPhase_ && OwnCategory()) {
    MergeFeedEntry();
    if (PairRun* pair = health_.Current()) {
      ++pair->pagesWalked;
      if (state_.body.empty()) ++pair->emptyBodies;
      if (state_.title.empty()) ++pair->emptyTitles;
    }
  }
  if (!listPhase_ && !state_.body.empty()) {
    StoreItem();  // goes on with the next page once the item's pictures are in
    return;
  }
  if (!listPhase_)
    ReportStatus("Can not find the news item on the page [" + currentUrl_ + "]: " +
                 (window_.autoNews_.autoExtract ? "neither its news mask nor the automatic extraction found its text."
                                                : "its news mask found no text."));
  state_.ClearNewsItem();

  if (listPhase_) {
    if (!state_.links.empty()) {
      if (mask_) ApplyLinkDates(*mask_, Settings::Shared().ReadInt(kDownloadSection, "Days", 0), now, state_);
      if (Database* db = ProcessDatabase()) {
        // One compaction: erasing one by one is quadratic on long lists.
        const bool parallel = window_.parallel();
        std::erase_if(state_.links, [this, db, parallel](const NewsLink& link) {
          return IsStoredAddress(*db, link.address) || (parallel && window_.Claimed(link.address));
        });
      }
    }
    if (state_.links.size() > static_cast<size_t>(window_.maxLinksPerList_)) {
      // The first ones, as the page lists them; the next run takes the rest.
      WriteEventLog(std::to_string(state_.links.size() - window_.maxLinksPerList_) + " of " +
                    std::to_string(state_.links.size()) + " new links of the list page [" + currentUrl_ +
                    "] are left for a later download: beyond MaxLinksPerList (" +
                    std::to_string(window_.maxLinksPerList_) + ").");
      state_.links.resize(window_.maxLinksPerList_);
    }
    if (state_.links.empty()) {
      plan_.SkipNewsStep();
      StartNextMask();
      return;
    }
    listPhase_ = false;
    if (LoadMask(MaskPhase::kNews) != LoadResult::kLoaded) return;
    totalLinks_ = state_.links.size();
    RequestFirstLink();
    return;
  }
  NextNewsPage();
}

void SiteLane::NextNewsPage() {
  if (!Live()) return;
  if (!state_.links.empty()) state_.links.erase(state_.links.begin());
  if (!state_.links.empty()) {
    RequestFirstLink();
  } else {
    StartNextMask();
  }
}

void SiteLane::StoreItem() {
  FinishedNewsItem finished = FinishNewsItem(state_, currentUrl_);
  state_.ClearNewsItem();
  auto item = std::make_shared<NewsItemRecord>();
  item->body = std::move(finished.body);
  item->title = std::move(finished.title);
  item->author = std::move(finished.author);
  item->address = std::move(finished.address);
  item->siteCatRel = maskRow_.siteCatRel;
  if (!state_.links.empty()) {
    const DateTime& date = state_.links.front().date;
    if (date.valid() && date.year >= 1970) item->publicationDate = date.ToString();
  }
  for (auto& image : finished.images) item->images.push_back({std::move(image.source), std::move(image.caption)});
  const std::string address = currentUrl_;
  const bool loadImages = window_.loadImages_;
  size_t images = 0;
  if (loadImages) {
    const ImagesLeftOut left =
        LeaveOutImages(FitBuffer(item->body, kBodyColumn), item->images, window_.maxImagesPerItem_);
    if (left.cut > 0)
      WriteEventLog(std::to_string(left.cut) + " pictures of [" + address +
                    "] are not fetched: their places fell off the end of the stored text.");
    if (left.overCap > 0)
      WriteEventLog(std::to_string(left.overCap) + " pictures of [" + address + "] are not fetched: beyond MaxImagesPerItem (" +
                    std::to_string(window_.maxImagesPerItem_) + ").");
    images = static_cast<size_t>(
        std::count_if(item->images.begin(), item->images.end(), [](const ItemImage& i) { return !i.leftOut; }));
  }
  PendingStore store{std::move(item), address, images, autoMark_};
  // While the item is stored the next page is already on its way; it is
  // still asked for, logged and timed in its turn. Side by side, the next
  // link may yet be taken by another lane.
  if (!window_.parallel() && state_.links.size() > 1 && formFields_.empty()) browser_.Prefetch(state_.links[1].address);
  waitingStore_ = std::move(store);
  MoveStoresOn();
}

// An item whose pictures are in is written once the one before it is; the
// pictures of the item walked after it come meanwhile, and the category ends
// with the last write.
void SiteLane::MoveStoresOn() {
  if (fetched_ && !job_.busy()) {
    FetchedStore next = std::move(*fetched_);
    fetched_.reset();
    BeginWrite(std::move(next.store), std::move(next.fetch));
  }
  if (waitingStore_ && !fetched_ && !fetchJob_.busy()) {
    PendingStore next = std::move(*waitingStore_);
    waitingStore_.reset();
    BeginFetch(std::move(next));
  }
  if (nextMaskAfterStore_ && !job_.busy() && !fetchJob_.busy() && !fetched_ && !waitingStore_) {
    nextMaskAfterStore_ = false;
    StartNextMask();
  }
}

void SiteLane::BeginFetch(PendingStore store) {
  // The pictures come off the main thread, over the lane's own connection,
  // so that bus calls are answered and progress is raised meanwhile.
  auto item = store.item;
  picturesIn_ = false;
  fetchJob_.Run<std::shared_ptr<ImageFetch>>(
      [this, item, loadImages = window_.loadImages_, timeout = window_.connectTimeout_](BackgroundJob& job) {
        job.SetDoing("storing the news item [" + item->address + "]");
        auto fetch = std::make_shared<ImageFetch>();
        if (!loadImages || item->images.empty()) return fetch;
        ImageFetchOptions options;
        options.folder = ImagesFolder();
        options.hosts = &window_.imageHosts_;
        options.cancel = &job.cancelFlag();
        options.retryTimeoutSeconds = std::min(timeout, 15);
        const size_t count = item->images.size();
        options.onImage = [&job, count](size_t i, const std::string& url) {
          job.SetDoing("downloading image " + std::to_string(i + 1) + " from " + std::to_string(count) + " [" +
                       url + "]");
        };
        *fetch = FetchImages(images_, item->images, options);
        if (job.cancelled()) DiscardImages(*fetch);
        return fetch;
      },
      [this, store = std::move(store)](std::shared_ptr<ImageFetch> fetch) { OnFetched(store, std::move(fetch)); });
}

void SiteLane::OnFetched(PendingStore store, std::shared_ptr<ImageFetch> fetch) {
  if (!Live()) {
    DiscardImages(*fetch);
    waitingStore_.reset();
    return;
  }
  const std::string address = store.address;
  const size_t images = store.images;
  const int failed = fetch->failed + fetch->skipped;
  fetched_ = FetchedStore{std::move(store), std::move(fetch)};
  MoveStoresOn();
  OnPicturesIn(address, images, failed);
}

void SiteLane::BeginWrite(PendingStore store, std::shared_ptr<ImageFetch> fetch) {
  SharedStore shared;
  shared.writer = &window_.storeWriter_;
  // Only the commit waits for the other lanes.
  auto item = store.item;
  job_.Run<StoreResult>(
      [item, fetch, shared](BackgroundJob& job) {
        job.SetDoing("storing the news item [" + item->address + "]");
        Database* db = job.db();
        if (!db) {
          DiscardImages(*fetch);
          WriteEventLog(kCannotOpen);
          StoreResult failed;
          failed.error = SQLITE_CANTOPEN;
          failed.why = kCannotOpen;
          return failed;
        }
        ImageFetchOptions options;
        options.folder = ImagesFolder();
        options.cancel = &job.cancelFlag();
        return StoreFetchedItem(*db, *item, *fetch, std::time(nullptr), options, shared);
      },
      [this, store = std::move(store)](StoreResult result) { OnStoreDone(store, result); });
}

// The pictures are in: what is left is the write, which needs the network no
// more, so the next page is asked for meanwhile. Missing pictures are told
// first, so that the status names the next page while it is read.
void SiteLane::OnPicturesIn(const std::string& address, size_t images, int failed) {
  if (!Live() || picturesIn_) return;
  picturesIn_ = true;
  if (failed > 0)
    ReportStatus(std::to_string(failed) + " of " + std::to_string(images) + " images of [" + address +
                 "] could not be downloaded.");
  NextNewsPage();
}

void SiteLane::OnStoreDone(const PendingStore& store, const StoreResult& result) {
  NoteStoredItem(result.id, store.mark);
  OnItemStored(store.address, result);
  if (!Live()) {
    waitingStore_.reset();
    if (fetched_) DiscardImages(*fetched_->fetch);
    fetched_.reset();
    return;
  }
  MoveStoresOn();
}

void SiteLane::OnItemStored(const std::string& address, const StoreResult& result) {
  if (!Live()) return;
  if (result.id < 0 && !result.duplicate) {
    ReportStatus("Can not store the news item [" + address + "]: " + result.why + ".");
    if (!result.lostServer.empty()) {
      window_.FailLost(result.lostServer);
      return;
    }
    if (window_.parallel()) window_.Unclaim(address);
  }
}

std::string SiteLane::WaitingText() const {
  using namespace std::chrono;
  // A picture that does not come says more than the write waiting for it.
  for (const BackgroundJob* job : {&fetchJob_, &job_}) {
    if (!job->busy()) continue;
    steady_clock::duration since{};
    const std::string doing = job->Doing(&since);
    if (doing.empty()) return {};
    return "Still " + doing + " (" + std::to_string(duration_cast<seconds>(since).count()) + " s).";
  }
  if (!pageTimer_.isActive()) return {};
  return "Still waiting for the page [" + currentUrl_ + "] (" +
         std::to_string(duration_cast<seconds>(steady_clock::now() - waitSince_).count()) + " s of " +
         std::to_string(window_.connectTimeout_) + " s).";
}

void SiteLane::NoteStoredItem(int64_t id, int mark) {
  if (id < 0 || !Live()) return;
  if (PairRun* pair = health_.Current()) {
    ++pair->itemsStored;
    if (mark & 1) ++pair->autoItems;
  }
  if (mark != 0 && OpenDatabase() == 0) MarkAutoItem(*ProcessDatabase(), id, static_cast<AutoMark>(mark));
}

void SiteLane::AfterListWalk(const HtmlDocument& page, const BrowserDocument& doc) {
  PairRun* pair = health_.Current();
  if (pair) {
    pair->listLoaded = true;
    pair->linksFound = int(state_.links.size());
  }
  if (!state_.links.empty() || !window_.autoNews_.autoExtract) return;
  std::vector<NewsLink> links = FeedLinks(page, doc.bytes, window_.updatesHttp_);
  if (links.empty()) return;
  WriteEventLog("Site: [" + plan_.CurrentSite() + "], Category: [" + plan_.CurrentCategory() + "] " +
                std::to_string(links.size()) + " links taken from the site's feed");
  if (pair) pair->feedLinks = int(links.size());
  feedCategory_ = true;
  state_.links = std::move(links);
}

void SiteLane::AfterNewsWalk(const PagePtr& page, std::chrono::steady_clock::time_point deadline) {
  autoMark_ = feedCategory_ ? static_cast<int>(AutoMark::kFeedLink) : 0;
  PairRun* pair = health_.Current();
  // An own pair has no mask to judge: what it yields is counted once the
  // feed's entry is merged.
  if (pair && !OwnCategory()) {
    ++pair->pagesWalked;
    if (!mask_) pair->newsMaskEmpty = true;
    if (state_.body.empty()) ++pair->emptyBodies;
    if (state_.title.empty()) ++pair->emptyTitles;
  }
  if (!state_.body.empty() || !window_.autoNews_.autoExtract) return;
  state_.ClearNewsItem();
  // Under what is left of the page's time-out, as the parse: a hostile page
  // must not hold up the run. The work gets its own buffers (the links stay).
  std::vector<NewsLink> links = std::move(state_.links);
  ExtractionState work = state_;
  state_.links = std::move(links);
  work.links.clear();
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  using Extracted = std::pair<ExtractionState, AutoExtractResult>;
  std::optional<Extracted> done =
      RunWithin<Extracted>(window_.workers_, std::max(left, std::chrono::milliseconds(0)), [page, work = std::move(work)]() mutable {
        AutoExtractResult r = AutoExtract(*page, work);
        return Extracted(std::move(work), r);
      });
  if (!done) {
    WriteEventLog("Automatic extraction stopped, URL: " + currentUrl_ + " (timeout while reading the page)");
    return;
  }
  const AutoExtractResult r = done->second;
  if (!r.found) return;
  state_.body = std::move(done->first.body);
  state_.title = std::move(done->first.title);
  state_.author = std::move(done->first.author);
  state_.images = std::move(done->first.images);
  autoMark_ |= static_cast<int>(AutoMark::kBody);
  if (!state_.links.empty() && !state_.links.front().date.valid() && r.date.valid()) state_.links.front().date = r.date;
}

void SiteLane::FinishPairHealth() {
  health_.Finish(OpenDatabase() == 0 ? ProcessDatabase() : nullptr, [this](const std::string& s) { ReportStatus(s); },
                 &window_.updatesHttp_, &window_.updates_, window_.autoNews_.reportBroken);
}

void SiteLane::StartNextMask() {
  if (!Live()) return;
  // The pair's health counts its stored items: its last write ends it.
  if (job_.busy() || fetchJob_.busy() || fetched_ || waitingStore_) {
    nextMaskAfterStore_ = true;
    return;
  }
  FinishPairHealth();
  listPhase_ = true;
  state_.links.clear();  // whatever the last category left is abandoned
  if (LoadMask(MaskPhase::kList) != LoadResult::kLoaded) return;
  health_.Begin(maskRow_.siteCatRel);
  feedCategory_ = false;
  ownEntries_.clear();
  if (OwnCategory()) {
    FetchOwnFeed();
    return;
  }
  currentUrl_ = mask_->list_url;
  ArmAndRequest();
}

bool SiteLane::OwnCategory() const {
  const PlanCategory* c = plan_.Current();
  return c && c->ownPair != 0;
}

void SiteLane::FetchOwnFeed() {
  const PlanCategory own = *plan_.Current();
  currentUrl_ = own.feedUrl;
  WriteEventLog("Start download site: " + currentUrl_);
  ReportStatus(ProgressText());
  job_.Run<FeedFetch>(
      [this, own, timeout = window_.connectTimeout_](BackgroundJob& job) {
        job.SetDoing("reading the feed [" + own.feedUrl + "]");
        return FetchFeed(images_, own.feedUrl, own.etag, own.lastModified, timeout, &job.cancelFlag());
      },
      [this](FeedFetch fetched) { OnOwnFeed(std::move(fetched)); });
}

void SiteLane::OnOwnFeed(FeedFetch fetched) {
  if (!Live()) return;
  PairRun* pair = health_.Current();
  const std::string where = "Site: [" + plan_.CurrentSite() + "], Category: [" + plan_.CurrentCategory() + "] ";
  Database* db = OpenDatabase() == 0 ? ProcessDatabase() : nullptr;
  if (fetched.outcome == FeedFetch::Outcome::kNotModified) {
    // Nothing new, and nothing to judge the feed by.
    WriteEventLog(where + "the feed is not modified since the last download: " + currentUrl_);
    plan_.SkipNewsStep();
    StartNextMask();
    return;
  }
  if (fetched.outcome == FeedFetch::Outcome::kFailed) {
    WriteEventLog("NAVIGATE ERROR, URL: " + currentUrl_ + " (" + fetched.error + ")");
    ReportStatus("Can not read the feed [" + currentUrl_ + "]: " + fetched.error + ". What was stored before stays.");
    if (pair) {
      pair->listLoaded = true;
      pair->feedProblem = fetched.error;
    }
    plan_.SkipNewsStep();
    StartNextMask();
    return;
  }
  if (db) SaveFeedAnswer(*db, plan_.Current()->ownPair, fetched.etag, fetched.lastModified, fetched.feed.title);
  std::vector<FeedEntry>& entries = fetched.feed.entries;
  if (pair) {
    pair->listLoaded = true;
    pair->linksFound = int(entries.size());
    pair->feedLinks = int(entries.size());
    if (entries.empty()) pair->feedProblem = "the feed gives no entries";
  }
  const int days = Settings::Shared().ReadInt(kDownloadSection, "Days", 0);
  const DateTime now = DateTime::Now();
  state_.links.clear();
  const bool parallel = window_.parallel();
  for (FeedEntry& e : entries) {
    if (days > 0 && e.date.valid() && now.Serial() - e.date.Serial() > days) continue;
    if ((db && IsStoredAddress(*db, e.address)) || (parallel && window_.Claimed(e.address))) continue;
    state_.links.push_back({e.address, e.date});
    ownEntries_.emplace(e.address, std::move(e));
  }
  if (state_.links.empty()) {
    plan_.SkipNewsStep();
    StartNextMask();
    return;
  }
  feedCategory_ = true;
  listPhase_ = false;
  if (LoadMask(MaskPhase::kNews) != LoadResult::kLoaded) return;
  totalLinks_ = state_.links.size();
  RequestFirstLink();
}

namespace {

// Characters of text a body shows, tags and entities aside: enough to tell
// a page's body much shorter than the feed's own.
size_t ShownLength(const std::string& html) {
  size_t n = 0;
  bool tag = false;
  for (char c : html) {
    if (c == '<')
      tag = true;
    else if (c == '>')
      tag = false;
    else if (!tag && (static_cast<unsigned char>(c) & 0xC0) != 0x80 && c != ' ')
      ++n;
  }
  return n;
}

}  // namespace

// Titles, authors and dates come from the feed; the page's body stands
// unless it is missing or much shorter than the feed's full content.
void SiteLane::MergeFeedEntry() {
  auto it = ownEntries_.find(currentUrl_);
  if (it == ownEntries_.end()) return;
  const FeedEntry& e = it->second;
  if (!e.title.empty()) state_.title = e.title;
  if (!e.author.empty()) state_.author = e.author;
  ExtractionState feed;
  feed.load_images = state_.load_images;
  ComposeFeedContent(e.content, currentUrl_, feed);
  const size_t pageLength = ShownLength(state_.body), feedLength = ShownLength(feed.body);
  if (!feed.body.empty() && (state_.body.empty() || (e.fullContent && pageLength * 2 < feedLength))) {
    state_.body = std::move(feed.body);
    state_.images = std::move(feed.images);
    autoMark_ = static_cast<int>(AutoMark::kFeedLink);
  }
  if (!state_.body.empty()) autoMark_ |= static_cast<int>(AutoMark::kFeedLink);
}

bool SiteLane::StoreFromFeedOnly() {
  if (state_.links.empty() || ownEntries_.find(currentUrl_) == ownEntries_.end()) return false;
  state_.ClearNewsItem();
  MergeFeedEntry();
  if (state_.body.empty()) return false;
  WriteEventLog("Site: [" + plan_.CurrentSite() + "], Category: [" + plan_.CurrentCategory() +
                "] the page could not be read; the feed's own text is stored: " + currentUrl_);
  StoreItem();
  return true;
}

SiteLane::LoadResult SiteLane::LoadMask(MaskPhase phase) {
  mask_.reset();
  const int id = plan_.NextMaskId();
  if (id == -1) {
    FinishPairHealth();
    active_ = false;
    window_.OnLaneDone(*this);
    return LoadResult::kFailed;
  }
  if (const PlanCategory* own = plan_.Current(); own && own->ownPair != 0) {
    maskRow_ = StoredMask{};
    maskRow_.siteCatRel = static_cast<int>(own->ownPair);
    return LoadResult::kLoaded;
  }
  StoredMask row;
  if (OpenDatabase() != 0 || ReadStoredMask(*ProcessDatabase(), id, &row) != 0) {
    if (Database* db = ProcessDatabase(); db && db->Lost()) {
      window_.FailLost(db->Describe());
      return LoadResult::kFailed;
    }
    WriteEventLog(kDownloadCompleted);
    if (window_.runStatus() == 32) ReportStatus(kCannotOpen);
    window_.Finish();
    return LoadResult::kFailed;
  }
  if (phase == MaskPhase::kNews && row.version == 0) {
    // Withdrawn by the updates server (the plan holds it only with
    // AutoExtract): whatever text it kept is not read.
    WriteEventLog("Site: [" + plan_.CurrentSite() + "], Category: [" + plan_.CurrentCategory() +
                  "] news mask withdrawn: its pages are read by automatic extraction");
    maskRow_ = row;
    return LoadResult::kLoaded;
  }
  MaskLoadResult loaded = LoadMaskHex(row.hex, phase);
  if (loaded.outcome == MaskLoadOutcome::kMarkup) {
    const std::string text = std::string("ERROR loading mask : ") + MaskFailureName(loaded.outcome);
    WriteEventLog(text);
    ReportStatus(text);
    ResetMask(*ProcessDatabase(), id);
    window_.Finish();
    return LoadResult::kFailed;
  }
  if (loaded.outcome != MaskLoadOutcome::kLoaded) {
    const std::string text = std::string("ERROR loading mask : ") + MaskFailureName(loaded.outcome);
    WriteEventLog(text);
    ReportStatus(text);
    if (phase == MaskPhase::kNews && window_.autoNews_.autoExtract) {
      // An empty news mask: the pages are read by automatic extraction.
      maskRow_ = row;
      return LoadResult::kLoaded;
    }
    if (phase == MaskPhase::kList) plan_.SkipNewsStep();
    state_.links.clear();
    Post([this] { StartNextMask(); });
    return LoadResult::kSkipped;
  }
  maskRow_ = row;
  for (auto& field : loaded.mask.form_fields) formFields_.push_back(field);
  mask_ = std::move(loaded.mask);
  return LoadResult::kLoaded;
}

void SiteLane::ArmAndRequest() {
  pageTimer_.start(window_.connectTimeout_ * 1000);
  waitSince_ = std::chrono::steady_clock::now();
  Post([this] { Navigate(); });
}

void SiteLane::Navigate() {
  if (!Live()) return;
  WriteEventLog("Start download site: " + currentUrl_);
  ReportStatus(ProgressText());
  if (!formFields_.empty()) {
    std::string body;
    for (const auto& field : formFields_) body += (body.empty() ? "" : "&") + field.name + "=" + field.value;
    body.push_back('\0');
    browser_.Navigate(currentUrl_, body, {"Content-Type:application/x-www-form-urlencoded"});
    formFields_.clear();
  } else {
    browser_.Navigate(currentUrl_);
  }
}

void SiteLane::RequestFirstLink() {
  // Side by side, a page another lane has taken is passed over like a
  // stored one.
  if (window_.parallel()) {
    while (!state_.links.empty() && !window_.Claim(state_.links.front().address))
      state_.links.erase(state_.links.begin());
    if (state_.links.empty()) {
      StartNextMask();
      return;
    }
  }
  currentUrl_ = state_.links.front().address;
  ArmAndRequest();
}

std::string SiteLane::ProgressText() const {
  std::string text = "Site: [" + plan_.CurrentSite() + "], Category: [" + plan_.CurrentCategory() + "] ";
  if (listPhase_) {
    text += "<News searching...>";
  } else {
    text += "<News: " + std::to_string(totalLinks_ - state_.links.size() + 1) + " from " +
            std::to_string(totalLinks_) + ">";
  }
  return text + " URL: [" + currentUrl_ + "]";
}

GathererEngine::GathererEngine(QObject* parent) : QObject(parent), images_(std::make_unique<HttpSession>()) {
  dbPath_ = NewsDatabaseLocation(Settings::Shared(), kPathBuffer);
  SetProcessDatabasePath(dbPath_);
}

GathererEngine::~GathererEngine() { StopDropping(); }

// The clean-up at a run's start only queues the deleted items' texts; after
// the run they leave the index here, a short transaction at a time. A new
// run or the end of the process breaks off; the rest waits for next time.
void GathererEngine::DropDeletedInBackground() {
  StopDropping();
  stopDropping_ = false;
  dropper_ = std::thread([this, path = dbPath_] {
    int rc = DropAllDeletedFromIndex(path, stopDropping_);
    if (rc != 0 && (rc & 0xFF) != SQLITE_CANTOPEN)
      WriteEventLog("Can not drop the deleted news from the search index: " + HexCode(rc) +
                    "; the next run tries again.");
  });
}

void GathererEngine::StopDropping() {
  stopDropping_ = true;
  if (dropper_.joinable()) dropper_.join();
}

void GathererEngine::WaitForIndexWork() {
  if (dropper_.joinable()) dropper_.join();
}

bool GathererEngine::running() const { return startPending_ || (window_ && !window_->ended()); }

bool GathererEngine::StartProcess() {
  // Decided here, not when the posted start runs: two starts in a row must
  // not both be accepted.
  if (running()) {
    WriteEventLog("A download is already running; the new start request is ignored.");
    return false;
  }
  startPending_ = true;
  QMetaObject::invokeMethod(this, [this] { HandleStart(); }, Qt::QueuedConnection);
  return true;
}

void GathererEngine::Stop() {
  QMetaObject::invokeMethod(this, [this] { HandleStop(); }, Qt::QueuedConnection);
}

void GathererEngine::HandleStart() {
  startPending_ = false;
  if (running()) {
    WriteEventLog("A download is already running; the new start request is ignored.");
    return;
  }
  StopDropping();  // the download comes first
  if (idlePriority_) ::setpriority(PRIO_PROCESS, 0, 19);
  window_.reset();
  window_ = std::make_unique<GatheringWindow>(*this);
  GatheringWindow* window = window_.get();
  QMetaObject::invokeMethod(window, [window] { window->Start(); }, Qt::QueuedConnection);
}

void GathererEngine::HandleStop() { window_.reset(); }

void GathererEngine::ReportStatus(const std::string& text) {
  lastStatus_ = std::chrono::steady_clock::now();
  emit OnProcessStatus(QString::fromStdString(text), -1);
}

void GathererEngine::RaiseComplite() {
  DropDeletedInBackground();
  emit Complite(runStatus_);
}

bool GathererEngine::EventSourceAttached() const {
  return isSignalConnected(QMetaMethod::fromSignal(&GathererEngine::Complite));
}

}  // namespace orvo
