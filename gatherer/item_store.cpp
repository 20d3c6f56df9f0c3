#include "item_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "database.h"
#include "eventlog.h"
#include "http_client.h"
#include "settings.h"
#include "store/images.h"
#include "store/items.h"
#include "text.h"

namespace orvo {

namespace {

// Files of a fetch not yet committed; never a name the engine gives a stored image.
constexpr const char* kTempImagePrefix = ".part-";

void LogInsertFailure(int code, const std::string& sql) {
  WriteEventLog("Can not insert images " + std::to_string(code) + " SQL : \n" + sql);
}

bool EnsureFolder(const std::string& folder) {
  struct stat st;
  if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

int64_t InsertNewsItem(Database& db, const NewsItemRecord& item, std::time_t now) {
  ImageFetch none;
  return CommitNewsItem(db, item, none, ImagesFolder(), now, 1).id;
}

std::string StoredCaption(const std::string& caption) {
  const size_t limit = kImageTextColumn - 1;
  std::string out;
  size_t i = 0;
  // At most 1023 characters are kept, fewer when an entity would not fit
  // whole.
  for (size_t chars = 0; i < caption.size();) {
    size_t start = i;
    NextCodePoint(caption, i);
    const bool apostrophe = caption[start] == '\'';
    const size_t width = apostrophe ? 5 : 1;
    if (chars + width > limit) break;
    out.append(apostrophe ? std::string_view("&#39;") : std::string_view(caption).substr(start, i - start));
    chars += width;
  }
  return out;
}


std::string ImagesFolder() { return ModuleDirectory() + "Images/"; }

ImageHosts::Use ImageHosts::Check(const std::string& origin, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = hosts_.find(origin);
  if (it == hosts_.end() || !it->second.dead) return Use::kAsk;
  return now >= it->second.retryAt ? Use::kRetry : Use::kSkip;
}

void ImageHosts::MarkDead(const std::string& origin, const std::string& reason, Clock::time_point now) {
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto [it, inserted] = hosts_.try_emplace(origin);
    first = inserted;
    it->second.dead = true;
    it->second.retryAt = now + retryAfter_;
  }
  if (first)
    WriteEventLog("Image server " + origin + " does not answer (" + reason + "); its images are skipped for " +
                  std::to_string(retryAfter_.count()) + " s, then tried once more with a short time-out");
}

void ImageHosts::MarkAlive(const std::string& origin) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = hosts_.find(origin);
  if (it != hosts_.end() && it->second.dead) {
    it->second.dead = false;
    WriteEventLog("Image server " + origin + " answers again");
  }
}

namespace {

bool IsBusy(int rc) { return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED; }

std::string TempImageName(size_t position) {
  static std::atomic<unsigned> serial{0};
  return kTempImagePrefix + std::to_string(::getpid()) + "-" + std::to_string(serial++) + "-" +
         std::to_string(position);
}

}  // namespace

ImagesLeftOut LeaveOutImages(std::string_view storedBody, std::vector<ItemImage>& images, int cap) {
  std::vector<bool> placed(images.size(), false);
  // "[[{N}]]" placeholders, N the image's position.
  for (size_t at = storedBody.find("[[{"); at != std::string_view::npos; at = storedBody.find("[[{", at + 3)) {
    size_t end = storedBody.find("}]]", at + 3);
    if (end == std::string_view::npos || end - at - 3 > 9) continue;
    size_t n = 0;
    bool digits = end > at + 3;
    for (size_t i = at + 3; i < end && digits; ++i) {
      digits = storedBody[i] >= '0' && storedBody[i] <= '9';
      n = n * 10 + static_cast<size_t>(storedBody[i] - '0');
    }
    if (digits && n < placed.size()) placed[n] = true;
  }
  ImagesLeftOut out;
  int kept = 0;
  for (size_t i = 0; i < images.size(); ++i) {
    ItemImage& image = images[i];
    if (image.source.empty() || image.leftOut) continue;
    if (!placed[i]) {
      image.leftOut = true;
      ++out.cut;
    } else if (kept >= cap) {
      image.leftOut = true;
      ++out.overCap;
    } else {
      ++kept;
    }
  }
  return out;
}

ImageFetch FetchImages(HttpSession& http, const std::vector<ItemImage>& images, const ImageFetchOptions& options) {
  ImageFetch fetch;
  ImageHosts itemHosts(std::chrono::hours(24));
  ImageHosts& hosts = options.hosts ? *options.hosts : itemHosts;
  const long timeout = http.timeoutSeconds();
  size_t inMemory = 0;  // bytes of this item's images held for the commit
  http.SetBodyLimit(options.sizeLimit);
  http.SetRefuseOversize(true);
  http.SetCancelFlag(options.cancel);
  auto cancelled = [&] { return options.cancel && options.cancel->load(); };
  for (size_t i = 0; i < images.size() && !cancelled(); ++i) {
    const ItemImage& image = images[i];
    if (image.leftOut) continue;  // told when it was left out
    if (image.source.empty()) {  // a caption without its picture: nothing to log
      ++fetch.skipped;
      continue;
    }
    const std::string origin = HttpOrigin(image.source);
    if (origin.empty()) {
      WriteEventLog("Image address can not be used: \"" + image.source + "\"");
      ++fetch.skipped;
      continue;
    }
    const ImageHosts::Use use = hosts.Check(origin);
    if (use == ImageHosts::Use::kSkip) {
      WriteEventLog("Image not fetched, its server did not answer before: " + image.source);
      ++fetch.skipped;
      continue;
    }
    if (!EnsureFolder(options.folder)) {
      WriteEventLog("General Error download image : " + std::to_string(errno) + " (can not create " +
                    options.folder + ")");
      fetch.failed += static_cast<int>(images.size() - i);
      break;
    }
    WriteEventLog("Download Image " + image.source);
    if (options.onImage) options.onImage(i, image.source);
    // In memory while the item's images fit; a file of its own from there on.
    FetchedImage fetched{i, {}, {}, image.caption};
    std::FILE* file = nullptr;
    bool writeFailed = false;
    int writeErrno = 0;
    auto spill = [&] {
      fetched.tempPath = options.folder + TempImageName(i);
      file = std::fopen(fetched.tempPath.c_str(), "wb");
      if (!file || std::fwrite(fetched.bytes.data(), 1, fetched.bytes.size(), file) != fetched.bytes.size()) {
        writeFailed = true;
        writeErrno = errno;
        return false;
      }
      fetched.bytes = std::string();
      return true;
    };
    http.SetTimeoutSeconds(use == ImageHosts::Use::kRetry ? std::min(timeout, options.retryTimeoutSeconds) : timeout);
    HttpResponse r = http.Get(image.source, [&](std::string_view piece, long status) {
      if (status != 200) return true;  // the row is kept, the file stays empty
      if (!file && inMemory + fetched.bytes.size() + piece.size() > options.memoryLimit && !spill()) return false;
      if (!file) {
        fetched.bytes.append(piece);
        return true;
      }
      if (std::fwrite(piece.data(), 1, piece.size(), file) != piece.size()) {
        writeFailed = true;
        writeErrno = errno;
        return false;
      }
      return true;
    });
    http.SetTimeoutSeconds(timeout);
    if (file && std::fclose(file) != 0 && !writeFailed) {
      writeFailed = true;
      writeErrno = errno;
    }
    bool keep = false;
    if (cancelled()) {
      // Stopped: nothing of this item is kept.
    } else if (!r.ok() && r.status == 0) {
      WriteEventLog("Error download image : " + std::to_string(r.code) + " (" + r.error + ") " + image.source);
      hosts.MarkDead(origin, r.error);
    } else if (!r.ok()) {
      // Part of a picture is a broken picture.
      hosts.MarkAlive(origin);
      WriteEventLog("Error download image : " + std::to_string(r.code) + " (" + r.error + ") " + image.source);
    } else if (r.limited) {
      hosts.MarkAlive(origin);
      WriteEventLog("Image larger than " + std::to_string(options.sizeLimit) + " bytes, dropped: " + image.source);
    } else if (writeFailed) {
      hosts.MarkAlive(origin);
      WriteEventLog("General Error download image : " + std::to_string(writeErrno) + " (" + fetched.tempPath + ")");
    } else {
      hosts.MarkAlive(origin);
      keep = true;
    }
    if (!keep) {
      if (!fetched.tempPath.empty()) std::remove(fetched.tempPath.c_str());
      if (!cancelled()) ++fetch.failed;
      continue;
    }
    inMemory += fetched.bytes.size();
    fetch.files.push_back(std::move(fetched));
  }
  http.SetRefuseOversize(false);
  http.SetCancelFlag(nullptr);
  return fetch;
}

void DiscardImages(ImageFetch& fetch) {
  for (const FetchedImage& f : fetch.files)
    if (!f.tempPath.empty()) std::remove(f.tempPath.c_str());
  fetch.files.clear();
}

namespace {

// One attempt: the item, then each image under its final name with its row.
// On failure everything is rolled back and the files carry their temporary
// names again.
constexpr int kStoredAlready = -1;

// A new file holding bytes; false with errno set, and no file left by it.
bool WriteWhole(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : ENOSPC;
      ::close(fd);
      ::unlink(path.c_str());
      errno = err;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) == 0) return true;
  const int err = errno;
  ::unlink(path.c_str());
  errno = err;
  return false;
}

