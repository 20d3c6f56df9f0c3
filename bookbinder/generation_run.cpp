#include "generation_run.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "cleanup.h"
#include "database.h"
#include "eventlog.h"
#include "filter_query.h"
#include "package.h"
#include "text.h"
#include "settings.h"
#include "writer_driver.h"

namespace orvo {

namespace {

// The run state (query, temp files, writer) exists once per process, so
// runs of two objects take turns.
std::timed_mutex g_runMutex;

bool EnsureFolder(const std::string& dir) {
  std::error_code ec;
  if (std::filesystem::is_directory(dir, ec)) return true;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    WriteEventLog("Can not create folder " + dir + ": " + ec.message());
    return false;
  }
  WriteEventLog("Created folder " + dir);
  return true;
}

}  // namespace

RunSettings RunSettings::Read() {
  Settings settings = Settings::Shared();
  RunSettings s;
  s.maxNewsPerLit = settings.ReadInt(kSystemSection, "MaxNewsPerLit", 50);
  if (s.maxNewsPerLit < 1) s.maxNewsPerLit = 50;
  s.outputDir = settings.ReadText(kSystemSection, "PathPC", "", kPathBuffer);
  if (s.outputDir.empty())
    s.outputDir = ModuleDirectory() + "lit/";
  else if (s.outputDir.back() != '/')
    s.outputDir += '/';
  return s;
}

std::string VolumeBaseName(std::time_t t) { return FormatLocalTime(t, "news.%Y%m%d%H%M.%S"); }

std::string VolumePath(const std::string& outputDir, const std::string& baseName, int index) {
  return outputDir + baseName + "_" + std::to_string(index) + ".lit";
}

GenerationRun::GenerationRun(QObject* parent)
    : QObject(parent), writerLibrary_(DefaultWriterLibraryPath()) {}

GenerationRun::~GenerationRun() {
  cancel_ = true;
  if (worker_.joinable()) worker_.join();
}

bool GenerationRun::start() {
  if (started_) return false;
  started_ = true;
  worker_ = std::thread([this] { Work(); });
  return true;
}

QString GenerationRun::status() const {
  std::lock_guard<std::mutex> lock(statusMutex_);
  return QString::fromStdString(status_);
}

// Logs the text, keeps it as the status and hands it to the object's thread.
// The text travels with the call, so a quick second report cannot overtake
// the first.
void GenerationRun::Report(const std::string& text) {
  WriteEventLog(text);
  {
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_ = text;
  }
  QString copy = QString::fromStdString(text);
  QMetaObject::invokeMethod(this, [this, copy] { emit statusChanged(copy); }, Qt::QueuedConnection);
}

void GenerationRun::Work() {
  // Building books must never compete with the user's work. On Linux the
  // nice value belongs to the thread.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);

  std::unique_lock<std::timed_mutex> turn(g_runMutex, std::defer_lock);
  while (!turn.try_lock_for(std::chrono::milliseconds(200))) {
    if (cancel_) return;
  }
  Generate();
  turn.unlock();
  QMetaObject::invokeMethod(this, [this] { emit complete(1); }, Qt::QueuedConnection);
}

void GenerationRun::Generate() {
  volumes_ = 0;
  const RunSettings settings = RunSettings::Read();
  Report(kRunStarted);

  std::string loadError;
  std::unique_ptr<WriterLibrary> library = WriterLibrary::Load(writerLibrary_, &loadError);
  if (!library) {
    WriteEventLog(loadError);
    Report(kRunFailed);
    return;
  }

  bool success = true;
  std::string baseName;
  NewsQuery query;
  if (OpenDatabase() != 0) {
    WriteEventLog("Can not open news database");
    success = false;
  } else if (query.Open(*ProcessDatabase(), std::time(nullptr)) != 0) {
    WriteEventLog("Can not open filters for litgen");
    success = false;
  } else {
    // Two runs within one second would share a name and the second would
    // overwrite the first's volumes: take the next free second instead.
    std::time_t stamp = std::time(nullptr);
    baseName = VolumeBaseName(stamp);
    for (std::error_code ec; std::filesystem::exists(VolumePath(settings.outputDir, baseName, 0), ec);)
      baseName = VolumeBaseName(++stamp);
    bool endOfRows = !query.Fetch();
    PackageFiles files(ModuleDirectory() + "temp/");
    if (!endOfRows && (!EnsureFolder(settings.outputDir) || !EnsureFolder(files.tempDir))) {
      success = false;
      endOfRows = true;
    }
    if (!endOfRows && !EnsureStylesheet(files)) {
      WriteEventLog("Can not write " + files.stylesheet);
      success = false;
      endOfRows = true;
    }
    while (!endOfRows) {
      if (cancel_) {
        WriteEventLog("Lit generation stopped: its client went away");
        success = false;
        break;
      }
      VolumeRequest request;
      request.maxNews = settings.maxNewsPerLit;
      request.volumeIndex = volumes_;
      request.buildTime = std::time(nullptr);
      int items = 0;
      if (BuildPackage(*ProcessDatabase(), query, &endOfRows, request, files, &items) != 0) {
        success = false;
        break;
      }
      if (items == 0) break;
      std::string output = VolumePath(settings.outputDir, baseName, volumes_);
      if (WriteLitFile(files.package, output, library->writer()) != 0) {
        WriteEventLog("Can not write " + output);
        success = false;
        break;
      }
      WriteEventLog("Written " + output + " (" + std::to_string(items) + " news)");
      ++volumes_;
    }
    if (int rc = query.error()) {
      WriteEventLog("Can not read the news: error " + HexCode(rc));
      success = false;
    }
    if (volumes_ == 0 && success) {
      WriteEventLog(kNoFilters);
      success = false;
    }
    query.Close();
  }
  library.reset();

  if (!baseName.empty()) DeleteOldVolumes(settings.outputDir, baseName);
  Report(success ? kRunSucceeded : kRunFailed);
}

}  // namespace orvo
