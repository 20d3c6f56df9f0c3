#include "generation_run.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cleanup.h"
#include "cover.h"
#include "database.h"
#include "epub_volume.h"
#include "eventlog.h"
#include "store/filter_query.h"
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

// The stylesheet the .lit volumes get (the installation's data file in
// temp/), so both formats look alike; the built-in one when it is unreadable.
std::string ReadStylesheet(const PackageFiles& files) {
  std::ifstream in(files.stylesheet, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return in && !text.str().empty() ? text.str() : std::string(StylesheetText());
}

}  // namespace

std::optional<BookFormat> ParseBookFormat(const std::string& text) {
  if (EqualsNoCase(text, "lit")) return BookFormat::kLit;
  if (EqualsNoCase(text, "epub")) return BookFormat::kEpub;
  if (EqualsNoCase(text, "both")) return BookFormat::kBoth;
  return std::nullopt;
}

const char* BookFormatName(BookFormat format) {
  switch (format) {
    case BookFormat::kLit: return "lit";
    case BookFormat::kEpub: return "epub";
    case BookFormat::kBoth: return "both";
  }
  return "lit";
}

int BookFormatCode(BookFormat format) { return static_cast<int>(format) + 1; }

std::optional<BookFormat> BookFormatFromCode(int code) {
  code &= ~kSendNowFlag;
  if (code < 1 || code > 3) return std::nullopt;
  return static_cast<BookFormat>(code - 1);
}

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
  const std::string format = settings.ReadText(kSystemSection, kBookFormatKey, "lit");
  if (std::optional<BookFormat> f = ParseBookFormat(format)) {
    s.format = *f;
  } else {
    WriteEventLog("Unknown " + std::string(kBookFormatKey) + " \"" + format + "\": writing .lit volumes");
    s.format = BookFormat::kLit;
  }
  return s;
}

std::string VolumeBaseName(std::time_t t) { return FormatLocalTime(t, "news.%Y%m%d%H%M.%S"); }

std::string VolumePath(const std::string& outputDir, const std::string& baseName, int index) {
  return outputDir + baseName + "_" + std::to_string(index) + ".lit";
}

std::string EpubVolumePath(const std::string& outputDir, const std::string& baseName, int index) {
  return outputDir + baseName + "_" + std::to_string(index) + ".epub";
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
  RunSettings settings = RunSettings::Read();
  if (formatOverride_) settings.format = *formatOverride_;
  const bool lit = WritesLit(settings.format), epub = WritesEpub(settings.format);
  Report(kRunStarted);

  // EPUB volumes are written here; only .lit ones need the writer library.
  std::unique_ptr<WriterLibrary> library;
  if (lit) {
    std::string loadError;
    library = WriterLibrary::Load(writerLibrary_, &loadError);
    if (!library) {
      WriteEventLog(loadError);
      Report(kRunFailed);
      return;
    }
  }

  bool success = true;
  std::string baseName;
  std::vector<std::string> written;
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
    for (std::error_code ec; std::filesystem::exists(VolumePath(settings.outputDir, baseName, 0), ec) ||
                             std::filesystem::exists(EpubVolumePath(settings.outputDir, baseName, 0), ec);)
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
    bool coverToldWhy = false;
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
      request.writeFiles = lit;
      int items = 0;
      VolumeModel model;
      if (BuildPackage(*ProcessDatabase(), query, &endOfRows, request, files, &items, epub ? &model : nullptr) != 0) {
        success = false;
        break;
      }
      if (items == 0) break;
      if (lit) {
        std::string output = VolumePath(settings.outputDir, baseName, volumes_);
        if (WriteLitFile(files.package, output, library->writer()) != 0) {
          WriteEventLog("Can not write " + output);
          success = false;
          break;
        }
        WriteEventLog("Written " + output + " (" + std::to_string(items) + " news)");
        written.push_back(output);
      }
      if (epub) {
        std::string output = EpubVolumePath(settings.outputDir, baseName, volumes_);
        EpubOptions options;
        options.stylesheet = ReadStylesheet(files);
        std::string error, why;
        options.coverPng = DrawCoverPng(model, &why);
        if (options.coverPng.empty() && !coverToldWhy) {
          WriteEventLog("The EPUB volumes get " + why);
          coverToldWhy = true;
        }
        if (WriteEpubVolume(model, options, output, &error) != 0) {
          WriteEventLog(error);
          success = false;
          break;
        }
        WriteEventLog("Written " + output + " (" + std::to_string(items) + " news)");
        written.push_back(output);
      }
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
  // Only a whole run travels; each step shows as it happens.
  if (success && !cancel_)
    DeliverVolumes(written, DeliverySettings::Read(), sendNow_, delivery_, [this](const std::string& line) { Report(line); });
  Report(success ? kRunSucceeded : kRunFailed);
}

}  // namespace orvo
