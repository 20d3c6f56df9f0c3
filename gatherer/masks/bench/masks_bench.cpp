// Speed and memory of the mask library on the real pages of the shared
// corpus: parsing alone, and parsing plus the walk against each page's mask.
// Prints figures; it checks nothing.
#include <gumbo.h>
#include <malloc.h>

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gatherer/masks/charset.h"
#include "gatherer/masks/extraction.h"

namespace fs = std::filesystem;
using orvo::HtmlDocument;

namespace {

struct Case {
  std::string name;
  std::string bytes;
  std::string address;
  bool list = false;
  orvo::Mask mask;
};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string PercentDecode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      out += char(std::strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// CPU time of this thread: on a shared machine, wall time measures the
// neighbours as much as this code.
double CpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}
double Seconds(double since) { return CpuNow() - since; }

size_t HeapInUse() { return mallinfo2().uordblks; }

// gumbo's memory from chunks kept between parses and given back all at once,
// as the product's parse gets it: frees cost nothing, and no walk over the
// tree frees it. Without it "gumbo alone" paid malloc's price per node and
// was slower than the product it is the floor of.
class ArenaForGumbo {
 public:
  ~ArenaForGumbo() {
    Reset();
    for (char* c : chunks_) std::free(c);
  }
  static void* Allocate(void* self, size_t size) { return static_cast<ArenaForGumbo*>(self)->Get(size); }
  static void Deallocate(void*, void*) {}
  void Reset() {
    for (void* l : large_) std::free(l);
    large_.clear();
    used_ = 0;
    at_ = 0;
  }