// The whole of a file; false with errno set.
bool ReadWhole(const std::string& path, std::string* bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[1 << 16];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) bytes->append(buffer, static_cast<size_t>(n));
  const int err = errno;
  ::close(fd);
  errno = err;
  return n == 0;
}

int TryCommit(Database& db, const NewsItemRecord& item, ImageFetch& fetch, const std::string& folder,
              const std::string& recv, const std::string& published, int64_t* id) {
  ItemWrite write(db);
  if (write.status() != 0) {
    LogInsertFailure(write.status(), write.failedSql());
    return write.status();
  }
  const ItemRow row{recv, published, item.siteCatRel, item.address, item.author, item.title, item.body};
  if (int rc = write.Insert(row, true, id); rc != 0) {
    if (rc == ItemWrite::kStoredAlready) return kStoredAlready;
    LogInsertFailure(rc, write.failedSql());
    return rc;
  }
  // What the files were before, to undo: a temporary name, or nothing.
  std::vector<std::pair<std::string, const FetchedImage*>> placed;
  auto undo = [&] {
    for (const auto& [final, f] : placed)
      f->tempPath.empty() ? ::unlink(final.c_str()) : std::rename(final.c_str(), f->tempPath.c_str());
  };
  // A database other machines share keeps the bytes in the item's own
  // transaction, and the row names no file.
  const bool inDatabase = PicturesInDatabase(db);
  for (const FetchedImage& f : fetch.files) {
    const std::string name = std::to_string(*id) + "_" + std::to_string(f.position);
    const std::string path = inDatabase ? name : folder + name;
    std::string spilled;
    bool ok = true;
    if (inDatabase) {
      ok = f.tempPath.empty() || ReadWhole(f.tempPath, &spilled);
    } else {
      // Written once, under the name the row gives it: a kill before the
      // commit leaves a file that no row names, which the next run removes.
      ok = f.tempPath.empty() ? WriteWhole(path, f.bytes) : std::rename(f.tempPath.c_str(), path.c_str()) == 0;
    }
    if (!ok) {
      const int err = errno;
      WriteEventLog("General Error download image : " + std::to_string(err) + " (" +
                    (inDatabase ? f.tempPath : path) + ")");
      undo();
      return SQLITE_IOERR;
    }
    if (!inDatabase) placed.emplace_back(path, &f);
    const std::string_view bytes = f.tempPath.empty() ? std::string_view(f.bytes) : std::string_view(spilled);
    if (int rc = write.AddPicture(*id, static_cast<int64_t>(f.position), path, StoredCaption(f.caption), bytes);
        rc != 0) {
      LogInsertFailure(rc, write.failedSql());
      WriteEventLog("Can not insert image");
      undo();
      return rc;
    }
  }
  if (int rc = write.Commit(); rc != 0) {
    LogInsertFailure(rc, write.failedSql());
    undo();
    return rc;
  }
  return 0;
}

}  // namespace

