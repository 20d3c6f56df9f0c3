// Storing news items: the duplicate check by address, and the store step that
// fetches an item's images into the Images folder and then writes the item
// row and its image rows in one transaction, so that an item is never seen
// without the pictures its body names (a crash before the commit leaves
// nothing stored; the next run fetches the item again).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "store/items.h"  // IsStoredAddress

namespace orvo {

class Database;
class HttpSession;

struct ItemImage {
  std::string source;  // absolute address
  std::string caption;
  bool leftOut = false;  // not fetched, not stored (LeaveOutImages)
};

// Defaults of Download/MaxImagesPerItem and Download/MaxLinksPerList.
inline constexpr int kDefaultMaxImagesPerItem = 200;
inline constexpr int kDefaultMaxLinksPerList = 1000;

// Marks the images that are not worth fetching: those whose placeholder is
// not in `storedBody` (the body as the database keeps it, cut to its column)
// and those beyond the first `cap` of the rest.
struct ImagesLeftOut {
  int cut = 0;      // their placeholder fell off the stored body
  int overCap = 0;  // beyond the cap
};
ImagesLeftOut LeaveOutImages(std::string_view storedBody, std::vector<ItemImage>& images, int cap);

// An item as the run hands it over: texts already finished (line breaks,
// lengths), the publication date as database text or empty when the list gave
// no usable one.
struct NewsItemRecord {
  std::string body;
  std::string title;
  std::string author;
  std::string address;
  std::string publicationDate;
  int siteCatRel = 0;
  std::vector<ItemImage> images;
};

// Largest image kept; a bigger one is dropped as if it had failed.
inline constexpr size_t kImageSizeLimit = 20u << 20;

// Inserts the item alone in its own transaction. Returns the new id, or -1
// after logging the failure.
int64_t InsertNewsItem(Database& db, const NewsItemRecord& item, std::time_t now);

// Caption as stored: apostrophes as "&#39;", cut to fit its column without
// splitting a character or an entity.
std::string StoredCaption(const std::string& caption);

// The images folder: ModuleDirectory() + "Images/".
std::string ImagesFolder();

// Image servers that did not answer during one run. A dead server is not
// asked again until its retry time has come; the retry gets a short time-out.
// Each server is logged once when it is first found dead. Thread-safe.
class ImageHosts {
 public:
  using Clock = std::chrono::steady_clock;
  explicit ImageHosts(std::chrono::seconds retryAfter = std::chrono::seconds(120)) : retryAfter_(retryAfter) {}

  enum class Use { kAsk, kRetry, kSkip };
  Use Check(const std::string& origin, Clock::time_point now = Clock::now());
  void MarkDead(const std::string& origin, const std::string& reason, Clock::time_point now = Clock::now());
  void MarkAlive(const std::string& origin);

 private:
  struct Entry {
    Clock::time_point retryAt;
    bool dead = false;
  };
  std::mutex mutex_;
  std::chrono::seconds retryAfter_;
  std::map<std::string, Entry> hosts_;
};

// What fetching an item's images left: the bytes in memory, written once
// under their final names when the item is committed, or (past the memory an
// item may hold) a file under a temporary name, renamed then.
struct FetchedImage {
  size_t position = 0;
  std::string tempPath;  // empty: the bytes are in `bytes`
  std::string bytes;
  std::string caption;
};

// Image bytes one item keeps in memory until its commit; the rest go to files.
inline constexpr size_t kImageMemoryPerItem = 8u << 20;

struct ImageFetch {
  std::vector<FetchedImage> files;
  int failed = 0;   // fetched but dropped (transfer error, too large, not writable)
  int skipped = 0;  // not asked: address unusable or its server dead for now
};

struct ImageFetchOptions {
  std::string folder;  // with a trailing "/"
  size_t sizeLimit = kImageSizeLimit;
  size_t memoryLimit = kImageMemoryPerItem;
  long retryTimeoutSeconds = 15;  // for a server that was dead before
  ImageHosts* hosts = nullptr;    // run-wide memory; null: per item only
  const std::atomic<bool>* cancel = nullptr;
  // Called before each request with the image's position and address.
  std::function<void(size_t position, const std::string& url)> onImage;
  // Called once every picture of the item is in, before the item is written,
  // with how many of them could not be had.
  std::function<void(int failed)> onFetched;
};

// Downloads the images in list order, into memory while the item's images fit
// in memoryLimit, then into temporary files of the folder. A response other
// than 200 keeps an empty file (its row is still stored).
ImageFetch FetchImages(HttpSession& http, const std::vector<ItemImage>& images, const ImageFetchOptions& options);

// Removes the temporary files a fetch left.
void DiscardImages(ImageFetch& fetch);

struct StoreResult {
  int64_t id = -1;
  int images = 0;        // image rows stored with the item
  int imagesFailed = 0;  // images that could not be fetched
  int error = 0;         // database code when the item was not stored
  std::string why;       // in words, for the status line
  bool duplicate = false;  // the address was stored already (by another run or engine)
  // The database server that went away ("PostgreSQL server ..."): nothing
  // more can be stored over that connection.
  std::string lostServer;
};

// For runs that store side by side in one process: the commit is taken under
// writer, so that there is one writer at a time.
struct SharedStore {
  std::mutex* writer = nullptr;
};

// Writes the item and the rows of its fetched images in one transaction,
// writing (or renaming) each file to its final name "<id>_<position>" before
// the commit, where a file that cannot be written fails it. Only an address
// not stored yet is stored: the look is inside the same transaction, and an
// engine that stores the address meanwhile meets the unique key; then
// duplicate is set and the files go. A busy
// database is tried again (attempts in all); onBusy runs before each retry
// (by default a pause of a second) and gives up by returning false.
StoreResult CommitNewsItem(Database& db, const NewsItemRecord& item, ImageFetch& fetch, const std::string& folder,
                           std::time_t now, int attempts = 3, const std::function<bool()>& onBusy = {});

// The write of an item whose images are in: under the shared writer lock,
// with a busy database tried again while options.cancel is not set.
StoreResult StoreFetchedItem(Database& db, const NewsItemRecord& item, ImageFetch& fetch, std::time_t now,
                             const ImageFetchOptions& options, const SharedStore& shared = {});

// The whole store step: the images (when loadImages is set), then the item
// with its rows.
StoreResult StoreNewsItem(Database& db, const NewsItemRecord& item, bool loadImages, HttpSession& http,
                          std::time_t now, const ImageFetchOptions& options, const SharedStore& shared = {});
StoreResult StoreNewsItem(Database& db, const NewsItemRecord& item, bool loadImages, HttpSession& http,
                          std::time_t now);

// Start of a run: removes image files that no row names (a run killed while
// storing leaves them) and temporary files of fetches. Returns how many were
// removed.
int RemoveOrphanImages(Database& db, const std::string& folder);

}  // namespace orvo
