#include "device_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace orvo {

namespace fs = std::filesystem;

namespace {

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

// `path` is `folder` or inside it, by whole path components.
bool Inside(const std::string& path, const std::string& folder) {
  const std::string f = WithSlash(folder), p = WithSlash(path);
  return p.compare(0, f.size(), f) == 0;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Copies the bytes and flushes them; errno tells a failure.
bool CopyBytes(const std::string& from, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    int e = errno;
    ::close(in);
    errno = e;
    return false;
  }
  char buffer[1 << 16];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    if (!WriteAll(out, buffer, static_cast<size_t>(n))) {
      ok = false;
      break;
    }
  }
  int e = errno;
  if (ok && ::fsync(out) != 0) ok = false, e = errno;
  if (::close(out) != 0 && ok) ok = false, e = errno;
  ::close(in);
  errno = e;
  return ok;
}

}  // namespace

std::optional<ReaderTarget> IdentifyReader(const MountedDrive& drive, const std::string& pickedFolder) {
  const std::string root = WithSlash(drive.mountPoint);
  const std::string at = " at " + drive.mountPoint;
  if (!pickedFolder.empty() && Inside(pickedFolder, drive.mountPoint))
    return ReaderTarget{ReaderKind::kPicked, "the folder " + pickedFolder, WithSlash(pickedFolder), true};
  if (IsFolder(root + "documents") && IsFolder(root + "system"))
    return ReaderTarget{ReaderKind::kKindle, "the Kindle" + at, {}, false};
  if (IsFolder(root + ".kobo")) return ReaderTarget{ReaderKind::kKobo, "the Kobo" + at, root + "ORVO/", false};
  if (IsFolder(root + "system"))
    return ReaderTarget{ReaderKind::kPocketBook, "the PocketBook" + at, root + "ORVO/", false};
  return std::nullopt;
}

bool CopyIntoFolder(const std::string& source, const std::string& folder, std::string* error) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    *error = "can not make the folder " + folder + ": " + ec.message();
    return false;
  }
  const std::string name = fs::path(source).filename().string();
  const std::string temp = WithSlash(folder) + "." + name + ".part", target = WithSlash(folder) + name;
  if (!CopyBytes(source, temp)) {
    *error = std::strerror(errno);
    fs::remove(temp, ec);
    return false;
  }
  fs::rename(temp, target, ec);
  if (ec) {
    *error = ec.message();
    fs::remove(temp, ec);
    return false;
  }
  // The rename itself reaches the drive before the user pulls it.
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

int CopyToReaders(const std::vector<std::string>& volumes, DriveFinder& drives, const std::string& pickedFolder,
                  const std::function<void(const std::string&)>& report) {
  std::string error;
  const std::vector<MountedDrive> mounted = drives.MountedRemovableDrives(&error);
  if (!error.empty()) {
    report("Can not look for a connected e-reader: " + error);
    return 0;
  }
  int copied = 0;
  bool found = false;
  for (const MountedDrive& drive : mounted) {
    std::optional<ReaderTarget> reader = IdentifyReader(drive, pickedFolder);
    if (!reader) continue;
    found = true;
    if (reader->kind == ReaderKind::kKindle) {
      report("Nothing copied to " + reader->name +
             ": a Kindle opens neither EPUB nor .lit volumes copied over USB; send them by mail instead "
             "(orvo config Delivery MailTo ...@kindle.com)");
      continue;
    }
    for (const std::string& volume : volumes) {
      const std::string name = fs::path(volume).filename().string();
      if (fs::path(volume).extension() == ".lit" && !reader->readsLit) {
        report("Not copied to " + reader->name + ": " + name +
               " (it reads no .lit volumes; set BookFormat to epub or both)");
        continue;
      }
      if (CopyIntoFolder(volume, reader->folder, &error)) {
        report("Copied " + name + " to " + reader->name +
               (reader->kind == ReaderKind::kPicked ? "" : " (" + reader->folder + ")"));
        ++copied;
      } else {
        report("Can not copy " + name + " to " + reader->name + ": " + error +
               "; nothing half-written was left, copy it again once the drive is back");
      }
    }
  }
  if (!found)
    report(pickedFolder.empty() || IsFolder(pickedFolder)
               ? "No e-reader connected: the volumes stay in the output folder"
               : "No e-reader connected, and the picked folder " + pickedFolder +
                     " is not there: the volumes stay in the output folder");
  return copied;
}

}  // namespace orvo
