// A catalogue folder written by a test.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "test_support.h"

namespace orvo::updates::testing {

class CatalogueFolder {
 public:
  CatalogueFolder() { ::mkdir(Mask("").c_str(), 0755); }
  const std::string& path() const { return dir_.path(); }
  std::string Mask(const std::string& name) const { return dir_.File("masks/" + name); }
  std::string Index() const { return dir_.File("catalogue.txt"); }

  // Writes through a temporary file and a rename, as editors and deployment
  // tools do, so a reader never sees half a file.
  void WriteIndex(const std::string& text) const { Replace(Index(), text); }
  void WriteMask(const std::string& name, const std::string& text) const { Replace(Mask(name), text); }

  // A small valid catalogue: two sites, three pairs, three masks.
  void WriteDefault() const {
    WriteMask("a-list.html", "<div url=\"http://a.test/\"></div><a role=\"link\" ord=\"-1\"></a>");
    WriteMask("a-news.html", "<h1 role=\"header\"></h1><p role=\"text\" ord=\"-1\"></p>");
    WriteMask("b-list.html", "<div url=\"http://b.test/list\"></div>");
    WriteIndex(
        "# test catalogue\n"
        "Alpha | World  | a-list.html | 2 | a-news.html | 3\n"
        "\n"
        "Beta  | Sport  | b-list.html | 4 | a-news.html | 3 | 1\n"
        "Alpha | Sport  | a-list.html | 2 | a-news.html | 3\n");
  }

 private:
  static void Replace(const std::string& path, const std::string& text) {
    std::string tmp = path + ".tmp~";
    orvo::testing::WriteFile(tmp, text);
    std::rename(tmp.c_str(), path.c_str());
  }
  orvo::testing::TempDir dir_;
};

}  // namespace orvo::updates::testing
