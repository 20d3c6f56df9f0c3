#include "gatherer/masks/tools/try_mask.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "gatherer/autoextract/auto_extract.h"
#include "gatherer/masks/extraction.h"
#include "gatherer/masks/html_document.h"
#include "gatherer/masks/mask.h"
#include "gatherer/masks/text_util.h"

namespace orvo {

namespace {

const char kUsage[] =
    "Usage: Gatherer --try-mask MASKFILE PAGEFILE [options]\n"
    "       Gatherer --try-mask --find TEXT PAGEFILE [--charset NAME]\n"
    "       Gatherer --try-mask --auto PAGEFILE [--url ADDRESS] [--charset NAME]\n"
    "\n"
    "Applies a mask to a saved page and prints what it extracts: the title,\n"
    "author, composed body and images of a news page, or with --list the\n"
    "news links of a list page with their dates.\n"
    "\n"
    "  MASKFILE         the mask as its author writes it (HTML)\n"
    "  PAGEFILE         the page as downloaded (bytes in the page's own charset)\n"
    "  --url ADDRESS    the page's address, for relative links and images\n"
    "                   (default: file:// and the page's path)\n"
    "  --list           treat the page as a list page\n"
    "  --hex            MASKFILE holds the stored hexadecimal form\n"
    "  --charset NAME   the charset an HTTP header would give (default: as\n"
    "                   the page declares it)\n"
    "  --days N         with --list: drop links older than N days, reading\n"
    "                   missing dates from the addresses (default 0: keep all)\n"
    "  --no-images      as with the LoadImages setting off\n"
    "  --find TEXT      print the mask path to the smallest elements whose\n"
    "                   text contains TEXT (a start for writing a mask)\n"
    "  --auto           no mask: extract the news automatically, as a run does\n"
    "                   for a pair whose news mask is missing or broken\n"
    "  --help           this text\n";

bool ReadFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  out = ss.str();
  return !in.bad();
}

const char* StatusName(DateTime::Status s) {
  switch (s) {
    case DateTime::Status::kValid:
      return "valid";
    case DateTime::Status::kInvalid:
      return "invalid";
    case DateTime::Status::kNull:
      break;
  }
  return "null";
}

std::string AttributeEscape(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '"') out += "&quot;";
    else if (c == '&') out += "&amp;";
    else out += c;
  }
  return out;
}

// Prints, for each smallest element whose text holds needle, the chain of mask
// nodes from a body child down to it.
int FindText(const HtmlDocument& doc, const std::string& needle) {
  int found = 0;
  std::vector<int> hits;
  for (int e = 0; e < doc.ElementCount(); ++e) {
    // Script and style show no text on the page; their source is no target.
    std::string_view tag = doc.TagName(e);
    if (tag == "SCRIPT" || tag == "STYLE" || tag == "NOSCRIPT" || tag == "TEMPLATE") continue;
    if (doc.InnerText(e).find(needle) == std::string::npos) continue;
    bool child_has = false;
    for (int c : doc.Children(e))
      if (doc.InnerText(c).find(needle) != std::string::npos) {
        child_has = true;
        break;
      }
    if (!child_has) hits.push_back(e);
  }
  for (int e : hits) {
    std::vector<int> chain;
    for (int x = e; x >= 0 && x != doc.Body(); x = doc.Parent(x)) chain.push_back(x);
    if (chain.empty() || doc.Parent(chain.back()) != doc.Body()) continue;
    ++found;
    std::printf("<!-- element %d -->\n", e);
    std::string indent;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      std::string tag = AsciiLower(doc.TagName(*it));
      if (tag == "!") tag = "cmnt";
      std::printf("%s<%s", indent.c_str(), tag.c_str());
      if (doc.SameTagIndex(*it) != 0) std::printf(" ord=\"%d\"", doc.SameTagIndex(*it));
      std::string cls = doc.ClassName(*it);
      if (!cls.empty()) std::printf(" class=\"%s\"", AttributeEscape(cls).c_str());
      std::printf(">\n");
      indent += "  ";
    }
  }
  if (found == 0) {
    std::fprintf(stderr, "No element of the page's body holds that text.\n");
    return 1;
  }
  return 0;
}

void PrintNewsItem(const FinishedNewsItem& item) {
  std::printf("Title: %s\n", item.title.c_str());
  std::printf("Author: %s\n", item.author.c_str());
  std::printf("Body: %zu characters\n%s\n", Utf8Length(item.body), item.body.c_str());
  std::printf("Images: %zu\n", item.images.size());
  for (size_t i = 0; i < item.images.size(); ++i) {
    std::printf("[%zu] %s\n", i, item.images[i].source.c_str());
    if (!item.images[i].caption.empty())
      std::printf("    caption: %s\n", item.images[i].caption.c_str());
  }
  if (item.body.empty())
    std::fprintf(stderr, "The body is empty: this page would give no news item.\n");
}

