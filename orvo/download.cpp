// orvo download: one gathering run from the command line, driven the way the
// scheduling service drives it: activate Gatherer on the session bus, listen
// to its events, StartProcess, wait for Complite, release.
#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <set>

#include "busframe.h"
#include "commands.h"
#include "eventlog.h"
#include "store/news_items.h"
#include "store/own_sites.h"
#include "gatherer_interface.h"
#include "http_setup.h"
#include "orvo_version.h"
#include "settings.h"
#include "runner_client.h"
#include "servercmd.h"

namespace orvo::cli {

namespace {

const char* kDownloadHelp =
    "Usage: orvo download [--home DIR] [--no-check]\n"
    "\n"
    "Runs one download: brings the catalogue and the masks up to date from the\n"
    "updates server (DownloadURL in ORVO.ini), then fetches the news of every\n"
    "selected site/category pair into the news database. Prints each status\n"
    "line of the gathering engine and, on a terminal, the progress.\n"
    "\n"
    "The gathering engine (Gatherer) is started through the D-Bus session bus:\n"
    "register it once with Gatherer -RegServer, run from the program folder.\n"
    "When the scheduling service (Timekeeper) is registered or running, the\n"
    "download goes through it, as the reader's downloads do, so that it never\n"
    "runs beside a scheduled one.\n"
    "\n"
    "  --home DIR    program folder (default: ORVO_HOME, else the folder of orvo, or\n"
    "                the XDG folders for an installed copy)\n"
    "  --no-check    do not check the updates server first; a download then goes\n"
    "                on with the masks already stored when the server is down\n"
    "\n"
    "At the end it says what was stored, and how many pages, masks, items and\n"
    "images failed.\n"
    "\n"
    "Exit status: 0 when the download ran to its end, 1 when it failed or\n"
    "nothing at all could be read (the reason is printed), 3 when the updates\n"
    "server does not answer, 4 when the gathering engine cannot be started, stops\n"
    "on its own or stays silent past every time-out, 130 when interrupted (Ctrl+C:\n"
    "a download this command started is stopped; one it joined goes on).\n";

constexpr int kExitFailed = 1;
constexpr int kExitNoUpdates = 3;
constexpr int kExitEngine = 4;
constexpr int kExitInterrupted = 130;
constexpr const char* kBusName = "org.orvo.Gatherer2";
constexpr const char* kProgramVersion = kVersion;

std::string FirstLine(const std::string& s) { return s.substr(0, s.find('\n')); }

// Asks the updates server for its catalogue page as the engine will. Empty
// when it answered; otherwise what went wrong.
std::string CheckUpdatesServer(const std::string& url, long timeoutSeconds) {
  HttpGlobalInit();
  CURL* curl = curl_easy_init();
  if (!curl) return "the HTTP library could not start";
  std::string body = std::string("_Ver=") + kProgramVersion;
  body.push_back('\0');
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type:application/x-www-form-urlencoded");
  char error[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  SetUpHttpHandle(curl, error);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, std::min(timeoutSeconds, 30L));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t n, void*) { return size * n; });
  CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  if (rc != CURLE_OK) return error[0] ? error : curl_easy_strerror(rc);
  if (status >= 400) return "it answers with HTTP status " + std::to_string(status);
  return {};
}

std::string WithoutSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The program folder the Gatherer registered on this bus works in, read from
// its activation file; empty when unknown.
std::string RegisteredEngineHome() {
  if (std::optional<std::string> home = RegisteredEnvironment(kBusName, "ORVO_HOME")) return *home;
  // No ORVO_HOME: the folder of the program itself.
  const std::string program = RegisteredProgram(kBusName);
  if (program.empty()) return {};
  const std::string folder = program.substr(0, program.rfind('/'));
  // The program folder of this orvo: the engine resolves the same folders
  // (an installed copy's are the XDG ones, not the program folder).
  if (WithoutSlash(folder) == WithoutSlash(ExecutableDirectory())) return ModuleDirectory();
  return folder;
}

