#include "images.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "database.h"
#include "pg_schema.h"

namespace orvo {

namespace {

// bytea is read back as hex text (encode(bytes, 'hex')): Statement reads
// text on both back ends. It is written as binary (BindBytes).
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool FromHex(std::string_view hex, std::string* out) {
  if (hex.size() % 2 != 0) return false;
  out->clear();
  out->reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = HexValue(hex[i]), lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi << 4 | lo));
  }
  return true;
}

}  // namespace

bool PicturesInDatabase(const Database& db) { return db.backend() == Database::Backend::kPostgres; }

std::vector<PictureRow> ItemPictures(Database& db, int64_t itemId, int* error) {
  Statement st(db, "SELECT id, bodypos, image_path, imagetext FROM newsimages WHERE fk_newsitem = ? ORDER BY bodypos, id");
  st.Bind(1, itemId);
  std::vector<PictureRow> rows;
  while (st.Next()) rows.push_back({st.Int(0), st.Int(1), st.Text(2), st.Text(3)});
  if (error) *error = st.error();
  if (st.error()) rows.clear();
  return rows;
}

int ReadPictureBytes(Database& db, int64_t pictureId, std::string* bytes) {
  bytes->clear();
  if (PicturesInDatabase(db)) {
    Statement st(db, std::string("SELECT encode(bytes, 'hex') FROM ") + kImageBytesTable + " WHERE fk_newsimages = ?");
    st.Bind(1, pictureId);
    if (!st.Next()) return st.error() ? st.error() : SQLITE_NOTFOUND;
    return FromHex(st.TextView(0), bytes) ? 0 : SQLITE_CORRUPT;
  }
  Statement st(db, "SELECT image_path FROM newsimages WHERE id = ?");
  st.Bind(1, pictureId);
  if (!st.Next()) return st.error() ? st.error() : SQLITE_NOTFOUND;
  const std::string path = st.Text(0);
  if (path.empty()) return SQLITE_NOTFOUND;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? SQLITE_NOTFOUND : SQLITE_IOERR;
  char buffer[1 << 16];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) bytes->append(buffer, static_cast<size_t>(n));
  ::close(fd);
  if (n < 0) return SQLITE_IOERR;
  return bytes->empty() ? SQLITE_NOTFOUND : 0;
}

int StorePictureBytes(Database& db, int64_t pictureId, std::string_view bytes) {
  Statement st(db, std::string("INSERT INTO ") + kImageBytesTable + " (fk_newsimages, bytes) VALUES(?, ?)");
  st.Bind(1, pictureId).BindBytes(2, bytes);
  return st.Execute();
}

}  // namespace orvo
