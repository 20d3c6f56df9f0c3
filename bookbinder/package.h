// One eBook volume as an Open eBook package: a table of contents, one content
// document holding the volume's news and a package file listing both, the
// stylesheet and every picture. The three files go to the program's "temp/"
// folder, from where the LIT writer compiles them.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "database.h"
#include "filter_query.h"

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
  std::string toc;          // toc.html
  std::string content;      // Content.html
  std::string package;      // Newsdesk.opf
  std::string stylesheet;   // eBook.css
};

struct VolumeRequest {
  int maxNews = 50;       // at most this many items
  int volumeIndex = 0;    // from 0; the title shows it plus 1
  std::time_t buildTime = 0;
};

// The picture's media type from its first bytes, else its name; image/jpeg
// when neither tells.
std::string PictureMediaType(const std::string& path);

// A picture's address inside the package: its path relative to the
// package's folder (where every reader of a package starts), with the
// characters that would end or escape a URI path percent-encoded.
std::string PackageHref(const std::string& path, const std::string& packageDir);

// Builds the package of one volume from the query's current row on and
// writes its files. On return the query stands on the first row not taken,
// or *endOfRows is set. *items is the number of news taken; with 0 nothing
// is written. Returns 0 on success, 1 on failure (logged).
int BuildPackage(Database& db, NewsQuery& query, bool* endOfRows, const VolumeRequest& request,
                 const PackageFiles& files, int* items);

// Writes the stylesheet into the temp folder when it is missing there, so a
// fresh program folder still makes books. false when it cannot be written.
bool EnsureStylesheet(const PackageFiles& files);

}  // namespace orvo
