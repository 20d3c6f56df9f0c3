// Quality and speed of automatic extraction on the real pages of the shared
// corpus: title and author exact, body snippets that must be there ("with")
// and must not ("without"), and pages per second of CPU time (parse and
// extraction). Each page set is split into two fixed halves by name; tuning
// looks at the A halves only, and all four halves are reported.

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gatherer/autoextract/auto_extract.h"
#include "gatherer/masks/extraction.h"
#include "gatherer/masks/tests/corpus_answers.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "Usage: extract_bench [--shared DIR] [--half A|B|more-A|more-B] [--verbose] [--iterations N]\n"
    "Runs automatic extraction over every annotated page of the corpus and prints,\n"
    "per half, the share of exact titles and authors, of \"with\" snippets found\n"
    "and \"without\" snippets absent, of publication days found (where the\n"
    "annotators give one), and pages per second of CPU time. Halves A and B\n"
    "are corpus/articles with corpus/readability, halves more-A and more-B are\n"
    "corpus/articles-more, each set split by name (every other page). The A\n"
    "halves are for tuning, the B halves are held out.\n"
    "Titles and authors are compared as annotated: case does not count (the\n"
    "annotators copied CSS upper-casing), a byline's \"By\" does not count, and a\n"
    "title annotated from <title> may go on with the site's name; the byte for\n"
    "byte shares are printed beside them.\n"
    "  --half X      only that half\n"
    "  --verbose     every miss, page by page (of the tuning halves only)\n"
    "  --iterations  passes for the speed figure (default 3)\n"
    "  --show NAME   print what is extracted from that page of a tuning half\n"
    "DIR is the shared folder holding corpus/ (default: $ORVO_SHARED, else the\n"
    "shared folder next to the source tree).\n";

constexpr const char* kHalves[] = {"A", "B", "more-A", "more-B"};
bool IsTuningHalf(int h) { return h % 2 == 0; }

double CpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

struct Score {
  int pages = 0, titles = 0, titles_ok = 0, authors = 0, authors_ok = 0;
  int titles_strict = 0, authors_strict = 0;  // byte for byte, case and all
  int with = 0, with_ok = 0, without = 0, without_ok = 0;
  int dates = 0, dates_ok = 0;  // the day, where the annotators give one
  double seconds = 0, parse_seconds = 0;
  int timed_pages = 0;
};

double Share(int ok, int all) { return all ? 100.0 * ok / all : 0.0; }