StoreResult CommitNewsItem(Database& db, const NewsItemRecord& item, ImageFetch& fetch, const std::string& folder,
                           std::time_t now, int attempts, const std::function<bool()>& onBusy) {
  StoreResult result;
  result.imagesFailed = fetch.failed + fetch.skipped;
  const std::string recv = FormatDbTime(now);
  const std::string published = item.publicationDate.empty() ? recv : item.publicationDate;
  int rc = 0;
  for (int attempt = 1; attempt <= std::max(attempts, 1); ++attempt) {
    int64_t id = -1;
    rc = TryCommit(db, item, fetch, folder, recv, published, &id);
    if (rc == kStoredAlready) {
      DiscardImages(fetch);
      result.duplicate = true;
      result.why = "stored already";
      WriteEventLog("News item " + item.address + " is stored already; it is not stored again.");
      return result;
    }
    if (rc == 0) {
      result.id = id;
      result.images = static_cast<int>(fetch.files.size());
      if (PicturesInDatabase(db)) DiscardImages(fetch);  // the bytes are in the database now
      fetch.files.clear();  // they belong to the item now
      return result;
    }
    if (!IsBusy(rc) || attempt >= attempts) break;
    WriteEventLog("The news database is busy; storing " + item.address + " again (attempt " +
                  std::to_string(attempt + 1) + " of " + std::to_string(attempts) + ")");
    if (!onBusy) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
    } else if (!onBusy()) {
      break;
    }
  }
  DiscardImages(fetch);
  result.error = rc;
  if (db.Lost()) result.lostServer = db.Describe();
  result.why = !result.lostServer.empty() ? "the connection to " + result.lostServer + " was lost"
               : IsBusy(rc)                 ? "the news database stayed busy"
                                            : "database error " + std::to_string(rc);
  WriteEventLog("Can not store news item " + item.address + ": " + result.why);
  return result;
}

