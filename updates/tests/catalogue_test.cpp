#include "updates/catalogue.h"

#include <gtest/gtest.h>
#include <gumbo.h>

#include <map>

#include "catalogue_fixture.h"

namespace orvo::updates {
namespace {

using testing::CatalogueFolder;

// What a client reads from the catalogue page, read the way the client
// reads it: TABLEs among the body's element children, the first element
// child of each, its element children as site rows, their cells in pairs.
struct PageCell {
  std::map<std::string, std::string> attrs;
};
struct PageRow {
  std::string name;
  std::vector<PageCell> cells;
};

std::vector<const GumboNode*> Elements(const GumboNode* node) {
  std::vector<const GumboNode*> out;
  const GumboVector& kids = node->v.element.children;
  for (unsigned i = 0; i < kids.length; ++i) {
    auto* k = static_cast<const GumboNode*>(kids.data[i]);
    if (k->type == GUMBO_NODE_ELEMENT) out.push_back(k);
  }
  return out;
}

std::vector<PageRow> ReadPage(const std::string& html) {
  std::vector<PageRow> rows;
  GumboOutput* out = gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size());
  const GumboNode* body = nullptr;
  for (auto* e : Elements(out->root))
    if (e->v.element.tag == GUMBO_TAG_BODY) body = e;
  if (body) {
    for (auto* table : Elements(body)) {
      if (table->v.element.tag != GUMBO_TAG_TABLE) continue;
      auto sections = Elements(table);
      if (sections.empty()) continue;
      for (auto* tr : Elements(sections[0])) {
        PageRow row;
        if (auto* a = gumbo_get_attribute(&tr->v.element.attributes, "name")) row.name = a->value;
        for (auto* td : Elements(tr)) {
          PageCell cell;
          const GumboVector& attrs = td->v.element.attributes;
          for (unsigned i = 0; i < attrs.length; ++i) {
            auto* a = static_cast<const GumboAttribute*>(attrs.data[i]);
            cell.attrs[a->name] = a->value;  // the parser lower-cases names
          }
          row.cells.push_back(cell);
        }
        rows.push_back(row);
      }
    }
  }
  gumbo_destroy_output(&kGumboDefaultOptions, out);
  return rows;
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// Clients keep 254 characters of a name, whatever their bytes: a Cyrillic
// name of 254 letters (508 bytes) is theirs to store and must be served.
TEST(CatalogueTest, NamesAreLimitedInCharactersNotBytes) {
  CatalogueFolder f;
  f.WriteMask("m.html", "<div></div>");
  const std::string site = Repeat("ж", 254);
  const std::string category = Repeat("€", 254);
  f.WriteIndex(site + " | " + category + " | m.html | 2 | m.html | 2\n");
  LoadResult r = LoadCatalogue(f.path());
  ASSERT_TRUE(r.catalogue) << r.error;
  ASSERT_EQ(r.catalogue->sites.size(), 1u);
  EXPECT_EQ(r.catalogue->sites[0].name, site);
  ASSERT_EQ(r.catalogue->sites[0].pairs.size(), 1u);
  EXPECT_EQ(r.catalogue->sites[0].pairs[0].category, category);
}

TEST(CatalogueTest, ValidFolderGroupsPairsBySiteInFileOrder) {
  CatalogueFolder f;
  f.WriteDefault();
  LoadResult r = LoadCatalogue(f.path());
  ASSERT_TRUE(r.catalogue) << r.error;
  const Catalogue& c = *r.catalogue;
  ASSERT_EQ(c.sites.size(), 2u);
  EXPECT_EQ(c.sites[0].name, "Alpha");
  ASSERT_EQ(c.sites[0].pairs.size(), 2u);
  EXPECT_EQ(c.sites[0].pairs[0].category, "World");
  EXPECT_EQ(c.sites[0].pairs[1].category, "Sport");  // its line comes after Beta's
  EXPECT_EQ(c.sites[0].pairs[1].line, 5);
  EXPECT_EQ(c.sites[1].pairs[0].list_version, 4);
  EXPECT_EQ(c.sites[1].pairs[0].refetch, 1);
  EXPECT_EQ(c.sites[0].pairs[0].refetch, 0);
  EXPECT_EQ(c.masks.size(), 3u);  // a shared mask is read once
  EXPECT_EQ(c.masks.at("b-list.html"), "<div url=\"http://b.test/list\"></div>");
  EXPECT_TRUE(r.warnings.empty());
}

TEST(CatalogueTest, PageCarriesEveryPairAsTheClientReadsIt) {
  CatalogueFolder f;
  f.WriteDefault();
  LoadResult r = LoadCatalogue(f.path());
  ASSERT_TRUE(r.catalogue) << r.error;
  std::string page = RenderCataloguePage(*r.catalogue);
  EXPECT_NE(page.find("charset=utf-8"), std::string::npos);
  auto rows = ReadPage(page);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].name, "Alpha");
  ASSERT_EQ(rows[0].cells.size(), 4u);
  EXPECT_EQ(rows[0].cells[0].attrs["cat"], "World");
  EXPECT_EQ(rows[0].cells[0].attrs["listmask"], "a-list.html");
  EXPECT_EQ(rows[0].cells[0].attrs["vers"], "2");
  EXPECT_EQ(rows[0].cells[1].attrs["npmask"], "a-news.html");
  EXPECT_EQ(rows[0].cells[1].attrs["vers"], "3");
  EXPECT_EQ(rows[0].cells[1].attrs["fdld"], "0");
  EXPECT_EQ(rows[0].cells[2].attrs["cat"], "Sport");
  EXPECT_EQ(rows[1].name, "Beta");
  ASSERT_EQ(rows[1].cells.size(), 2u);
  EXPECT_EQ(rows[1].cells[1].attrs["fdld"], "1");
}

