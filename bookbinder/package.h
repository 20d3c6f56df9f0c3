// One eBook volume as an Open eBook package: a table of contents, one content
// document holding the volume's news and a package file listing both, the
// stylesheet and every picture. The three files go to the program's "temp/"
// folder, from where the LIT writer compiles them.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "database.h"
#include "store/filter_query.h"

namespace orvo {

// The templates compiled into the program.
std::string_view TocTemplate();
std::string_view ContentTemplate();
std::string_view PackageTemplate();
std::string_view StylesheetText();

// The files of the package inside the temp folder.
struct PackageFiles {
  explicit PackageFiles(std::string tempDir);
  std::string tempDir;      // ends in "/"
  std::string pictureDir;   // Images/ inside it: the volume's pictures
  std::string toc;          // toc.html
  std::string content;      // Content.html
  std::string package;      // Newsdesk.opf
  std::string stylesheet;   // eBook.css
};

struct VolumeRequest {
  int maxNews = 50;       // at most this many items
  int volumeIndex = 0;    // from 0; the title shows it plus 1
  std::time_t buildTime = 0;
  bool writeFiles = true;  // false: only the model and the pictures (no .lit wanted)
};

// What one volume holds, for writers other than the LIT one.
struct VolumePicture {
  std::string id;         // "Pic_<id>"
  std::string file;       // the copy inside the package folder
  std::string href;       // relative to the package folder
  std::string mediaType;
};

// A run of body text as stored (HTML text), or a picture with its caption
// (HTML text too).
struct VolumeSegment {
  std::string text;
  int picture = -1;  // index into VolumeModel::pictures
  std::string caption;
};

struct VolumeNews {
  std::string header;  // category and publication date
  std::string title;
  std::string srcUrl;
  std::vector<VolumeSegment> segments;
};

struct VolumeCategory {
  int64_t id = 0;
  std::string name;
  std::string anchor;  // ASCII, from the id
  std::vector<VolumeNews> news;
};

struct VolumeModel {
  std::string title;
  std::time_t buildTime = 0;
  std::vector<VolumeCategory> categories;
  std::vector<VolumePicture> pictures;  // in manifest order, placeholders or not
};

// The anchor of a category inside a volume: ASCII whatever the name, so
// every reader's table of contents finds it.
std::string CategoryAnchor(int64_t categoryId);

// Builds the package of one volume from the query's current row on and
// writes its files. On return the query stands on the first row not taken,
// or *endOfRows is set. *items is the number of news taken; with 0 nothing
// is written. Returns 0 on success, 1 on failure (logged).
// With `model`, the volume is also described there. Pictures (from the
// program folder's Images/ only) are copied, linked or converted into
// files.pictureDir, so the package never points outside its folder; one
// that cannot go is left out with its placeholder and a line in the log.
int BuildPackage(Database& db, NewsQuery& query, bool* endOfRows, const VolumeRequest& request,
                 const PackageFiles& files, int* items, VolumeModel* model = nullptr);

// Writes the stylesheet into the temp folder when it is missing there, so a
// fresh program folder still makes books. false when it cannot be written.
bool EnsureStylesheet(const PackageFiles& files);

}  // namespace orvo