StoreResult StoreNewsItem(Database& db, const NewsItemRecord& item, bool loadImages, HttpSession& http,
                          std::time_t now, const ImageFetchOptions& options, const SharedStore& shared) {
  ImageFetch fetch;
  if (loadImages && !item.images.empty()) fetch = FetchImages(http, item.images, options);
  if (options.cancel && options.cancel->load()) {
    DiscardImages(fetch);
    StoreResult stopped;
    stopped.error = SQLITE_INTERRUPT;
    stopped.why = "stopped";
    return stopped;
  }
  if (options.onFetched) options.onFetched(fetch.failed + fetch.skipped);
  return StoreFetchedItem(db, item, fetch, now, options, shared);
}

StoreResult StoreFetchedItem(Database& db, const NewsItemRecord& item, ImageFetch& fetch, std::time_t now,
                             const ImageFetchOptions& options, const SharedStore& shared) {
  std::unique_lock<std::mutex> writer;
  if (shared.writer) writer = std::unique_lock<std::mutex>(*shared.writer);
  return CommitNewsItem(
      db, item, fetch, options.folder, now, 3,
      [&options] {
        for (int i = 0; i < 20; ++i) {
          if (options.cancel && options.cancel->load()) return false;
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
      });
}

StoreResult StoreNewsItem(Database& db, const NewsItemRecord& item, bool loadImages, HttpSession& http,
                          std::time_t now) {
  ImageFetchOptions options;
  options.folder = ImagesFolder();
  return StoreNewsItem(db, item, loadImages, http, now, options);
}

int RemoveOrphanImages(Database& db, const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return 0;
  PictureRowLookup named(db);
  int removed = 0;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::string name = it->path().filename().string();
    bool orphan = name.rfind(kTempImagePrefix, 0) == 0;
    // With the pictures in a shared database, files named like stored ones
    // belong to some other (SQLite) database of this folder: left alone.
    if (!orphan && !PicturesInDatabase(db)) {
      // Only the engine's own names "<id>_<position>" are judged.
      const size_t bar = name.find('_');
      if (bar == 0 || bar == std::string::npos || bar + 1 == name.size() ||
          name.find_first_not_of("0123456789_") != std::string::npos || name.find('_', bar + 1) != std::string::npos)
        continue;
      int64_t id = 0, position = 0;
      if (std::from_chars(name.data(), name.data() + bar, id).ec != std::errc() ||
          std::from_chars(name.data() + bar + 1, name.data() + name.size(), position).ec != std::errc())
        continue;
      orphan = !named.Exists(id, position) && named.error() == 0;
    }
    if (orphan && fs::remove(it->path(), ec)) ++removed;
  }
  if (removed > 0)
    WriteEventLog("Removed " + std::to_string(removed) + " image files that no news item names (" + folder + ")");
  return removed;
}

}  // namespace orvo
