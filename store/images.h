// The pictures of the news items. On SQLite a picture's bytes are a file
// under Images/ that its row (newsimages.image_path) names, as they always
// were; on PostgreSQL, which other machines share, they are in the database
// (table newsimage_bytes), written in the item's own transaction, and the row
// names no file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvo {

class Database;

// One row of newsimages.
struct PictureRow {
  int64_t id = 0;
  int64_t position = 0;  // bodypos: the "[[{N}]]" of the body
  std::string path;      // image_path (a file on SQLite)
  std::string caption;   // imagetext
};

// The pictures of an item in body order; empty when it has none or on failure
// (then *error, when given, is the code).
std::vector<PictureRow> ItemPictures(Database& db, int64_t itemId, int* error = nullptr);

// The bytes of picture row `pictureId`, from its file on SQLite or from the
// database on PostgreSQL. 0 with the bytes; SQLITE_NOTFOUND when the row is
// gone or its picture has no bytes (never fetched, its file removed);
// another code when the database or the file cannot be read.
int ReadPictureBytes(Database& db, int64_t pictureId, std::string* bytes);

// PostgreSQL: keeps a picture's bytes with its row. Inside the caller's
// transaction, which makes them part of the item. 0, or the failure's code.
int StorePictureBytes(Database& db, int64_t pictureId, std::string_view bytes);

// True when the pictures' bytes are in the database rather than in files.
bool PicturesInDatabase(const Database& db);

}  // namespace orvo
