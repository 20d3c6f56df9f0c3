#include "item_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <set>

#include "database.h"
#include "eventlog.h"
#include "http_client.h"
#include "settings.h"
#include "text.h"

namespace orvo {

namespace {

void LogInsertFailure(int code, const std::string& sql) {
  WriteEventLog("Can not insert images " + std::to_string(code) + " SQL : \n" + sql);
}

bool EnsureFolder(const std::string& folder) {
  struct stat st;
  if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

bool IsStoredAddress(Database& db, const std::string& address) {
  // Compared in the form it is stored in: an address longer than the column
  // is stored cut, and would otherwise never be found again.
  Statement st(db, "SELECT id FROM newsitem WHERE src_url = ? LIMIT 1");
  st.BindText(1, address, kTextColumn);
  return st.Next();
}

int64_t InsertNewsItem(Database& db, const NewsItemRecord& item, std::time_t now) {
  const std::string recv = FormatDbTime(now);
  const std::string published = item.publicationDate.empty() ? recv : item.publicationDate;
  Transaction tx(db);
  if (tx.status() != 0) {
    LogInsertFailure(tx.status(), "BEGIN IMMEDIATE");
    return -1;
  }
  Statement st(db,
               "INSERT INTO newsitem (recvdate, newsdate, fk_site_cat_rel, publication_date, src_url,"
               " author, title, smalldescr, body) VALUES(?,?,?,?,?,?,?,?,?)");
  st.Bind(1, recv)
      .Bind(2, published)
      .Bind(3, item.siteCatRel)
      .Bind(4, published)
      .BindText(5, item.address, kTextColumn)
      .BindText(6, item.author, kTextColumn)
      .BindText(7, item.title, kTextColumn)
      .Bind(8, "")
      .BindText(9, item.body, kBodyColumn);
  if (int rc = st.Execute(); rc != 0) {
    LogInsertFailure(rc, st.sql());
    return -1;
  }
  int64_t id = db.LastInsertId();
  if (int rc = tx.Commit(); rc != 0) {
    LogInsertFailure(rc, "COMMIT");
    return -1;
  }
  return id;
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

void DownloadImages(HttpSession& http, int64_t newsId, const std::vector<ItemImage>& images,
                    const std::string& folder, size_t sizeLimit) {
  std::set<std::string> deadServers;
  for (size_t i = 0; i < images.size(); ++i) {
    const ItemImage& image = images[i];
    if (image.source.empty()) continue;  // a caption without its picture
    const std::string origin = HttpOrigin(image.source);
    if (origin.empty()) {
      WriteEventLog("Image not fetched, its address is not usable: " + image.source);
      continue;
    }
    if (deadServers.count(origin)) {
      WriteEventLog("Image not fetched, its server did not answer before: " + image.source);
      continue;
    }
    WriteEventLog("Download Image " + image.source);
    if (!EnsureFolder(folder)) {
      WriteEventLog("General Error download image : " + std::to_string(errno) + " (can not create " + folder + ")");
      return;
    }
    const std::string path = folder + std::to_string(newsId) + "_" + std::to_string(i);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
      WriteEventLog("General Error download image : " + std::to_string(errno) + " (" + path + ")");
      continue;
    }
    bool writeFailed = false;
    http.SetBodyLimit(sizeLimit);
    HttpResponse r = http.Get(image.source, [&](std::string_view piece, long status) {
      if (status != 200) return true;  // the row is kept, the file stays empty
      if (std::fwrite(piece.data(), 1, piece.size(), file) != piece.size()) {
        writeFailed = true;
        return false;
      }
      return true;
    });
    bool closeFailed = std::fclose(file) != 0;
    if (!r.ok() && r.status == 0) {
      // Nothing came back: no row, no file, and this server is not asked again.
      std::remove(path.c_str());
      WriteEventLog("Error download image : " + std::to_string(r.code) + " (" + r.error + ")");
      deadServers.insert(origin);
      continue;
    }
    if (!r.ok()) WriteEventLog("Error download image : " + std::to_string(r.code) + " (" + r.error + ")");
    if (r.limited)
      WriteEventLog("Image larger than " + std::to_string(sizeLimit) + " bytes, cut there: " + image.source);
    if (writeFailed || closeFailed) WriteEventLog("General Error download image : " + std::to_string(errno));
    if (OpenDatabase() != 0) continue;  // the file stays, without a row
    Statement st(*ProcessDatabase(),
                 "INSERT INTO newsimages (bodypos, image_path, imagetext, fk_newsitem) VALUES(?,?,?,?)");
    st.Bind(1, static_cast<int64_t>(i))
        .BindText(2, path, kImagePathColumn)
        .Bind(3, StoredCaption(image.caption))
        .Bind(4, newsId);
    if (int rc = st.Execute(); rc != 0) {
      LogInsertFailure(rc, st.sql());
      WriteEventLog("Can not insert image");
    }
  }
}

int64_t StoreNewsItem(Database& db, const NewsItemRecord& item, bool loadImages, HttpSession& http,
                      std::time_t now) {
  int64_t id = InsertNewsItem(db, item, now);
  if (id >= 0 && loadImages && !item.images.empty()) DownloadImages(http, id, item.images, ImagesFolder());
  return id;
}

}  // namespace orvo