// Ctrl+C asks the engine to stop before orvo leaves.
int g_signalPipe[2] = {-1, -1};
void OnSignal(int) {
  char c = 1;
  [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
}
// Read what the handler wrote, or the notifier fires again and again.
void DrainSignalPipe() {
  char buf[64];
  while (::read(g_signalPipe[0], buf, sizeof buf) > 0) {
  }
}

// One run, from activation to release.
class DownloadRun : public QObject {
 public:
  DownloadRun(Database& db, int pageTimeout) : db_(db), pageTimeout_(pageTimeout) {
    LastNewsId(db_, &lastItem_);
    progress_ = ::isatty(1) != 0;
  }

  // Through the scheduling service, as the reader starts downloads: it creates
  // the engine and relays its statuses, and a download already running is
  // followed instead of started twice.
  int RunThroughService(const QDBusConnection& bus) {
    RunnerClient client(bus);
    bool interrupted = false;
    QSocketNotifier interrupt(g_signalPipe[0], QSocketNotifier::Read);
    connect(&interrupt, &QSocketNotifier::activated, this, [&] {
      DrainSignalPipe();
      if (client.Interrupt()) interrupted = true;
    });
    RunnerOutcome outcome = client.Run(
        RunnerJob::kDownload, [this](const QString& text, int, int) { OnStatus(text.toStdString()); },
        (pageTimeout_ + 60) * 1000);
    if (outcome.left) {
      Fail(kExitInterrupted, "interrupted; this command stopped following the download, which goes on for whoever "
                             "started it (the reader, a schedule or another orvo download)");
    } else if (interrupted) {
      Fail(kExitInterrupted, "interrupted; the download was told to stop" + StoredBefore());
    } else if (!outcome.completed) {
      std::string why = outcome.error.toStdString();
      if (outcome.error.startsWith(QStringLiteral("Could not create instance")))
        why += "\nRegister the gathering engine with the bus first: Gatherer -RegServer (from the program folder), "
               "then run orvo download again.";
      Fail(kExitEngine, why);
    } else if (outcome.interrupted) {
      Fail(kExitEngine, "the gathering engine was lost before the end of the download (" +
                            (lastStatus_.empty() ? std::string("no status came") : "last status: \"" + lastStatus_ + "\"") +
                            "); see " + EventLogPath() + ", then run orvo download again" + StoredBefore());
    } else if (outcome.stopped) {
      Fail(kExitFailed, "the download was stopped (by the reader or another orvo download)" + StoredBefore());
    } else {
      Finish(1);
    }
    return exitCode_;
  }

  int Run() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
      std::fprintf(stderr,
                   "orvo download: no D-Bus session bus (%s).\n"
                   "Log in to a desktop session, or start a bus for this command: dbus-run-session -- orvo download\n",
                   qPrintable(bus.lastError().message()));
      return kExitEngine;
    }
    QString error;
    QDBusObjectPath path = CreateBusObject(bus, kBusName, &error);
    if (path.path().isEmpty()) {
      std::fprintf(stderr,
                   "orvo download: cannot start the gathering engine: %s\n"
                   "Register it on this bus with: Gatherer -RegServer (from the program folder), then run orvo "
                   "download again.\n",
                   qPrintable(error));
      return kExitEngine;
    }
    path_ = path.path();
    owner_ = bus.interface()->serviceOwner(kBusName).value();

    const QString service = owner_.isEmpty() ? QString(kBusName) : owner_;
    org::orvo::_IGatherer2Events events(service, path_, bus);
    connect(&events, &org::orvo::_IGatherer2Events::OnProcessStatus, this,
            [this](const QString& text, int) { OnStatus(text.toStdString()); });
    connect(&events, &org::orvo::_IGatherer2Events::Complite, this, [this](int status) { Finish(status); });

    // The engine leaving the bus before Complite means it crashed or was killed.
    QDBusServiceWatcher watcher(owner_.isEmpty() ? QString(kBusName) : owner_, bus,
                                QDBusServiceWatcher::WatchForUnregistration);
    connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
      Fail(kExitEngine, "the gathering engine stopped before the end of the download; see " + EventLogPath() +
                            StoredBefore());
    });

    // Each page has its own time-out in the engine; silence for longer than
    // that means the engine is stuck.
    silence_.setSingleShot(true);
    silence_.setInterval((pageTimeout_ + 60) * 1000);
    // The engine tells progress while it waits (pages, images, the catalogue),
    // so silence this long means it is stuck; say what became of it.
    connect(&silence_, &QTimer::timeout, this, [this] {
      const std::string silent = "the gathering engine reported nothing for " + std::to_string(pageTimeout_ + 60) +
                                 " s, not even that it was waiting (last status: " +
                                 (lastStatus_.empty() ? std::string("none") : "\"" + lastStatus_ + "\"") + ")";
      if (StopEngine()) {
        Fail(kExitEngine, silent + "; it was told to stop. See " + EventLogPath() + ".");
        return;
      }
      const uint pid = QDBusConnection::sessionBus().interface()->servicePid(owner_.isEmpty() ? kBusName : owner_);
      const std::string process = pid ? " (process " + std::to_string(pid) + ")" : std::string();
      Fail(kExitEngine, silent + ", and it does not answer the request to stop: it is stuck and may still be running" +
                            process + ". End it" + (pid ? " with kill " + std::to_string(pid) : std::string()) +
                            ", then run orvo download again.");
    });
    silence_.start();

    QSocketNotifier interrupt(g_signalPipe[0], QSocketNotifier::Read);
    connect(&interrupt, &QSocketNotifier::activated, this, [this] {
      DrainSignalPipe();
      if (finished_) return;
      StopEngine();
      Fail(kExitInterrupted, "interrupted; the gathering engine was told to stop");
    });

    org::orvo::IGatherer2 gatherer(service, path_, bus);
    QDBusPendingReply<> started = gatherer.StartProcess();
    started.waitForFinished();
    if (started.isError()) {
      Release();
      if (started.error().name() == QLatin1String(kErrorBusy)) {
        // Another client's run: its events are not ours to print or to stop.
        std::fprintf(stderr,
                     "orvo download: another download is already running in the gathering engine, so this one was "
                     "not started.\nWait for it to end, then run orvo download again.\n");
        return kExitEngine;
      }
      std::fprintf(stderr, "orvo download: the gathering engine refused to start: %s\n",
                   qPrintable(started.error().message()));
      return kExitEngine;
    }
    if (!finished_) QCoreApplication::exec();
    Release();
    return exitCode_;
  }

 private:
  void OnStatus(const std::string& text) {
    silence_.start();
    lastStatus_ = text;
    ClearProgress();
    std::printf("%s\n", text.c_str());
    static const QRegularExpression page(
        R"(^Site: \[(.*)\], Category: \[(.*)\] <(News searching\.\.\.|News: (\d+) from (\d+))> URL: )");
    auto m = page.match(QString::fromStdString(text));
    pageInFlight_ = m.hasMatch();
    if (m.hasMatch()) {
      if (pagesStarted_ == 0)
        plannedLists_ = CountPairsToVisit(db_);
      ++pagesStarted_;
      if (m.captured(4).isEmpty()) {
        ++listsStarted_;
      } else {
        newsKnown_[m.captured(1).toStdString() + "\n" + m.captured(2).toStdString() + "\n" +
                   std::to_string(listsStarted_)] = m.captured(5).toLongLong();
      }
    }
    if (text.rfind("Updating is completed.", 0) == 0) noSelection_ = true;
    // What went wrong, as the engine tells it.
    if (text.rfind("Can not read the page [", 0) == 0) ++pagesFailed_;
    if (text.rfind("ERROR loading mask : ", 0) == 0) ++masksFailed_;
    if (text.rfind("Can not store the news item [", 0) == 0) ++itemsFailed_;
    if (text.rfind("Can not find the news item on the page [", 0) == 0) ++pagesEmpty_;
    if (text.rfind("Can not visit ", 0) == 0) ++pairsLeftOut_;
    static const QRegularExpression images(R"(^(\d+) of \d+ images of \[.*\] could not be downloaded\.$)");
    if (auto im = images.match(QString::fromStdString(text)); im.hasMatch()) imagesFailed_ += im.captured(1).toLongLong();
    ShowProgress();
  }

  void ShowProgress() {
    if (!progress_ || pagesStarted_ == 0) return;
    int64_t known = std::max<int64_t>(plannedLists_, listsStarted_);
    for (const auto& [key, total] : newsKnown_) known += total;
    // A page is done when the engine reports the next step.
    std::printf("  [%lld of %lld pages, %lld items stored]", static_cast<long long>(pagesStarted_ - pageInFlight_),
                static_cast<long long>(known), static_cast<long long>(StoredItems()));
    std::fflush(stdout);
    progressShown_ = true;
  }

  void ClearProgress() {
    if (progressShown_) std::printf("\r\033[K");
    progressShown_ = false;
  }

  int64_t StoredItems() {
    int64_t items = 0, sites = 0;
    CountNewsAfter(db_, lastItem_, &items, &sites);
    return items;
  }

  // ". 12 new news items with 30 images were stored before." for a run that did not finish.
  std::string StoredBefore() {
    const int64_t items = StoredItems();
    const int64_t images = CountImagesOfItemsAbove(db_, lastItem_);
    if (items == 0) return ". No new news item was stored before.";
    return ". " + std::to_string(items) + (items == 1 ? " new news item with " : " new news items with ") +
           std::to_string(images) + (images == 1 ? " image" : " images") + (items == 1 ? " was" : " were") +
           " stored before; they stay.";
  }

  void Finish(int status) {
    if (finished_) return;
    ClearProgress();
    int64_t items = StoredItems();
    int64_t images = CountImagesOfItemsAbove(db_, lastItem_);
    const std::string failures = Failures();
    if (status == 1) {
      if (noSelection_) {
        std::printf("No site/category pair is selected for download. Choose with orvo select --all (or orvo select "
                    "SITE/CATEGORY), then run orvo download again.\n");
      } else if (!failures.empty() && pagesStarted_ <= pagesFailed_ + pagesEmpty_ && items == 0) {
        // Every page or mask failed: that is no success, whatever the engine's status.
        std::fprintf(stderr, "orvo download: nothing could be read: %s. See %s.\n", failures.c_str(),
                     EventLogPath().c_str());
        Done(kExitFailed);
        return;
      } else if (items == 0) {
        if (failures.empty())
          std::printf("No new news items: everything the selected sites list is already stored.\n");
        else
          std::printf("No new news items were stored; %s.\n", failures.c_str());
      } else {
        std::printf("Stored %lld new news %s with %lld %s.\n", static_cast<long long>(items),
                    items == 1 ? "item" : "items", static_cast<long long>(images), images == 1 ? "image" : "images");
        if (!failures.empty()) std::printf("Not everything came: %s.\n", failures.c_str());
      }
      Done(0);
    } else {
      std::fprintf(stderr, "orvo download: the download failed (status %d): %s\n", status,
                   lastStatus_.empty() ? ("see " + EventLogPath()).c_str() : lastStatus_.c_str());
      if (items > 0) std::fprintf(stderr, "%lld new news items were stored before it failed.\n",
                                  static_cast<long long>(items));
      Done(kExitFailed);
    }
  }

  // "3 of 8 pages could not be read; ..." or empty when nothing failed.
  std::string Failures() const {
    std::vector<std::string> parts;
    auto plural = [](int64_t n, const char* one, const char* many) {
      return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    if (pagesFailed_ > 0)
      parts.push_back(std::to_string(pagesFailed_) + " of " + std::to_string(pagesStarted_) +
                      (pagesStarted_ == 1 ? " page" : " pages") + " could not be read");
    if (pagesEmpty_ > 0)
      parts.push_back(plural(pagesEmpty_, "news page", "news pages") + " gave no news item");
    if (pairsLeftOut_ > 0)
      parts.push_back(plural(pairsLeftOut_, "selected site/category pair was", "selected site/category pairs were") +
                      " not visited (withdrawn from the updates server's catalogue)");
    if (masksFailed_ > 0) parts.push_back(plural(masksFailed_, "mask", "masks") + " could not be loaded");
    if (itemsFailed_ > 0)
      parts.push_back(plural(itemsFailed_, "news item", "news items") +
                      " could not be stored (the next download fetches them again)");
    if (imagesFailed_ > 0) parts.push_back(plural(imagesFailed_, "image", "images") + " could not be downloaded");
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : "; ") + p;
    return out;
  }

  void Fail(int code, const std::string& why) {
    if (finished_) return;
    ClearProgress();
    std::fprintf(stderr, "orvo download: %s\n", why.c_str());
    Done(code);
  }

  void Done(int code) {
    finished_ = true;
    exitCode_ = code;
    silence_.stop();
    QCoreApplication::exit(code);
  }

  // True when the engine answered the request.
  bool StopEngine() {
    org::orvo::IGatherer2 gatherer(kBusName, path_, QDBusConnection::sessionBus());
    gatherer.setTimeout(10000);
    QDBusPendingReply<> reply = gatherer.Stop();
    reply.waitForFinished();
    return !reply.isError();
  }

  void Release() {
    if (released_ || path_.isEmpty()) return;
    released_ = true;
    QString error;
    ReleaseBusObject(QDBusConnection::sessionBus(), kBusName, path_, &error);
  }

  Database& db_;
  int pageTimeout_;
  int64_t lastItem_ = 0;
  bool progress_ = false;
  bool progressShown_ = false;
  QString path_, owner_;
  QTimer silence_;
  std::string lastStatus_;
  int64_t pagesStarted_ = 0, listsStarted_ = 0, plannedLists_ = 0;
  bool pageInFlight_ = false;
  std::map<std::string, int64_t> newsKnown_;  // news pages announced per visit of a category
  bool noSelection_ = false;
  int64_t pagesFailed_ = 0, masksFailed_ = 0, itemsFailed_ = 0, imagesFailed_ = 0;
  int64_t pagesEmpty_ = 0, pairsLeftOut_ = 0;
  bool finished_ = false, released_ = false;
  int exitCode_ = kExitFailed;
};

}  // namespace