TEST(CatalogueTest, NamesWithMarkupCharactersSurviveThePage) {
  CatalogueFolder f;
  f.WriteMask("m.html", "<div></div>");
  // CRLF line ends and a byte-order mark, as a Windows editor saves them.
  f.WriteIndex("\xEF\xBB\xBFNews \"&\" <Views> | \xD0\x9C\xD0\xB8\xD1\x80 & Co | m.html | 2 | m.html | 2\r\n");
  LoadResult r = LoadCatalogue(f.path());
  ASSERT_TRUE(r.catalogue) << r.error;
  auto rows = ReadPage(RenderCataloguePage(*r.catalogue));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].name, "News \"&\" <Views>");
  EXPECT_EQ(rows[0].cells[0].attrs["cat"], "\xD0\x9C\xD0\xB8\xD1\x80 & Co");
  EXPECT_EQ(rows[0].cells[1].attrs["vers"], "2");
}

// Each broken folder is refused with a message that names the file (and
// line) to fix.
TEST(CatalogueTest, BrokenFoldersNameTheFileAtFault) {
  struct Case {
    const char* what;
    std::string index;
    std::string expect_file;  // relative to the folder
    std::string expect_text;
  };
  const std::string good = "S | C | m.html | 2 | m.html | 2\n";
  std::vector<Case> cases = {
      {"missing mask file", good + "S | D | nope.html | 2 | m.html | 2\n", "catalogue.txt:2",
       "masks/nope.html does not exist"},
      {"version not a number", "S | C | m.html | two | m.html | 2\n", "catalogue.txt:1", "\"two\" is not a whole number"},
      {"negative version", "S | C | m.html | -3 | m.html | 2\n", "catalogue.txt:1", "not a whole number"},
      {"version too large", "S | C | m.html | 2147483648 | m.html | 2\n", "catalogue.txt:1", "not a whole number"},
      {"version 1 is never fetched", "S | C | m.html | 2 | m.html | 1\n", "catalogue.txt:1", "versions start at 2"},
      {"duplicate pair", good + "# again\nS | C | m.html | 3 | m.html | 3\n", "catalogue.txt:3",
       "listed twice (first on line 1)"},
      {"too few fields", "S | C | m.html | 2\n", "catalogue.txt:1", "found 4 fields"},
      {"too many fields", "S | C | m.html | 2 | m.html | 2 | 0 | x\n", "catalogue.txt:1", "found 8 fields"},
      {"bad refetch", "S | C | m.html | 2 | m.html | 2 | yes\n", "catalogue.txt:1", "refetch flag"},
      {"empty site", " | C | m.html | 2 | m.html | 2\n", "catalogue.txt:1", "site name is empty"},
      {"path in mask name", "S | C | ../m.html | 2 | m.html | 2\n", "catalogue.txt:1", "not a file name in masks/"},
      {"no pair at all", "# nothing yet\n\n", "catalogue.txt", "lists no site/category pair"},
      {"long site name", std::string(255, 's') + " | C | m.html | 2 | m.html | 2\n", "catalogue.txt:1",
       "longer than 254 characters"},
      {"long Cyrillic category", "S | " + Repeat("ж", 255) + " | m.html | 2 | m.html | 2\n", "catalogue.txt:1",
       "category name is longer than 254 characters"},
  };
  for (const auto& c : cases) {
    CatalogueFolder f;
    f.WriteMask("m.html", "<div></div>");
    f.WriteIndex(c.index);
    LoadResult r = LoadCatalogue(f.path());
    EXPECT_FALSE(r.catalogue) << c.what;
    EXPECT_EQ(r.error.rfind(f.path() + "/" + c.expect_file + ": ", 0), 0u) << c.what << ": " << r.error;
    EXPECT_NE(r.error.find(c.expect_text), std::string::npos) << c.what << ": " << r.error;
  }
}

