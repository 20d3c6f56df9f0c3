// The catalogue an updates server publishes: a folder of plain files that a
// site maintainer edits by hand.
//
//   catalogue.txt    one site/category pair per line:
//                    site | category | list mask | version | news-page mask | version [| refetch]
//   masks/NAME       the mask files the lines name (HTML, UTF-8)
//
// Blank lines and lines starting with "#" are comments. A site's categories
// are published in the order of their lines, sites in the order of their
// first line. A mask is known to clients by its file name.
//
// In a mask, {{SERVER}} stands for the address the client used to reach the
// server ("http://host:port"), so masks of sites served beside the catalogue
// (--static) work on any port and host name.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace orvo::updates {

inline constexpr const char* kIndexFile = "catalogue.txt";
inline constexpr const char* kMaskFolder = "masks";
// Clients keep at most this many bytes of a mask.
inline constexpr size_t kMaxMaskBytes = 47500;
inline constexpr const char* kServerPlaceholder = "{{SERVER}}";
// Room kept in the size check for each placeholder's expansion.
inline constexpr size_t kPlaceholderRoom = 100;
// Site and category names fit a 255-character text column (clients count
// characters, not bytes).
inline constexpr size_t kMaxNameChars = 254;

struct CataloguePair {
  std::string category;
  std::string list_mask;  // file name in masks/
  int list_version = 0;
  std::string news_mask;
  int news_version = 0;
  int refetch = 0;  // above 0, clients fetch both masks again on every run
  int line = 0;     // line in catalogue.txt, for messages
};

struct CatalogueSite {
  std::string name;
  std::vector<CataloguePair> pairs;
};

struct Catalogue {
  std::vector<CatalogueSite> sites;
  std::map<std::string, std::string> masks;  // file name -> text
  size_t PairCount() const;
};

struct LoadResult {
  std::shared_ptr<const Catalogue> catalogue;  // null when the folder is not valid
  std::string error;                           // "FILE[:LINE]: what is wrong", when null
  std::vector<std::string> warnings;           // worth telling the maintainer, not fatal
};

// Reads and checks a catalogue folder. Every message names the file (and
// line) at fault and says how to put it right.
LoadResult LoadCatalogue(const std::string& folder);

// A cheap summary of the folder's state (names, sizes, times, inodes of
// catalogue.txt and the mask files): when it changes, the folder is read again.
std::string FolderFingerprint(const std::string& folder);

// The catalogue page clients read: a TABLE among the body's children, one row
// per site with a "name", then two cells per category ("cat", "ListMask",
// "Vers" / "NPMask", "Vers", "Fdld"). UTF-8, declared in the page.
std::string RenderCataloguePage(const Catalogue& catalogue);

// The mask text as sent: every {{SERVER}} replaced by origin.
std::string ExpandMask(const std::string& text, const std::string& origin);

}  // namespace orvo::updates
