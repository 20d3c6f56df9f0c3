// The shared settings file (ORVO.ini) and the program folder it lives in.
//
// All four programs read a setting at the moment they need it, from the file,
// so a change one program writes is seen by the others at their next read (a
// file whose identity, size and times have not changed is not read again). Writes are read-modify-write under an advisory lock and replace the file
// atomically, so concurrent writers never lose each other's keys.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace orvo {

// Where this user's ORVO files live. Three cases, in this order:
//  - ORVO_HOME, when set and not empty: every file in that one folder (tests,
//    demos, several installations side by side);
//  - the folder of the running program, when it is writable and not the
//    installed program folder (<libexec>/orvo/): every file there, as a copy
//    unpacked or built in place;
//  - otherwise (an installed copy) the XDG folders: the data (database,
//    Images/, temp/, lit/) in $XDG_DATA_HOME/orvo/, ORVO.ini in
//    $XDG_CONFIG_HOME/orvo/, orvo_log.txt in $XDG_STATE_HOME/orvo/. These are
//    created when missing.
// Each folder ends in "/".
struct HomeFolders {
  enum class Source { kOrvoHome, kProgramFolder, kXdg };
  Source source = Source::kProgramFolder;
  std::string data;
  std::string config;
  std::string state;
};
HomeFolders ResolveHomeFolders();

// One line for the user, e.g. "the program folder /opt/orvo/" or
// "XDG folders (data ~/.local/share/orvo/, ...)".
std::string DescribeHomeFolders(const HomeFolders& folders);

// The read-only data files an installation ships (the reader's help page,
// the eBook templates, the demo data): <prefix>/share/orvo/ beside the
// installed program folder, with a trailing "/". It need not exist (a build
// folder has none).
std::string InstalledDataDirectory();

// The data folder of ResolveHomeFolders(), with a trailing "/": every file
// name of the system's own data files is built from it.
std::string ModuleDirectory();

// The config folder + "ORVO.ini".
std::string SettingsPath();

// Section names used by the programs.
inline constexpr const char* kSystemSection = "Software\\Vantelia\\ORVO\\Settings\\System";
inline constexpr const char* kDownloadSection = "Download";
inline constexpr const char* kCleanupSection = "Cleanup";
inline constexpr const char* kDeliverySection = "Delivery";  // the volumes to the reader's device
inline constexpr const char* kParserScheduleSection = "ParserSchedule";
inline constexpr const char* kLitScheduleSection = "LitSchedule";

// Text buffer sizes of the readers: a longer value is cut to size - 1 bytes.
inline constexpr size_t kPathBuffer = 260;    // 259 characters
inline constexpr size_t kReaderBuffer = 255;  // 254 characters

using IniEntries = std::vector<std::pair<std::string, std::string>>;

// One ini file. Section and key names are case-insensitive; comments, blank
// and unknown lines are kept on write. A file that does not exist reads as
// empty (every reader gets its default).
class Settings {
 public:
  explicit Settings(std::string path) : path_(std::move(path)) {}
  // The shared ORVO.ini of this program folder.
  static Settings Shared() { return Settings(SettingsPath()); }

  const std::string& path() const { return path_; }

  // Leading optional sign and decimal digits, like the private-profile integer
  // read; a missing key or a value without leading digits gives `def`.
  int ReadInt(const std::string& section, const std::string& key, int def) const;

  // For settings whose misreading would delete or wait for the wrong amount:
  // the whole value (blanks around it aside) must be an optional sign and
  // decimal digits within 32 bits. kInvalid leaves *out alone and puts what
  // the file holds in *text.
  enum class IntRead { kMissing, kNumber, kInvalid };
  IntRead ReadIntStrict(const std::string& section, const std::string& key, int* out,
                        std::string* text = nullptr) const;
  // ReadIntStrict, with a value that is not a number in range logged (with
  // its section and key) and read as missing: `def` is returned.
  int ReadIntChecked(const std::string& section, const std::string& key, int def) const;

  // The value cut to bufferSize - 1 bytes (on a UTF-8 character boundary);
  // `def` (cut the same way) when the key is missing.
  std::string ReadText(const std::string& section, const std::string& key,
                       const std::string& def = "", size_t bufferSize = 4096) const;

  bool HasKey(const std::string& section, const std::string& key) const;

  // Each returns false when the file cannot be written; nothing is changed then.
  bool WriteText(const std::string& section, const std::string& key, const std::string& value) const;
  bool WriteInt(const std::string& section, const std::string& key, int value) const;
  bool RemoveKey(const std::string& section, const std::string& key) const;

  // Rewrites one key that exists already, in a single locked
  // read-modify-write: `edit` gets the current value and returns the new one,
  // so a write another program makes meanwhile is never overwritten with a
  // stale value. A missing key stays missing.
  enum class Update { kWritten, kMissing, kFailed };
  Update UpdateText(const std::string& section, const std::string& key,
                    const std::function<std::string(const std::string& current)>& edit) const;

  // Every key=value line of a section, in file order.
  IniEntries ReadSection(const std::string& section) const;
  // Replaces every key of the section with `entries` (comments in it stay).
  bool ReplaceSection(const std::string& section, const IniEntries& entries) const;

 private:
  std::string path_;
};

// Download/ConnectTimeout as every program uses it, in seconds: missing, 0 or
// not a number mean 300; below 0 is 300 and beyond a day (timers count
// milliseconds in an int) is a day, each with a line in the log.
inline constexpr int kDefaultConnectTimeout = 300;
inline constexpr int kMaxConnectTimeout = 86400;
int ReadConnectTimeout(const Settings& settings);

}  // namespace orvo