 private:
  static constexpr size_t kChunk = size_t(256) << 10;
  void* Get(size_t size) {
    size = (size + 15) & ~size_t(15);
    if (size > kChunk / 4) return large_.emplace_back(std::malloc(size));
    if (used_ == 0 || at_ + size > kChunk) {
      if (used_ == chunks_.size()) chunks_.push_back(static_cast<char*>(std::malloc(kChunk)));
      ++used_;
      at_ = 0;
    }
    void* p = chunks_[used_ - 1] + at_;
    at_ += size;
    return p;
  }
  std::vector<char*> chunks_;
  size_t used_ = 0;  // chunks in use; the last is being filled
  size_t at_ = 0;
  std::vector<void*> large_;
};

void Report(const char* what, size_t pages, size_t bytes, double seconds) {
  std::printf("%-34s %8.1f pages/s %8.1f MB/s  (%zu pages, %.2f s CPU)\n", what, pages / seconds,
              bytes / seconds / 1e6, pages, seconds);
}

void Walk(const Case& c, const HtmlDocument& page) {
  orvo::ExtractionState state;
  state.list_phase = c.list;
  orvo::DateTime now = orvo::DateTime::Make(2024, 1, 1, 12, 0, 0);
  state.BeginPage(now);
  orvo::WalkPage(page, c.mask, state);
  if (c.list) {
    orvo::ApplyLinkDates(c.mask, 0, now, state);
  } else {
    orvo::FinishedNewsItem item = orvo::FinishNewsItem(state, c.address);
    if (item.body.empty()) std::fprintf(stderr, "warning: %s gave no body\n", c.name.c_str());
  }
}

const char kUsage[] =
    "Usage: masks_bench [--iterations N] [--shared DIR]\n"
    "Parses and walks every corpus page that has a mask N times (default 20)\n"
    "on one core and prints pages and megabytes per second, for parsing\n"
    "alone and for parsing plus walking, and the memory a page's tree takes.\n"
    "DIR is the shared folder holding corpus/ (default: $ORVO_SHARED, else\n"
    "the shared folder next to the source tree).\n";

// Pages built to be slow: deep unclosed nesting, a list of 100,000 links and
// a 95,000-character mask of repeated text nodes on a large page. Each
// figure is the CPU time of one parse + walk.
void HostilePages() {
  std::string divs = "<html><body>";
  for (int i = 0; i < 200000; ++i) divs += "<div>";
  double start = CpuNow();
  HtmlDocument deep = HtmlDocument::Parse(divs);
  std::printf("hostile: 200,000 unclosed <div> (%zu bytes): parse %.2f s, %d elements\n", divs.size(),
              Seconds(start), deep.ElementCount());

  std::string list = "<html><body><ul>";
  for (int i = 0; i < 100000; ++i) list += "<li><a href='/n/" + std::to_string(i) + ".html'>n</a></li>";
  list += "</ul></body></html>";
  orvo::MaskLoadResult lm =
      orvo::LoadMaskHtml("<x-head url='http://x/'></x-head><ul><li ord=-1><a role=link></a></li></ul>",
                         orvo::MaskPhase::kList);
  start = CpuNow();
  orvo::ExtractionState links;
  links.list_phase = true;
  links.BeginPage(orvo::DateTime::Now());
  orvo::WalkPage(HtmlDocument::Parse(list, "http://x/"), lm.mask, links);
  std::printf("hostile: list of 100,000 links (%zu bytes): parse + walk %.2f s, %zu links\n", list.size(),
              Seconds(start), links.links.size());

  std::string page = "<html><body><div>";
  while (page.size() < 4900000) page += "<p>Some words of a paragraph that goes on.</p>\n";
  page += "</div></body></html>";
  std::string mask = "<x-head></x-head><div>";
  while (mask.size() < 95000) mask += "<p ord=-1 role=text></p>";
  mask += "</div>";
  orvo::MaskLoadResult nm = orvo::LoadMaskHtml(mask, orvo::MaskPhase::kNews);
  start = CpuNow();
  size_t before = HeapInUse();
  orvo::ExtractionState body;
  body.BeginPage(orvo::DateTime::Now());
  orvo::WalkPage(HtmlDocument::Parse(page, "http://x/"), nm.mask, body);
  std::printf("hostile: %zu-byte mask of text nodes on a %zu-byte page: parse + walk %.2f s, raw body %zu bytes, "
              "heap growth %.1f MB\n",
              mask.size(), page.size(), Seconds(start), body.body.size(), double(HeapInUse() - before) / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  int iterations = 20;
  fs::path shared;
  if (const char* env = std::getenv("ORVO_SHARED")) shared = env;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help")) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (!std::strcmp(argv[i], "--iterations") && i + 1 < argc) {
      iterations = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--shared") && i + 1 < argc) {
      shared = argv[++i];
    } else {
      std::fprintf(stderr, "Unknown argument %s.\n%s", argv[i], kUsage);
      return 2;
    }
  }
  if (shared.empty()) {
    for (const char* up : {"../shared", "../../shared"})
      if (fs::exists(fs::path(ORVO_SOURCE_DIR) / up / "corpus")) shared = fs::path(ORVO_SOURCE_DIR) / up;
  }
  HostilePages();
  fs::path corpus = shared / "corpus";
  if (!fs::exists(corpus / "articles")) {
    std::fprintf(stderr, "No corpus at %s. Give the shared folder with --shared DIR or ORVO_SHARED.\n",
                 corpus.c_str());
    return 1;
  }
  if (iterations < 1) iterations = 1;

