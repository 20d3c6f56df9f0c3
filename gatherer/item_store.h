// Storing news items: the duplicate check by address, the item row (inside a
// transaction) and the image pass that downloads each image into the Images
// folder and records it in newsimages.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace orvo {

class Database;
class HttpSession;

struct ItemImage {
  std::string source;  // absolute address
  std::string caption;
};

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

// Largest image file written; a bigger response is cut there and logged.
inline constexpr size_t kImageSizeLimit = 20u << 20;

// True when an item with exactly this src_url is stored. A failing look-up
// counts as not stored.
bool IsStoredAddress(Database& db, const std::string& address);

// Inserts the item in its own transaction. Returns the new id, or -1 after
// logging the failure.
int64_t InsertNewsItem(Database& db, const NewsItemRecord& item, std::time_t now);

// Caption as stored: apostrophes as "&#39;", cut to fit its column without
// splitting a character or an entity.
std::string StoredCaption(const std::string& caption);

// The images folder: ModuleDirectory() + "Images/".
std::string ImagesFolder();

// Downloads the images of item newsId in list order into folder/<id>_<i> and
// records each in newsimages through the process connection. Each image is
// fetched from its own server; a server that cannot be reached is not asked
// again for this item.
void DownloadImages(HttpSession& http, int64_t newsId, const std::vector<ItemImage>& images,
                    const std::string& folder, size_t sizeLimit = kImageSizeLimit);

// The whole store step: the row, then the images when loadImages is set.
// Returns the new id or -1.
int64_t StoreNewsItem(Database& db, const NewsItemRecord& item, bool loadImages, HttpSession& http,
                      std::time_t now);

}  // namespace orvo
