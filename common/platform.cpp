#include "platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace orvo {

namespace fs = std::filesystem;

std::string ExecutablePath() {
  std::error_code ec;
  fs::path p = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.string();
}

std::string ExecutableDirectory() {
  std::string path = ExecutablePath();
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "./";
  return path.substr(0, slash + 1);
}

namespace {

std::string XdgFolder(const char* variable, const char* underHome) {
  // Relative values are to be ignored, as the base-directory rules say.
  if (const char* v = std::getenv(variable); v && v[0] == '/') return v;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/" + underHome;
}

}  // namespace

std::string XdgDataHome() { return XdgFolder("XDG_DATA_HOME", ".local/share"); }
std::string XdgConfigHome() { return XdgFolder("XDG_CONFIG_HOME", ".config"); }
std::string XdgStateHome() { return XdgFolder("XDG_STATE_HOME", ".local/state"); }
std::string XdgCacheHome() { return XdgFolder("XDG_CACHE_HOME", ".cache"); }

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* error, unsigned mode) {
  auto fail = [&](int err) {
    if (error) *error = "cannot write " + path + ": " + std::strerror(err);
    return false;
  };
  struct stat st;
  const bool existing = ::stat(path.c_str(), &st) == 0;
  // A name of its own per process and call, so that two writers (threads or
  // processes) never share a temporary file.
  static std::atomic<unsigned> counter{0};
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    tmp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return fail(errno);
  // A new file gets `mode` less the umask; a replaced one keeps its own.
  if (existing) ::fchmod(fd, st.st_mode & 07777);
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = n < 0 ? errno : EIO;
      ::close(fd);
      ::unlink(tmp.c_str());
      return fail(err);
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    return fail(err);
  }
  return true;
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    char32_t c;
    size_t len;
    if (b < 0x80) {
      c = b;
      len = 1;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      len = 4;
    } else {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    bool ok = i + len <= s.size();
    for (size_t k = 1; ok && k < len; ++k) {
      unsigned char cb = static_cast<unsigned char>(s[i + k]);
      if ((cb & 0xC0) != 0x80) ok = false;
      c = (c << 6) | (cb & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

}  // namespace orvo
