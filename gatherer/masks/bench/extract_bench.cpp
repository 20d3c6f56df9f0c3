// Quality and speed of automatic extraction on the real pages of the shared
// corpus: title and author exact, body snippets that must be there ("with")
// and must not ("without"), and pages per second of CPU time (parse and
// extraction). The pages are split into two fixed halves by name; tuning
// looks at half A only, and both halves are reported.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gatherer/masks/auto_extract.h"
#include "gatherer/masks/text_util.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "Usage: extract_bench [--shared DIR] [--half A|B] [--verbose] [--iterations N]\n"
    "Runs automatic extraction over every page of corpus/articles and\n"
    "corpus/readability and prints, per half, the share of exact titles and\n"
    "authors, of \"with\" snippets found and \"without\" snippets absent, and\n"
    "pages per second of CPU time. Half A is the tuning half, half B is held out.\n"
    "  --half X      only that half\n"
    "  --verbose     every miss, page by page\n"
    "  --iterations  passes for the speed figure (default 3)\n"
    "DIR is the shared folder holding corpus/ (default: $ORVO_SHARED, else the\n"
    "shared folder next to the source tree).\n";

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

double CpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

std::string Normalise(std::string_view s) {
  std::string out;
  bool space = false;
  for (size_t i = 0; i < s.size(); ++i) {
    bool nbsp = s.compare(i, 2, "\xC2\xA0") == 0;
    if (orvo::IsAsciiSpace(s[i]) || nbsp) {
      space = true;
      if (nbsp) ++i;
      continue;
    }
    if (space && !out.empty()) out += ' ';
    space = false;
    out += s[i];
  }
  return out;
}

void ReplaceAll(std::string& s, std::string_view from, std::string_view to) {
  std::string out;
  size_t start = 0;
  for (size_t p; (p = s.find(from, start)) != std::string::npos; start = p + from.size()) {
    out.append(s, start, p - start);
    out.append(to);
  }
  out.append(s, start);
  s = std::move(out);
}

// The stored body as the reader shows its text.
std::string BodyText(std::string body) {
  ReplaceAll(body, orvo::kParagraphBreak2, " ");
  ReplaceAll(body, orvo::kParagraphBreak1, " ");
  ReplaceAll(body, "<br />", " ");
  ReplaceAll(body, "&lt;", "<");
  ReplaceAll(body, "&gt;", ">");
  ReplaceAll(body, "&amp;", "&");
  return Normalise(body);
}

struct Page {
  std::string name;
  std::string bytes;
  std::string url;
  bool has_title = false, has_author = false;
  std::string title, author;
  std::vector<std::string> with, without;
  char half = 'A';
};

struct Score {
  int pages = 0, titles = 0, titles_ok = 0, authors = 0, authors_ok = 0;
  int with = 0, with_ok = 0, without = 0, without_ok = 0;
  double seconds = 0;
  int timed_pages = 0;
};

double Share(int ok, int all) { return all ? 100.0 * ok / all : 0.0; }

void Print(char half, const Score& s) {
  std::printf("half %c: %3d pages  title %5.1f%% (%d/%d)  author %5.1f%% (%d/%d)  with %5.1f%% (%d/%d)  "
              "without absent %5.1f%% (%d/%d)  %.0f pages/s\n",
              half, s.pages, Share(s.titles_ok, s.titles), s.titles_ok, s.titles, Share(s.authors_ok, s.authors),
              s.authors_ok, s.authors, Share(s.with_ok, s.with), s.with_ok, s.with, Share(s.without_ok, s.without),
              s.without_ok, s.without, s.seconds > 0 ? s.timed_pages / s.seconds : 0.0);
}

QJsonObject ReadJson(const fs::path& p) {
  QFile f(QString::fromStdString(p.string()));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QJsonDocument::fromJson(f.readAll()).object();
}

}  // namespace

