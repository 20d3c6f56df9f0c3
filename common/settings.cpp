#include "settings.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "eventlog.h"
#include "platform.h"
#include "text.h"

namespace orvo {

namespace {

std::string WithSlash(std::string dir) {
  if (dir.empty()) dir = "./";
  if (dir.back() != '/') dir += '/';
  return dir;
}

// The program folder of an installation (see the install rules), where the
// programs live but no user's files belong even when it is writable (root).
bool IsInstalledProgramFolder(const std::string& dir) {
  static const std::string suffix = std::string("/") + ORVO_INSTALL_LIBEXEC_SUFFIX + "/";
  return dir.size() >= suffix.size() && dir.compare(dir.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

HomeFolders ResolveHomeFolders() {
  HomeFolders f;
  if (const char* home = std::getenv("ORVO_HOME"); home && *home) {
    f.source = HomeFolders::Source::kOrvoHome;
    f.data = f.config = f.state = WithSlash(home);
    return f;
  }
  const std::string program = WithSlash(ExecutableDirectory());
  if (!IsInstalledProgramFolder(program) && ::access(program.c_str(), W_OK) == 0) {
    f.source = HomeFolders::Source::kProgramFolder;
    f.data = f.config = f.state = program;
    return f;
  }
  f.source = HomeFolders::Source::kXdg;
  f.data = XdgDataHome() + "/orvo/";
  f.config = XdgConfigHome() + "/orvo/";
  f.state = XdgStateHome() + "/orvo/";
  for (const std::string* dir : {&f.data, &f.config, &f.state}) {
    std::error_code ec;
    std::filesystem::create_directories(*dir, ec);  // a failure shows at the first write
  }
  return f;
}

std::string DescribeHomeFolders(const HomeFolders& f) {
  switch (f.source) {
    case HomeFolders::Source::kOrvoHome:
      return "ORVO_HOME " + f.data;
    case HomeFolders::Source::kProgramFolder:
      return "the program folder " + f.data;
    case HomeFolders::Source::kXdg:
      break;
  }
  return "XDG folders (data " + f.data + ", settings " + f.config + ", log " + f.state + ")";
}

std::string InstalledDataDirectory() {
  return WithSlash(ExecutableDirectory() + ORVO_DATA_FROM_PROGRAMS);
}

std::string ModuleDirectory() { return ResolveHomeFolders().data; }

std::string SettingsPath() { return ResolveHomeFolders().config + "ORVO.ini"; }

namespace {

// The file as lines; sections and keys are found by scanning, which keeps
// every line we do not understand exactly as it was.
struct IniText {
  static constexpr std::string_view kBom = "\xEF\xBB\xBF";
  std::vector<std::string> lines;
  bool bom = false;  // an editor's UTF-8 mark, kept for the next write

  static IniText Load(const std::string& path) {
    IniText ini;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      // The mark is not part of the first line: it would hide its section.
      if (ini.lines.empty() && !ini.bom && line.compare(0, kBom.size(), kBom) == 0) {
        line.erase(0, kBom.size());
        ini.bom = true;
      }
      ini.lines.push_back(line);
    }
    return ini;
  }

  static bool IsSection(const std::string& line, std::string* name) {
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[') return false;
    size_t close = t.find(']');
    if (close == std::string::npos) return false;
    if (name) *name = Trim(std::string_view(t).substr(1, close - 1));
    return true;
  }

  static bool IsKey(const std::string& line, std::string* key, std::string* value) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[') return false;
    size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    if (key) *key = Trim(std::string_view(line).substr(0, eq));
    if (value) {
      std::string v = Trim(std::string_view(line).substr(eq + 1));
      // Quotes around a whole value are not part of it.
      if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
        v = v.substr(1, v.size() - 2);
      *value = v;
    }
    return true;
  }

  // [begin, end) of a section's body; begin is npos when the section is absent.
  std::pair<size_t, size_t> Find(const std::string& section) const {
    size_t begin = std::string::npos;
    for (size_t i = 0; i < lines.size(); ++i) {
      std::string name;
      if (!IsSection(lines[i], &name)) continue;
      if (begin != std::string::npos) return {begin, i};
      if (EqualsNoCase(name, section)) begin = i + 1;
    }
    return {begin, lines.size()};
  }

  size_t FindKey(size_t begin, size_t end, const std::string& key) const {
    for (size_t i = begin; i < end; ++i) {
      std::string k;
      if (IsKey(lines[i], &k, nullptr) && EqualsNoCase(k, key)) return i;
    }
    return std::string::npos;
  }

  const std::string* Value(const std::string& section, const std::string& key, std::string* out) const {
    auto [b, e] = Find(section);
    if (b == std::string::npos) return nullptr;
    size_t i = FindKey(b, e, key);
    if (i == std::string::npos) return nullptr;
    IsKey(lines[i], nullptr, out);
    return out;
  }

  // Index after the last non-blank line of a section, so new keys sit with it.
  size_t InsertPoint(size_t begin, size_t end) const {
    size_t at = end;
    while (at > begin && Trim(lines[at - 1]).empty()) --at;
    return at;
  }

  size_t AddSection(const std::string& section) {
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
    lines.push_back("[" + section + "]");
    return lines.size();
  }

  std::string Serialize() const {
    std::string out(bom ? kBom : std::string_view());
    for (const auto& l : lines) {
      out += l;
      out += '\n';
    }
    return out;
  }
};

// The last reading of each file, kept while the file is the same one with the
// same size and times: the engine reads its settings at every request (the
// proxy), thousands of times a run. A write replaces the file (a new inode),
// and an editor's write in place changes its times, so a change is always
// read. A file that cannot be looked at is read afresh.
class ReadCache {
 public:
  static ReadCache& Shared() {
    static ReadCache cache;
    return cache;
  }

  std::shared_ptr<const IniText> Load(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::make_shared<const IniText>(IniText::Load(path));
    const Stamp stamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
                      st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = files_.find(path);
      if (it != files_.end() && it->second.stamp == stamp) return it->second.text;
    }
    auto text = std::make_shared<const IniText>(IniText::Load(path));
    std::lock_guard<std::mutex> lock(mutex_);
    files_[path] = Entry{stamp, text};
    return text;
  }

 private:
  struct Stamp {
    dev_t device;
    ino_t inode;
    off_t size;
    time_t mtime;
    long mtimeNs;
    time_t ctime;
    long ctimeNs;
    bool operator==(const Stamp&) const = default;
  };
  struct Entry {
    Stamp stamp;
    std::shared_ptr<const IniText> text;
  };
  std::mutex mutex_;
  std::map<std::string, Entry> files_;
};

std::shared_ptr<const IniText> ReadIni(const std::string& path) { return ReadCache::Shared().Load(path); }

// Holds the sidecar lock for one read-modify-write. The lock cannot be on the
// ini itself: the atomic rename replaces that inode.
class WriteLock {
 public:
  explicit WriteLock(const std::string& path) {
    // Hidden beside the file: ".ORVO.ini.lock".
    size_t slash = path.rfind('/');
    std::string lockPath = slash == std::string::npos ? "." + path + ".lock"
                                                      : path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".lock";
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~WriteLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

bool ReplaceFile(const std::string& path, const std::string& content) {
  return WriteFileAtomically(path, content);
}

template <typename Edit>
bool Modify(const std::string& path, Edit edit) {
  WriteLock lock(path);
  if (!lock.ok()) return false;
  IniText ini = IniText::Load(path);
  if (!edit(ini)) return true;  // nothing to change
  return ReplaceFile(path, ini.Serialize());
}

}  // namespace

int Settings::ReadInt(const std::string& section, const std::string& key, int def) const {
  std::string v;
  if (!ReadIni(path_)->Value(section, key, &v)) return def;
  const char* p = v.c_str();
  char* end = nullptr;
  errno = 0;
  long n = std::strtol(p, &end, 10);
  if (end == p) return def;
  if (errno == ERANGE || n > INT32_MAX || n < INT32_MIN) return def;
  return static_cast<int>(n);
}

Settings::IntRead Settings::ReadIntStrict(const std::string& section, const std::string& key, int* out,
                                          std::string* text) const {
  std::string v;
  if (!ReadIni(path_)->Value(section, key, &v)) return IntRead::kMissing;
  if (text) *text = v;
  const std::string t = Trim(v);
  const char* p = t.c_str();
  char* end = nullptr;
  errno = 0;
  long long n = std::strtoll(p, &end, 10);
  // strtoll also takes leading blanks and a "+", which Trim has dealt with.
  if (t.empty() || end != p + t.size() || errno == ERANGE || n > INT32_MAX || n < INT32_MIN)
    return IntRead::kInvalid;
  *out = static_cast<int>(n);
  return IntRead::kNumber;
}

int Settings::ReadIntChecked(const std::string& section, const std::string& key, int def) const {
  int n = def;
  std::string text;
  if (ReadIntStrict(section, key, &n, &text) != IntRead::kInvalid) return n;
  WriteEventLog("Setting " + key + " in [" + section + "] of " + path_ + " is \"" + text +
                "\", not a whole number within 32 bits; it is read as not set. Write a number there.");
  return def;
}

std::string Settings::ReadText(const std::string& section, const std::string& key, const std::string& def,
                               size_t bufferSize) const {
  std::string v;
  if (!ReadIni(path_)->Value(section, key, &v)) return FitBuffer(def, bufferSize);
  return FitBuffer(v, bufferSize);
}

bool Settings::HasKey(const std::string& section, const std::string& key) const {
  std::string v;
  return ReadIni(path_)->Value(section, key, &v) != nullptr;
}

bool Settings::WriteText(const std::string& section, const std::string& key, const std::string& value) const {
  // A line end inside a value would split it into a stray line.
  std::string clean = value;
  for (char& c : clean)
    if (c == '\n' || c == '\r') c = ' ';
  return Modify(path_, [&](IniText& ini) {
    auto [b, e] = ini.Find(section);
    if (b == std::string::npos) {
      ini.AddSection(section);
      ini.lines.push_back(key + "=" + clean);
      return true;
    }
    size_t i = ini.FindKey(b, e, key);
    if (i != std::string::npos) {
      std::string k;  // keep the key's own spelling
      IniText::IsKey(ini.lines[i], &k, nullptr);
      ini.lines[i] = k + "=" + clean;
      return true;
    }
    ini.lines.insert(ini.lines.begin() + static_cast<long>(ini.InsertPoint(b, e)), key + "=" + clean);
    return true;
  });
}

Settings::Update Settings::UpdateText(const std::string& section, const std::string& key,
                                     const std::function<std::string(const std::string&)>& edit) const {
  bool found = false;
  bool ok = Modify(path_, [&](IniText& ini) {
    auto [b, e] = ini.Find(section);
    if (b == std::string::npos) return false;
    size_t i = ini.FindKey(b, e, key);
    if (i == std::string::npos) return false;
    found = true;
    std::string k, v;
    IniText::IsKey(ini.lines[i], &k, &v);
    std::string value = edit(v);
    for (char& c : value)
      if (c == '\n' || c == '\r') c = ' ';
    ini.lines[i] = k + "=" + value;
    return true;
  });
  if (!ok) return Update::kFailed;
  return found ? Update::kWritten : Update::kMissing;
}

bool Settings::WriteInt(const std::string& section, const std::string& key, int value) const {
  return WriteText(section, key, std::to_string(value));
}

bool Settings::RemoveKey(const std::string& section, const std::string& key) const {
  return Modify(path_, [&](IniText& ini) {
    auto [b, e] = ini.Find(section);
    if (b == std::string::npos) return false;
    size_t i = ini.FindKey(b, e, key);
    if (i == std::string::npos) return false;
    ini.lines.erase(ini.lines.begin() + static_cast<long>(i));
    return true;
  });
}

IniEntries Settings::ReadSection(const std::string& section) const {
  const auto ini = ReadIni(path_);
  IniEntries out;
  auto [b, e] = ini->Find(section);
  if (b == std::string::npos) return out;
  for (size_t i = b; i < e; ++i) {
    std::string k, v;
    if (IniText::IsKey(ini->lines[i], &k, &v)) out.emplace_back(k, v);
  }
  return out;
}

bool Settings::ReplaceSection(const std::string& section, const IniEntries& entries) const {
  return Modify(path_, [&](IniText& ini) {
    auto [b, e] = ini.Find(section);
    if (b == std::string::npos) b = e = ini.AddSection(section);
    std::vector<std::string> kept;
    for (size_t i = b; i < e; ++i)
      if (!IniText::IsKey(ini.lines[i], nullptr, nullptr) && !Trim(ini.lines[i]).empty())
        kept.push_back(ini.lines[i]);
    for (const auto& [k, v] : entries) kept.push_back(k + "=" + v);
    if (e < ini.lines.size()) kept.emplace_back();  // keep a blank before the next section
    ini.lines.erase(ini.lines.begin() + static_cast<long>(b), ini.lines.begin() + static_cast<long>(e));
    ini.lines.insert(ini.lines.begin() + static_cast<long>(b), kept.begin(), kept.end());
    return true;
  });
}

int ReadConnectTimeout(const Settings& settings) {
  const int stored = settings.ReadIntChecked(kDownloadSection, "ConnectTimeout", 0);
  if (stored == 0) return kDefaultConnectTimeout;
  if (stored > 0 && stored <= kMaxConnectTimeout) return stored;
  const int used = stored < 0 ? kDefaultConnectTimeout : kMaxConnectTimeout;
  WriteEventLog("ConnectTimeout " + std::to_string(stored) + " is out of range (1 to " +
                std::to_string(kMaxConnectTimeout) + " s); " + std::to_string(used) + " is used.");
  return used;
}

}  // namespace orvo