TEST(CatalogueTest, BrokenMaskFilesAreNamed) {
  struct Case {
    const char* what;
    std::string text;
    const char* expect;
  };
  std::vector<Case> cases = {
      {"empty", "", "the mask is empty"},
      {"too long", std::string(kMaxMaskBytes + 1, 'x'), "47501 bytes is more than the 47500"},
      {"not UTF-8", "<p>caf\xE9</p>", "the byte at offset 6 is not UTF-8"},
      {"overlong encoding", "<p>\xC0\xAF</p>", "the byte at offset 3 is not UTF-8"},
  };
  for (const auto& c : cases) {
    CatalogueFolder f;
    f.WriteMask("good.html", "<div></div>");
    f.WriteMask("bad.html", c.text);
    f.WriteIndex("S | C | good.html | 2 | bad.html | 2\n");
    LoadResult r = LoadCatalogue(f.path());
    EXPECT_FALSE(r.catalogue) << c.what;
    EXPECT_EQ(r.error.rfind(f.Mask("bad.html") + ": ", 0), 0u) << c.what << ": " << r.error;
    EXPECT_NE(r.error.find(c.expect), std::string::npos) << c.what << ": " << r.error;
  }
  // Each server placeholder keeps room for the address it becomes.
  {
    CatalogueFolder f;
    std::string text = "{{SERVER}}" + std::string(kMaxMaskBytes - kPlaceholderRoom, 'x');
    f.WriteMask("m.html", text);
    f.WriteIndex("S | C | m.html | 2 | m.html | 2\n");
    EXPECT_TRUE(LoadCatalogue(f.path()).catalogue);
    f.WriteMask("m.html", text + "x");
    LoadResult r = LoadCatalogue(f.path());
    EXPECT_FALSE(r.catalogue);
    EXPECT_NE(r.error.find("with room for the server address"), std::string::npos) << r.error;
  }
  // The longest mask a client keeps whole is fine.
  CatalogueFolder f;
  f.WriteMask("big.html", std::string(kMaxMaskBytes, 'x'));
  f.WriteIndex("S | C | big.html | 2 | big.html | 2\n");
  EXPECT_TRUE(LoadCatalogue(f.path()).catalogue);
}

TEST(CatalogueTest, MissingIndexSaysWhatAFolderHolds) {
  orvo::testing::TempDir dir;
  LoadResult r = LoadCatalogue(dir.path());
  ASSERT_FALSE(r.catalogue);
  EXPECT_EQ(r.error.rfind(dir.File("catalogue.txt") + ": does not exist", 0), 0u) << r.error;
  EXPECT_NE(r.error.find("masks/ folder"), std::string::npos);
}

TEST(CatalogueTest, WarnsAboutUnusedMasksAndVersionsThatDisagree) {
  CatalogueFolder f;
  f.WriteMask("m.html", "<div></div>");
  f.WriteMask("n.html", "<div></div>");
  f.WriteMask("old.html", "<div></div>");
  f.WriteIndex("S | C | m.html | 2 | n.html | 5\nS | D | m.html | 2 | n.html | 6\nT | C | m.html | 2 | n.html | 5\n");
  LoadResult r = LoadCatalogue(f.path());
  ASSERT_TRUE(r.catalogue) << r.error;
  ASSERT_EQ(r.warnings.size(), 2u);
  EXPECT_NE(r.warnings[0].find("catalogue.txt:2: n.html has version 6 here and 5 on line 1"), std::string::npos)
      << r.warnings[0];
  EXPECT_NE(r.warnings[1].find("old.html: not named in catalogue.txt"), std::string::npos) << r.warnings[1];
}

TEST(CatalogueTest, FingerprintFollowsEveryEdit) {
  CatalogueFolder f;
  f.WriteDefault();
  std::string a = FolderFingerprint(f.path());
  EXPECT_EQ(a, FolderFingerprint(f.path()));
  f.WriteMask("a-news.html", "<h1 role=\"header\"></h1>");  // same name, new text
  std::string b = FolderFingerprint(f.path());
  EXPECT_NE(a, b);
  f.WriteMask("extra.html", "<div></div>");
  std::string c = FolderFingerprint(f.path());
  EXPECT_NE(b, c);
  std::remove(f.Mask("extra.html").c_str());
  EXPECT_NE(c, FolderFingerprint(f.path()));
}

}  // namespace
}  // namespace orvo::updates