int RunDownload(const Args& input) {
  if (WantsHelp(input)) {
    std::fputs(kDownloadHelp, stdout);
    return 0;
  }
  Args args = input;
  if (!TakeHome(args, "download")) return 1;
  bool check = true;
  for (auto it = args.begin(); it != args.end();) {
    if (*it == "--no-check") {
      check = false;
      it = args.erase(it);
    } else {
      ++it;
    }
  }
  if (!args.empty()) {
    std::fprintf(stderr, "orvo download: unexpected argument '%s'\n\n%s", args[0].c_str(), kDownloadHelp);
    return 2;
  }
  // Each status line as it comes, also into a pipe or a log.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::unique_ptr<Database> db;
  if (int rc = OpenNewsDatabase("download", &db)) return rc;

  Settings settings = Settings::Shared();
  // As the engine reads it, so the watchdog below waits as long as a page may take.
  const int pageTimeout = ReadConnectTimeout(settings);
  std::string downloadUrl = settings.ReadText(kSystemSection, "DownloadURL", "", kReaderBuffer);
  // Without an updates server the run gathers the user's own sites alone.
  const bool ownOnly = downloadUrl.find_first_not_of(" \t") == std::string::npos && !OwnPlanSites(*db).empty();
  if (ownOnly) std::printf("No updates server is set; only your own sites are downloaded.\n");
  if (check && !ownOnly) {
    if (downloadUrl.empty()) {
      std::fprintf(stderr,
                   "orvo download: no updates server is set. Set DownloadURL=HOST:PORT/catalogue.asp in the section\n"
                   "[%s] of %s (the address orvo-updates prints when it starts),\n"
                   "or add your own sites with: orvo site add URL\n",
                   kSystemSection, settings.path().c_str());
      return kExitNoUpdates;
    }
    std::string url = "http://" + downloadUrl;
    std::printf("Checking the updates server %s ...\n", url.c_str());
    std::fflush(stdout);
    std::string problem = CheckUpdatesServer(url, pageTimeout);
    if (!problem.empty()) {
      std::fprintf(stderr,
                   "orvo download: the updates server does not answer at %s (%s).\n"
                   "Check that it is running (orvo-updates CATALOGUE_FOLDER) and that DownloadURL in %s names it,\n"
                   "then run orvo download again (or add --no-check to download with the masks already stored).\n",
                   url.c_str(), FirstLine(problem).c_str(), settings.path().c_str());
      return kExitNoUpdates;
    }
  }

  std::string engineHome = RegisteredEngineHome();
  if (!engineHome.empty() && WithoutSlash(engineHome) != WithoutSlash(ModuleDirectory()))
    std::fprintf(stderr,
                 "Note: the Gatherer registered on this bus works in %s, not in %s, so the news go to the database\n"
                 "set up there. To download here, register it from here: ORVO_HOME=%s Gatherer -RegServer\n",
                 engineHome.c_str(), WithoutSlash(ModuleDirectory()).c_str(), WithoutSlash(ModuleDirectory()).c_str());
  else
    NoteRegisteredDatabase("Gatherer", kBusName);

  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);
  }
  int argc = 1;
  char name[] = "orvo";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  DownloadRun run(*db, pageTimeout);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected() && TimekeeperAvailable(bus)) return run.RunThroughService(bus);
  return run.Run();
}

}  // namespace orvo::cli