int AutoPage(const HtmlDocument& page, bool images) {
  std::printf("Page charset: %s\n",
              page.DeclaredCharset().empty() ? "(none declared)" : page.DeclaredCharset().c_str());
  ExtractionState state;
  state.load_images = images;
  state.BeginPage(DateTime::Now());
  AutoExtractResult r = AutoExtract(page, state);
  if (r.main_block >= 0) {
    std::string cls = page.ClassName(r.main_block), id = page.Attribute(r.main_block, "id");
    std::printf("Main block: element %d <%s%s%s%s%s>\n", r.main_block,
                AsciiLower(page.TagName(r.main_block)).c_str(), cls.empty() ? "" : " class=\"",
                cls.empty() ? "" : (AttributeEscape(cls) + "\"").c_str(), id.empty() ? "" : " id=\"",
                id.empty() ? "" : (AttributeEscape(id) + "\"").c_str());
  } else {
    std::printf("Main block: none found\n");
  }
  std::printf("Date: %s\n", r.date.valid() ? r.date.ToString().c_str() : "(none found)");
  PrintNewsItem(FinishNewsItem(state, page.Url()));
  return 0;
}

}  // namespace

int RunTryMask(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (!args.empty() && args[0] == "--try-mask") args.erase(args.begin());

  std::vector<std::string> files;
  std::string url, charset, find;
  bool list = false, hex = false, images = true, find_mode = false, auto_mode = false;
  int days = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "%s needs a value. Run with --help for the options.\n", a.c_str());
        return false;
      }
      out = args[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--list") {
      list = true;
    } else if (a == "--auto") {
      auto_mode = true;
    } else if (a == "--hex") {
      hex = true;
    } else if (a == "--no-images") {
      images = false;
    } else if (a == "--url") {
      if (!value(url)) return 2;
    } else if (a == "--charset") {
      if (!value(charset)) return 2;
    } else if (a == "--find") {
      if (!value(find)) return 2;
      find_mode = true;
    } else if (a == "--days") {
      std::string d;
      if (!value(d)) return 2;
      days = LeadingInt(d);
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      std::fprintf(stderr, "Unknown option %s. Run with --help for the options.\n", a.c_str());
      return 2;
    } else {
      files.push_back(a);
    }
  }
  if (auto_mode && (find_mode || list)) {
    std::fprintf(stderr, "--auto reads news pages only; it goes with neither --find nor --list.\n");
    return 2;
  }
  size_t wanted = find_mode || auto_mode ? 1 : 2;
  if (files.size() != wanted) {
    std::fprintf(stderr, "%s\n", find_mode   ? "--find needs exactly one PAGEFILE."
                                 : auto_mode ? "--auto needs exactly one PAGEFILE."
                                             : "Give a MASKFILE and a PAGEFILE.");
    std::fputs(kUsage, stderr);
    return 2;
  }

  const std::string& page_path = files.back();
  std::string page_bytes;
  if (!ReadFile(page_path, page_bytes)) {
    std::fprintf(stderr, "Cannot read the page file %s. Check the path and its permissions.\n",
                 page_path.c_str());
    return 3;
  }
  if (url.empty()) {
    std::error_code ec;
    auto abs = std::filesystem::absolute(page_path, ec);
    url = "file://" + (ec ? page_path : abs.string());
  }
  HtmlDocument page = HtmlDocument::FromBytes(page_bytes, charset, url);
  if (find_mode) return FindText(page, find);
  if (auto_mode) return AutoPage(page, images);

  std::string mask_text;
  if (!ReadFile(files[0], mask_text)) {
    std::fprintf(stderr, "Cannot read the mask file %s. Check the path and its permissions.\n",
                 files[0].c_str());
    return 3;
  }
  MaskPhase phase = list ? MaskPhase::kList : MaskPhase::kNews;
  MaskLoadResult loaded = hex ? LoadMaskHex(mask_text, phase) : LoadMaskHtml(mask_text, phase);
  if (loaded.outcome != MaskLoadOutcome::kLoaded) {
    std::fprintf(stderr, "ERROR loading mask : %s\n", MaskFailureName(loaded.outcome));
    std::fprintf(stderr, "%s\n", loaded.outcome == MaskLoadOutcome::kMarkup
                                     ? "The mask file is not valid hexadecimal text."
                                     : "The mask's body has no element: the mask is empty.");
    return 4;
  }
  const Mask& mask = loaded.mask;

  std::printf("Page charset: %s\n",
              page.DeclaredCharset().empty() ? "(none declared)" : page.DeclaredCharset().c_str());
  for (const FormField& f : mask.form_fields)
    std::printf("Form field: %s=%s\n", f.name.c_str(), f.value.c_str());

  ExtractionState state;
  state.list_phase = list;
  state.load_images = images;
  DateTime now = DateTime::Now();
  state.BeginPage(now);
  WalkPage(page, mask, state);

  if (list) {
    std::printf("List page address: %s\n", mask.list_url.c_str());
    if (!mask.date_in_url.empty())
      std::printf("Date in address: %s\n", mask.date_in_url.c_str());
    ApplyLinkDates(mask, days, now, state);
    std::printf("Links: %zu\n", state.links.size());
    for (const NewsLink& l : state.links)
      std::printf("%s %-7s %s\n", l.date.ToString().c_str(), StatusName(l.date.status),
                  l.address.c_str());
    return 0;
  }

  PrintNewsItem(FinishNewsItem(state, url));
  return 0;
}

}  // namespace orvo
