// One eBook generation run: the news of the marked filters become .lit
// volumes of at most MaxNewsPerLit items in the output folder (PathPC).
//
// The run works on its own thread at idle priority. It reports only through
// the two signals, which arrive on the thread that owns the object, so the
// bus object that owns a run merely forwards them.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "delivery.h"

namespace orvo {

// The fixed texts of the run, also written to the event log.
inline constexpr const char* kRunStarted = "*.lit files generation started";
inline constexpr const char* kRunSucceeded = "*.lit files generation completed successfully";
inline constexpr const char* kRunFailed = "Lit generation Failed";
inline constexpr const char* kNoFilters = "No filters for .lit files generator.";

// Which volumes a run writes: setting BookFormat ("lit", "epub" or "both").
enum class BookFormat { kLit, kEpub, kBoth };
inline constexpr const char* kBookFormatKey = "BookFormat";
// Case-insensitive; nullopt for anything else.
std::optional<BookFormat> ParseBookFormat(const std::string& text);
const char* BookFormatName(BookFormat format);
inline bool WritesLit(BookFormat f) { return f != BookFormat::kEpub; }
inline bool WritesEpub(BookFormat f) { return f != BookFormat::kLit; }
// The Generate argument that asks for a format (0: as the settings say).
int BookFormatCode(BookFormat format);
std::optional<BookFormat> BookFormatFromCode(int code);
// Added to the Generate argument: deliver the volumes whatever the
// after-run switches say (orvo generate --send).
inline constexpr int kSendNowFlag = 0x100;

// What the run reads from the settings file.
struct RunSettings {
  int maxNewsPerLit = 50;   // below 1 or missing: 50
  std::string outputDir;    // PathPC with a trailing "/", or the program's "lit/"
  BookFormat format = BookFormat::kLit;  // missing or unknown: lit
  static RunSettings Read();
};

// "news." and the time as "%Y%m%d%H%M.%S".
std::string VolumeBaseName(std::time_t t);
// "%s_%d.lit" in the output folder.
std::string VolumePath(const std::string& outputDir, const std::string& baseName, int index);
// "%s_%d.epub" beside it.
std::string EpubVolumePath(const std::string& outputDir, const std::string& baseName, int index);

class GenerationRun : public QObject {
  Q_OBJECT

 public:
  explicit GenerationRun(QObject* parent = nullptr);
  // Asks a running run to stop after its current volume and waits for it.
  ~GenerationRun() override;

  // Where the writer library is loaded from (tests point it elsewhere).
  void setWriterLibraryPath(const std::string& path) { writerLibrary_ = path; }
  // Writes this format instead of the one the settings name.
  void setFormat(std::optional<BookFormat> format) { formatOverride_ = format; }
  // Delivers this run's volumes even where the settings do not ask for it.
  void setSendNow(bool send) { sendNow_ = send; }
  // What delivery uses (tests give drives laid out in a folder).
  void setDeliveryTools(DeliveryTools tools) { delivery_ = std::move(tools); }

  // Starts the run on its worker thread. An object runs once: a second call
  // starts nothing and returns false.
  bool start();
  bool started() const { return started_; }
  QString status() const;

  // What the last run wrote, for callers that list them.
  int volumesWritten() const { return volumes_; }

 signals:
  void statusChanged(const QString& status);
  void complete(int result);  // always 1

 private:
  void Work();
  void Generate();
  void Report(const std::string& text);

  std::string writerLibrary_;
  std::optional<BookFormat> formatOverride_;
  bool sendNow_ = false;
  DeliveryTools delivery_;
  bool started_ = false;
  std::thread worker_;
  std::atomic<bool> cancel_{false};
  std::atomic<int> volumes_{0};
  mutable std::mutex statusMutex_;
  std::string status_;
};

}  // namespace orvo
