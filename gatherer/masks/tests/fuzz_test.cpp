// Random and truncated pages, masks and dates through the whole library with
// a fixed seed: nothing may crash, hang or break the output's invariants.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "gatherer/masks/extraction.h"
#include "gatherer/masks/text_util.h"

namespace orvo {
namespace {

const char* const kTags[] = {"div", "p", "a", "span", "table", "tr", "td", "ul", "li", "img",
                             "br", "h1", "pre", "param", "cmnt", "b", "script", "!--", "tbody",
                             "frameset", "body", "html", "select", "option", "x-y"};
const char* const kAttrs[] = {
    "ord=\"-1\"",       "ord=\"1\"",         "ord=\"zz\"",        "class=\"a\"",
    "class=\"A b\"",    "role=\"text\"",     "role=\"link\"",     "role=\"date\"",
    "role=\"img\"",     "role=\"imgtext\"",  "role=\"header\"",   "role=\"author\"",
    "paragraph=\"1\"",  "paragraph=\"2\"",   "beforebegin=\"1\"", "afterBegin=\"2\"",
    "beforeEnd=\"4\"",  "textafter=\"5\"",   "dateFrmt=\"D0*M2*Y1\"", "dateFrmt=\"H1*N1\"",
    "MonthFrmt=\"a|b|c|d|e|f|g|h|i|j|k|l\"", "dateFirst=\"1\"",   "href=\"/x.html?y\"",
    "href=\"javascript:x\"", "href=\"http://h/?u=http://i/j.mp3\"", "src=\"../i.png\"",
    "url=\"http://s/\"", "dateInURL=\"Y1*M1*D1\"", "pname=\"a\" pvalue=\"1\""};
const char* const kTexts[] = {"07.12.2003", " 14:05 ", "7 december 2003", "&amp;", "&lt;b&gt;",
                              "\xC3\xA9t\xC3\xA9", "\xE4\xB8\xAD\xE6\x96\x87", "\n\n", "   ",
                              "x", "2004/03/17", "\xFF\xFE", "\xC3", "<", ">", "\"", "'"};

std::string RandomMarkup(std::mt19937& rng, int elements) {
  std::string out;
  std::vector<std::string> open;
  auto pick = [&](auto& arr) { return arr[rng() % std::size(arr)]; };
  for (int i = 0; i < elements; ++i) {
    switch (rng() % 4) {
      case 0:
      case 1: {
        std::string tag = pick(kTags);
        out += "<" + tag;
        for (unsigned k = rng() % 4; k > 0; --k) out += std::string(" ") + pick(kAttrs);
        out += ">";
        open.push_back(tag);
        break;
      }
      case 2:
        out += pick(kTexts);
        break;
      case 3:
        if (!open.empty()) {
          out += "</" + open.back() + ">";
          open.pop_back();
        }
        break;
    }
  }
  return out;
}

std::string Mutate(std::mt19937& rng, std::string s) {
  if (s.empty()) return s;
  switch (rng() % 4) {
    case 0:
      s.resize(rng() % s.size());  // truncated
      break;
    case 1:
      for (int i = 0; i < 8; ++i) s[rng() % s.size()] = char(rng() % 256);
      break;
    case 2:
      s.insert(rng() % s.size(), RandomMarkup(rng, 10));
      break;
    case 3:
      s.erase(rng() % s.size(), rng() % 40);
      break;
  }
  return s;
}

// The page itself turned into a mask: every start tag gains random mask
// attributes, so the mask's tree follows the page's and reaches deep into it.
std::string MaskFromPage(std::mt19937& rng, const std::string& page) {
  static const char* const kMaskAttrs[] = {
      " ord=\"-1\"", " ord=\"-1\"", " role=\"text\"", " role=\"link\"", " role=\"date\" dateFrmt=\"D1*M1*Y1\"",
      " role=\"img\"", " role=\"imgtext\"", " role=\"header\"", " paragraph=\"1\"",
      " textafter=\"1\"", " beforebegin=\"4\"", " afterBegin=\"5\" dateFrmt=\"H1*N1\"",
      " dateFirst=\"1\"", " beforeEnd=\"3\""};
  std::string out;
  for (size_t i = 0; i < page.size(); ++i) {
    out += page[i];
    if (page[i] == '<' && i + 1 < page.size() && page[i + 1] != '/') {
      size_t end = page.find_first_of(" >", i);
      if (end == std::string::npos) continue;
      out.append(page, i + 1, end - i - 1);
      if (page.compare(i + 1, 2, "a ") == 0 && rng() % 2) out += " role=\"link\" ord=\"-1\"";
      for (unsigned k = rng() % 3; k > 0; --k) out += kMaskAttrs[rng() % std::size(kMaskAttrs)];
      i = end - 1;
    }
  }
  return out;
}

std::vector<std::string> SeedMasks() {
  std::vector<std::string> seeds;
  for (const auto& entry : std::filesystem::directory_iterator(MASKS_CORPUS_DIR)) {
    if (entry.path().extension() != ".html") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    seeds.push_back(ss.str());
  }
  return seeds;
}

void CheckState(const ExtractionState& s, const Mask& mask) {
  ASSERT_TRUE(IsValidUtf8(s.body));
  ASSERT_TRUE(IsValidUtf8(s.title));
  ASSERT_TRUE(IsValidUtf8(s.author));
  for (const NewsLink& l : s.links) {
    ASSERT_FALSE(l.address.empty());
    ASSERT_EQ(AsciiLower(l.address).find("javascript:"), std::string::npos);
  }
  // Every placeholder names a record.
  for (size_t p = 0; (p = s.body.find("[[{", p)) != std::string::npos; p += 3)
    ASSERT_LT(size_t(LeadingInt(s.body.substr(p + 3))), s.images.size());
  FinishedNewsItem item = FinishNewsItem(s, "http://page/");
  ASSERT_LE(Utf8Length(item.body), kMaxBodyChars);
  ASSERT_TRUE(IsValidUtf8(item.body));
  ExtractionState copy = s;
  ApplyLinkDates(mask, 3, DateTime::Make(2026, 1, 1), copy);
  ASSERT_LE(copy.links.size(), s.links.size());
}

TEST(Fuzz, RandomAndTruncatedDocumentsAndMasks) {
  std::mt19937 rng(20261208);
  std::vector<std::string> seeds = SeedMasks();
  ASSERT_FALSE(seeds.empty());
  int with_body = 0, with_links = 0, with_images = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string page_text = RandomMarkup(rng, 5 + int(rng() % 120));
    std::string mask_text;
    switch (rng() % 3) {
      case 0:
        mask_text = RandomMarkup(rng, 3 + int(rng() % 40));
        break;
      case 1:
        mask_text = Mutate(rng, seeds[rng() % seeds.size()]);
        break;
      default:
        mask_text = "<x-head dateInURL='Y1*M1*D1'></x-head>" + MaskFromPage(rng, page_text);
    }
    bool list = rng() % 2;
    MaskLoadResult loaded = rng() % 8 == 0 ? LoadMaskHex(Mutate(rng, BytesToHex(mask_text)),
                                                          list ? MaskPhase::kList : MaskPhase::kNews)
                                            : LoadMaskHtml(mask_text, list ? MaskPhase::kList
                                                                           : MaskPhase::kNews);
    HtmlDocument page = HtmlDocument::FromBytes(page_text, rng() % 3 ? "" : "gb2312",
                                                "http://site.example/a/b.html");
    ASSERT_TRUE(IsValidUtf8(page.InnerText(0)));
    ExtractionState state;
    state.list_phase = list;
    state.load_images = rng() % 4 != 0;
    state.BeginPage(DateTime::Make(2026, 1, 1));
    WalkPage(page, loaded.mask, state);
    ASSERT_NO_FATAL_FAILURE(CheckState(state, loaded.mask)) << "round " << round;
    with_body += !state.body.empty();
    with_links += !state.links.empty();
    with_images += !state.images.empty();
    for (int e = 0; e < page.ElementCount(); e += 7) {
      ASSERT_TRUE(IsValidUtf8(page.InnerText(e)));
      page.AdjacentText(e, AdjacentPosition::kAfterEnd);
    }
  }
  // The random masks must reach into the pages, or the rounds prove nothing.
  std::printf("rounds with a body: %d, links: %d, images: %d\n", with_body, with_links, with_images);
  EXPECT_GT(with_body, 100);
  EXPECT_GT(with_links, 20);
  EXPECT_GT(with_images, 20);
}

TEST(Fuzz, ParseDateAlwaysEndsAndOnlyReportsRealDates) {
  std::mt19937 rng(7);
  const std::string pattern_chars = "DHMNSY0123*. ";
  const std::string text_chars = "0123456789 .:/-abcdemjy";
  std::vector<std::string> months = {"jan", "feb", "mar", "apr", "may", "jun",
                                     "jul", "aug", "sep", "oct", "nov", "dec"};
  for (int i = 0; i < 20000; ++i) {
    std::string pattern, text;
    for (unsigned k = rng() % 12; k > 0; --k) pattern += pattern_chars[rng() % pattern_chars.size()];
    for (unsigned k = rng() % 30; k > 0; --k) text += text_chars[rng() % text_chars.size()];
    DateTime d = DateTime::Make(2020, 2, 29, 1, 2, 3);
    DateTime before = d;
    bool ok = ParseDate(text, pattern, rng() % 2 ? months : std::vector<std::string>{}, d, 2026);
    if (ok) {
      ASSERT_TRUE(d.valid()) << text << " / " << pattern;
      ASSERT_TRUE(IsValidDateTime(d.year, d.month, d.day, d.hour, d.minute, d.second));
    } else {
      ASSERT_TRUE(d == before || d.status == DateTime::Status::kInvalid) << text << " / " << pattern;
    }
  }
}

}  // namespace
}  // namespace orvo