int main(int argc, char** argv) {
  fs::path shared;
  if (const char* env = std::getenv("ORVO_SHARED")) shared = env;
  char only = 0;
  bool verbose = false;
  int iterations = 3;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (!std::strcmp(argv[i], "--shared") && i + 1 < argc) {
      shared = argv[++i];
    } else if (!std::strcmp(argv[i], "--half") && i + 1 < argc) {
      only = argv[++i][0];
    } else if (!std::strcmp(argv[i], "--verbose")) {
      verbose = true;
    } else if (!std::strcmp(argv[i], "--iterations") && i + 1 < argc) {
      iterations = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "Unknown argument %s.\n%s", argv[i], kUsage);
      return 2;
    }
  }
  if (shared.empty()) {
    for (const char* up : {"../shared", "../../shared"})
      if (fs::exists(fs::path(ORVO_SOURCE_DIR) / up / "corpus")) shared = fs::path(ORVO_SOURCE_DIR) / up;
  }
  fs::path corpus = shared / "corpus";
  if (!fs::exists(corpus / "articles" / "answers.json")) {
    std::fprintf(stderr, "No corpus at %s: nothing to measure. Give the shared folder with --shared DIR or ORVO_SHARED.\n",
                 corpus.c_str());
    return 0;
  }

  std::vector<Page> pages;
  QJsonObject answers = ReadJson(corpus / "articles" / "answers.json");
  for (auto it = answers.begin(); it != answers.end(); ++it) {
    QJsonObject a = it.value().toObject();
    Page p;
    p.name = "articles/" + it.key().toStdString();
    p.bytes = ReadFile(corpus / "articles" / "pages" / it.key().toStdString());
    p.url = a.value("url").toString().toStdString();
    if (a.value("title").isString()) {
      p.has_title = true;
      p.title = a.value("title").toString().toStdString();
    }
    if (a.value("author").isString()) {
      p.has_author = true;
      p.author = a.value("author").toString().toStdString();
    }
    for (const QJsonValue& w : a.value("with").toArray()) p.with.push_back(Normalise(w.toString().toStdString()));
    for (const QJsonValue& w : a.value("without").toArray())
      p.without.push_back(Normalise(w.toString().toStdString()));
    pages.push_back(std::move(p));
  }
  if (fs::exists(corpus / "readability")) {
    for (const auto& dir : fs::directory_iterator(corpus / "readability")) {
      if (!fs::exists(dir.path() / "source.html")) continue;
      QJsonObject m = ReadJson(dir.path() / "expected-metadata.json");
      Page p;
      p.name = "readability/" + dir.path().filename().string();
      p.bytes = ReadFile(dir.path() / "source.html");
      p.url = "http://fakehost/test/page.html";
      if (m.value("title").isString()) {
        p.has_title = true;
        p.title = m.value("title").toString().toStdString();
      }
      if (m.value("byline").isString()) {
        p.has_author = true;
        p.author = m.value("byline").toString().toStdString();
      }
      pages.push_back(std::move(p));
    }
  }
  std::sort(pages.begin(), pages.end(), [](const Page& a, const Page& b) { return a.name < b.name; });
  for (size_t i = 0; i < pages.size(); ++i) pages[i].half = i % 2 == 0 ? 'A' : 'B';

  Score scores[2];
  for (const Page& p : pages) {
    if (only && p.half != only) continue;
    Score& s = scores[p.half - 'A'];
    ++s.pages;
    orvo::HtmlDocument doc = orvo::HtmlDocument::FromBytes(p.bytes, "", p.url);
    orvo::ExtractionState state;
    state.BeginPage(orvo::DateTime::Make(2024, 1, 1));
    orvo::AutoExtract(doc, state);
    orvo::FinishedNewsItem item = orvo::FinishNewsItem(state, p.url);
    std::string body = BodyText(item.body);
    if (p.has_title) {
      ++s.titles;
      bool ok = Normalise(item.title) == Normalise(p.title);
      s.titles_ok += ok;
      if (!ok && verbose)
        std::printf("%s: title \"%s\", wanted \"%s\"\n", p.name.c_str(), item.title.c_str(), p.title.c_str());
    }
    if (p.has_author) {
      ++s.authors;
      bool ok = Normalise(item.author) == Normalise(p.author);
      s.authors_ok += ok;
      if (!ok && verbose)
        std::printf("%s: author \"%s\", wanted \"%s\"\n", p.name.c_str(), item.author.c_str(), p.author.c_str());
    }
    for (const std::string& w : p.with) {
      ++s.with;
      bool ok = body.find(w) != std::string::npos;
      s.with_ok += ok;
      if (!ok && verbose) std::printf("%s: body lacks \"%s\"\n", p.name.c_str(), w.c_str());
    }
    for (const std::string& w : p.without) {
      ++s.without;
      bool ok = body.find(w) == std::string::npos;
      s.without_ok += ok;
      if (!ok && verbose) std::printf("%s: body holds \"%s\"\n", p.name.c_str(), w.c_str());
    }
  }
  // Speed: parse and extraction, the work a run does per news page.
  for (int it = 0; it < iterations; ++it) {
    for (const Page& p : pages) {
      if (only && p.half != only) continue;
      Score& s = scores[p.half - 'A'];
      double start = CpuNow();
      orvo::HtmlDocument doc = orvo::HtmlDocument::FromBytes(p.bytes, "", p.url);
      orvo::ExtractionState state;
      orvo::AutoExtract(doc, state);
      orvo::FinishedNewsItem item = orvo::FinishNewsItem(state, p.url);
      s.seconds += CpuNow() - start;
      ++s.timed_pages;
    }
  }
  for (char h : {'A', 'B'})
    if (!only || only == h) Print(h, scores[h - 'A']);
  return 0;
}