  std::vector<Case> cases;
  std::ifstream manifest(fs::path(MASKS_CORPUS_DIR) / "manifest.txt");
  std::string line;
  size_t total_bytes = 0;
  while (std::getline(manifest, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string kind, mask, page, address;
    fields >> kind >> mask >> page >> address;
    Case c;
    c.name = mask;
    c.list = kind == "list";
    c.bytes = ReadFile(corpus / PercentDecode(page));
    c.address = address.empty() ? "http://corpus.invalid/" : address;
    orvo::MaskLoadResult loaded = orvo::LoadMaskHtml(
        ReadFile(fs::path(MASKS_CORPUS_DIR) / mask), c.list ? orvo::MaskPhase::kList : orvo::MaskPhase::kNews);
    if (loaded.outcome != orvo::MaskLoadOutcome::kLoaded || c.bytes.empty()) {
      std::fprintf(stderr, "Skipping %s: mask or page unreadable.\n", mask.c_str());
      continue;
    }
    c.mask = std::move(loaded.mask);
    total_bytes += c.bytes.size();
    cases.push_back(std::move(c));
  }
  std::printf("%zu pages with masks, %.2f MB, %d iterations, one thread\n", cases.size(),
              total_bytes / 1e6, iterations);

  // One untimed round, so that the first timed figure does not pay for cold
  // caches and a growing heap.
  for (const Case& c : cases) Walk(c, HtmlDocument::FromBytes(c.bytes, "", c.address));

  double start = CpuNow();
  for (int i = 0; i < iterations; ++i)
    for (const Case& c : cases) HtmlDocument::FromBytes(c.bytes, "", c.address);
  double parse = Seconds(start);
  Report("decode + parse", cases.size() * iterations, total_bytes * iterations, parse);

  start = CpuNow();
  for (int i = 0; i < iterations; ++i)
    for (const Case& c : cases) Walk(c, HtmlDocument::FromBytes(c.bytes, "", c.address));
  double both = Seconds(start);
  Report("decode + parse + walk", cases.size() * iterations, total_bytes * iterations, both);

  std::vector<HtmlDocument> docs;
  for (const Case& c : cases) docs.push_back(HtmlDocument::FromBytes(c.bytes, "", c.address));
  start = CpuNow();
  for (int i = 0; i < iterations; ++i)
    for (size_t k = 0; k < cases.size(); ++k) Walk(cases[k], docs[k]);
  double walk = Seconds(start);
  Report("walk alone", cases.size() * iterations, total_bytes * iterations, walk);
  std::printf("walk cost / parse cost: %.3f\n", walk / parse);
  docs.clear();

  // Memory: heap held by one live document, as the allocator counts it and
  // as the document counts itself; gumbo's own tree lives only while parsing.
  double worst = 0, sum_heap = 0, sum_own = 0;
  std::string worst_name;
  for (const Case& c : cases) {
    size_t before = HeapInUse();
    HtmlDocument d = HtmlDocument::FromBytes(c.bytes, "", c.address);
    size_t held = HeapInUse() - before;
    sum_heap += double(held);
    sum_own += double(d.MemoryUsed());
    double ratio = double(held) / double(c.bytes.size());
    if (ratio > worst) {
      worst = ratio;
      worst_name = c.name;
    }
  }
  std::printf("tree memory: %.2f times the page size overall (%.2f by its own count), "
              "at most %.2f times (%s)\n",
              sum_heap / double(total_bytes), sum_own / double(total_bytes), worst,
              worst_name.c_str());

  // All article pages of the corpus, parse only, for comparison with gumbo.
  std::vector<std::string> all;
  size_t all_bytes = 0;
  for (const auto& entry : fs::directory_iterator(corpus / "articles" / "pages")) {
    all.push_back(ReadFile(entry.path()));
    all_bytes += all.back().size();
  }
  int all_iterations = iterations / 4 > 0 ? iterations / 4 : 1;
  start = CpuNow();
  for (int i = 0; i < all_iterations; ++i)
    for (const std::string& b : all) HtmlDocument::FromBytes(b, "", "http://corpus.invalid/");
  Report("decode + parse, all article pages", all.size() * all_iterations,
         all_bytes * all_iterations, Seconds(start));
  // gumbo by itself on the text the product gives it (decoded, scripts set
  // aside, space runs shortened), with no error list and its memory from an
  // arena, as the product parses: the floor this layer adds its decoding,
  // preparing, copy and index to.
  std::vector<std::string> decoded;
  for (const std::string& b : all) decoded.push_back(HtmlDocument::TextForParser(orvo::DecodePage(b).text));
  ArenaForGumbo arena;
  GumboOptions options = kGumboDefaultOptions;
  options.max_errors = 0;
  options.allocator = &ArenaForGumbo::Allocate;
  options.deallocator = &ArenaForGumbo::Deallocate;
  options.userdata = &arena;
  start = CpuNow();
  for (int i = 0; i < all_iterations; ++i)
    for (const std::string& t : decoded) {
      gumbo_parse_with_options(&options, t.data(), t.size());
      arena.Reset();
    }
  Report("gumbo alone, all article pages", all.size() * all_iterations,
         all_bytes * all_iterations, Seconds(start));
  return 0;
}