void Print(const char* half, const Score& s) {
  std::printf("half %-6s %3d pages  title %5.1f%% (%d/%d)  author %5.1f%% (%d/%d)  with %5.1f%% (%d/%d)  "
              "without absent %5.1f%% (%d/%d)  %.0f pages/s\n",
              half, s.pages, Share(s.titles_ok, s.titles), s.titles_ok, s.titles, Share(s.authors_ok, s.authors),
              s.authors_ok, s.authors, Share(s.with_ok, s.with), s.with_ok, s.with, Share(s.without_ok, s.without),
              s.without_ok, s.without, s.seconds > 0 ? s.timed_pages / s.seconds : 0.0);
  std::printf("               date %5.1f%% (%d/%d);  byte for byte: title %5.1f%%  author %5.1f%%;  CPU: parse %.0f%%, "
              "extraction %.0f%% (%.0f pages/s without the parse)\n",
              Share(s.dates_ok, s.dates), s.dates_ok, s.dates, Share(s.titles_strict, s.titles),
              Share(s.authors_strict, s.authors),
              s.seconds > 0 ? 100 * s.parse_seconds / s.seconds : 0.0,
              s.seconds > 0 ? 100 * (s.seconds - s.parse_seconds) / s.seconds : 0.0,
              s.seconds > s.parse_seconds ? s.timed_pages / (s.seconds - s.parse_seconds) : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  fs::path shared;
  if (const char* env = std::getenv("ORVO_SHARED")) shared = env;
  int only = -1;
  bool verbose = false;
  std::string show;
  int iterations = 3;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (!std::strcmp(argv[i], "--shared") && i + 1 < argc) {
      shared = argv[++i];
    } else if (!std::strcmp(argv[i], "--half") && i + 1 < argc) {
      ++i;
      for (int h = 0; h < 4; ++h)
        if (!std::strcmp(argv[i], kHalves[h])) only = h;
      if (only < 0) {
        std::fprintf(stderr, "Unknown half %s: give A, B, more-A or more-B.\n", argv[i]);
        return 2;
      }
    } else if (!std::strcmp(argv[i], "--show") && i + 1 < argc) {
      show = argv[++i];
    } else if (!std::strcmp(argv[i], "--verbose")) {
      verbose = true;
    } else if (!std::strcmp(argv[i], "--iterations") && i + 1 < argc) {
      iterations = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "Unknown argument %s.\n%s", argv[i], kUsage);
      return 2;
    }
  }
  fs::path corpus = shared.empty() ? orvo::corpus::FindCorpus(ORVO_SOURCE_DIR) : shared / "corpus";
  if (!fs::exists(corpus / "articles" / "answers.json")) {
    std::fprintf(stderr, "No corpus at %s: nothing to measure. Give the shared folder with --shared DIR or ORVO_SHARED.\n",
                 corpus.c_str());
    return 0;
  }

  struct Page {
    orvo::corpus::AnnotatedPage a;
    std::string bytes;
    int half;
  };
  std::vector<Page> pages;
  // Each set alternates between its halves in name order.
  for (int set = 0; set < 2; ++set) {
    int index = 0;
    for (orvo::corpus::AnnotatedPage& a :
         set == 0 ? orvo::corpus::ReadAnnotatedPages(corpus) : orvo::corpus::ReadMorePages(corpus)) {
      std::string bytes = orvo::corpus::ReadWholeFile(a.file);
      pages.push_back({std::move(a), std::move(bytes), 2 * set + index++ % 2});
    }
  }

  Score scores[4];
  for (const Page& p : pages) {
    if (only >= 0 && p.half != only) continue;
    // Only a tuning page is shown, and only their misses: the held-out
    // halves stay unseen.
    if (!show.empty() && (p.a.name != show || !IsTuningHalf(p.half))) continue;
    const bool verbose_here = verbose && IsTuningHalf(p.half);
    Score& s = scores[p.half];
    ++s.pages;
    const orvo::corpus::AnnotatedPage& a = p.a;
    orvo::HtmlDocument doc = orvo::HtmlDocument::FromBytes(p.bytes, "", a.url);
    orvo::ExtractionState state;
    state.BeginPage(orvo::DateTime::Make(2024, 1, 1));
    const orvo::AutoExtractResult result = orvo::AutoExtract(doc, state);
    orvo::FinishedNewsItem item = orvo::FinishNewsItem(state, a.url);
    std::string body = orvo::corpus::BodyText(item.body);
    const std::string day = result.date.valid() ? result.date.ToString().substr(0, 10) : std::string();
    if (!show.empty()) {
      std::printf("title: %s\nauthor: %s\ndate: %s\nbody:\n%s\n", item.title.c_str(), item.author.c_str(),
                  result.date.valid() ? result.date.ToString().c_str() : "", item.body.c_str());
      return 0;
    }
    if (!a.date.empty()) {
      ++s.dates;
      s.dates_ok += day == a.date;
      if (day != a.date && verbose_here)
        std::printf("%s: date \"%s\", wanted \"%s\"\n", a.name.c_str(), day.c_str(), a.date.c_str());
    }
    using orvo::corpus::Normalise;
    if (a.has_title) {
      ++s.titles;
      s.titles_strict += Normalise(item.title) == Normalise(a.title);
      bool ok = orvo::corpus::SameTitle(item.title, a);
      s.titles_ok += ok;
      if (!ok && verbose_here)
        std::printf("%s: title \"%s\", wanted \"%s\"\n", a.name.c_str(), item.title.c_str(), a.title.c_str());
    }
    if (a.has_author) {
      ++s.authors;
      s.authors_strict += Normalise(item.author) == Normalise(a.author);
      bool ok = orvo::corpus::SameAuthor(item.author, a.author);
      s.authors_ok += ok;
      if (!ok && verbose_here)
        std::printf("%s: author \"%s\", wanted \"%s\"\n", a.name.c_str(), item.author.c_str(), a.author.c_str());
    }
    for (const std::string& w : a.with) {
      ++s.with;
      bool ok = body.find(w) != std::string::npos;
      s.with_ok += ok;
      if (!ok && verbose_here) std::printf("%s: body lacks \"%s\"\n", a.name.c_str(), w.c_str());
    }
    for (const std::string& w : a.without) {
      ++s.without;
      bool ok = body.find(w) == std::string::npos;
      s.without_ok += ok;
      if (!ok && verbose_here) std::printf("%s: body holds \"%s\"\n", a.name.c_str(), w.c_str());
    }
  }
  // Speed: parse and extraction, the work a run does per news page.
  for (int it = 0; it < iterations; ++it) {
    for (const Page& p : pages) {
      if (only >= 0 && p.half != only) continue;
      Score& s = scores[p.half];
      double start = CpuNow();
      orvo::HtmlDocument doc = orvo::HtmlDocument::FromBytes(p.bytes, "", p.a.url);
      double parsed = CpuNow();
      orvo::ExtractionState state;
      orvo::AutoExtract(doc, state);
      orvo::FinishedNewsItem item = orvo::FinishNewsItem(state, p.a.url);
      double end = CpuNow();
      s.seconds += end - start;
      s.parse_seconds += parsed - start;
      ++s.timed_pages;
    }
  }
  Score all;
  for (int h = 0; h < 4; ++h) {
    if ((only < 0 || only == h) && scores[h].pages > 0) Print(kHalves[h], scores[h]);
    all.seconds += scores[h].seconds;
    all.timed_pages += scores[h].timed_pages;
  }
  if (all.seconds > 0) std::printf("all halves: %.0f pages/s on one core\n", all.timed_pages / all.seconds);
  return 0;
}
