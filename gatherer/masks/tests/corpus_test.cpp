// Runs the masks of gatherer/masks/corpus on the real pages of the shared
// corpus and compares what they extract with the hand-made annotations.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "corpus_answers.h"
#include "gatherer/masks/charset.h"
#include "gatherer/masks/extraction.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;

fs::path CorpusDir() { return corpus::FindCorpus(ORVO_SHARED_DEFAULT); }

using corpus::BodyText;
using corpus::Normalise;

std::string ReadFile(const fs::path& p) { return corpus::ReadWholeFile(p); }

struct Entry {
  std::string kind, mask, page, address;
};

// Page names hold spaces; the manifest writes them as %20.
std::string PercentDecode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      out += char(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<Entry> ReadManifest() {
  std::vector<Entry> entries;
  std::ifstream in(fs::path(MASKS_CORPUS_DIR) / "manifest.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Entry e;
    fields >> e.kind >> e.mask >> e.page >> e.address;
    e.page = PercentDecode(e.page);
    entries.push_back(e);
  }
  return entries;
}

MaskLoadResult LoadCorpusMask(const std::string& name, MaskPhase phase) {
  return LoadMaskHtml(ReadFile(fs::path(MASKS_CORPUS_DIR) / name), phase);
}

class CorpusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path dir = CorpusDir();
    if (dir.empty())
      GTEST_SKIP() << "The optional shared corpus is not there (no shared/corpus beside the source tree or "
                      "its parent folder); set ORVO_SHARED to the shared folder to run the corpus test.";
    if (!fs::exists(dir / "articles" / "answers.json"))
      GTEST_SKIP() << "The optional shared corpus is not at " << dir
                   << " (no articles/answers.json there); set ORVO_SHARED to the shared folder to run the corpus test.";
  }
};

TEST_F(CorpusTest, NewsMasksMatchTheAnnotations) {
  QFile f(QString::fromStdString((CorpusDir() / "articles" / "answers.json").string()));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  QJsonObject answers = QJsonDocument::fromJson(f.readAll()).object();
  int pages = 0, exact = 0;
  std::set<std::string> charsets;
  for (const Entry& e : ReadManifest()) {
    if (e.kind != "news") continue;
    ++pages;
    std::string file = fs::path(e.page).filename().string();
    QJsonObject a = answers.value(QString::fromStdString(file)).toObject();
    ASSERT_FALSE(a.isEmpty()) << "no annotation for " << file;
    MaskLoadResult loaded = LoadCorpusMask(e.mask, MaskPhase::kNews);
    ASSERT_EQ(loaded.outcome, MaskLoadOutcome::kLoaded) << e.mask;
    HtmlDocument page = HtmlDocument::FromBytes(ReadFile(CorpusDir() / e.page), "",
                                                a.value("url").toString().toStdString());
    charsets.insert(page.DeclaredCharset());
    ExtractionState state;
    state.BeginPage(DateTime::Make(2024, 1, 1));
    WalkPage(page, loaded.mask, state);
    FinishedNewsItem item = FinishNewsItem(state, page.Url());
    std::string body = BodyText(item.body);

    int failures = 0;
    auto check_field = [&](const char* key, const std::string& got) {
      QJsonValue v = a.value(key);
      if (v.isNull() || v.isUndefined()) return;
      std::string want = Normalise(v.toString().toStdString());
      EXPECT_EQ(Normalise(got), want) << file << ": " << key;
      if (Normalise(got) != want) ++failures;
    };
    check_field("title", item.title);
    check_field("author", item.author);
    for (const QJsonValue& w : a.value("with").toArray()) {
      std::string snippet = Normalise(w.toString().toStdString());
      bool found = body.find(snippet) != std::string::npos;
      EXPECT_TRUE(found) << file << ": body lacks \"" << snippet << "\"";
      if (!found) ++failures;
    }
    for (const QJsonValue& w : a.value("without").toArray()) {
      std::string snippet = Normalise(w.toString().toStdString());
      bool found = body.find(snippet) != std::string::npos;
      EXPECT_FALSE(found) << file << ": body holds \"" << snippet << "\"";
      if (found) ++failures;
    }
    if (failures == 0) ++exact;
    std::printf("%-8s %-34s %s\n", failures == 0 ? "exact" : "MISMATCH", e.mask.c_str(),
                page.DeclaredCharset().empty() ? "(no charset)" : page.DeclaredCharset().c_str());
  }
  std::printf("Corpus score: %d of %d article pages match exactly\n", exact, pages);
  EXPECT_GE(pages, 12);
}

// Every element with its parent, attributes named in masks, and its child
// nodes' texts, one line each.
std::string Dump(const HtmlDocument& d) {
  std::string out;
  std::vector<HtmlDocument::ChildNode> kids;
  for (int e = 0; e < d.ElementCount(); ++e) {
    out += std::string(d.TagName(e)) + " in " + std::to_string(d.Parent(e)) + " " + d.Attribute(e, "class") + " " +
           d.Attribute(e, "type") + ":";
    d.ChildNodes(e, kids);
    for (const auto& k : kids) out += k.element < 0 ? "[" + std::string(k.text) + "]" : " " + std::to_string(k.element);
    out += '\n';
  }
  return out;
}

TEST_F(CorpusTest, ScriptsSetAsideBeforeTheParseChangeNoTree) {
  int pages = 0;
  for (const corpus::AnnotatedPage& p : corpus::ReadAnnotatedPages(CorpusDir())) {
    DecodedPage decoded = DecodePage(ReadFile(p.file), "");
    EXPECT_TRUE(Dump(HtmlDocument::Parse(decoded.text)) == Dump(HtmlDocument::ParseWith(decoded.text, "", "", false)))
        << p.name;
    ++pages;
  }
  EXPECT_GT(pages, 300);
}

TEST_F(CorpusTest, ListMasksFindTheFrontPageLinks) {
  int lists = 0;
  for (const Entry& e : ReadManifest()) {
    if (e.kind != "list") continue;
    ++lists;
    MaskLoadResult loaded = LoadCorpusMask(e.mask, MaskPhase::kList);
    ASSERT_EQ(loaded.outcome, MaskLoadOutcome::kLoaded) << e.mask;
    HtmlDocument page = HtmlDocument::FromBytes(ReadFile(CorpusDir() / e.page), "", e.address);
    ExtractionState state;
    state.list_phase = true;
    DateTime now = DateTime::Make(2024, 1, 1, 12, 0, 0);
    state.BeginPage(now);
    WalkPage(page, loaded.mask, state);
    ApplyLinkDates(loaded.mask, 0, now, state);
    std::set<std::string> got;
    for (const NewsLink& l : state.links) got.insert(l.address);
    EXPECT_EQ(got.size(), state.links.size()) << e.mask << ": duplicate links";

    // Expectations: "count N", "link ADDRESS", "no-link ADDRESS",
    // "links-within-json FILE KEY" (no link outside that list).
    std::ifstream expect(fs::path(MASKS_CORPUS_DIR) / (e.mask + ".expect"));
    ASSERT_TRUE(expect.good()) << "missing " << e.mask << ".expect";
    std::string line;
    while (std::getline(expect, line)) {
      std::istringstream fields(line);
      std::string what, arg, key;
      fields >> what >> arg >> key;
      if (what == "count") {
        EXPECT_EQ(state.links.size(), size_t(std::stoul(arg))) << e.mask;
      } else if (what == "link") {
        EXPECT_TRUE(got.count(arg)) << e.mask << ": link missing " << arg;
      } else if (what == "no-link") {
        EXPECT_FALSE(got.count(arg)) << e.mask << ": unexpected link " << arg;
      } else if (what == "links-within-json") {
        // Every link found is one the other project expects; that list writes
        // addresses without a trailing "/".
        QFile jf(QString::fromStdString((CorpusDir() / arg).string()));
        ASSERT_TRUE(jf.open(QIODevice::ReadOnly)) << arg;
        QJsonArray want = QJsonDocument::fromJson(jf.readAll())
                              .object()
                              .value(QString::fromStdString(key))
                              .toArray();
        ASSERT_FALSE(want.isEmpty()) << arg << " " << key;
        std::set<std::string> allowed;
        for (const QJsonValue& w : want) allowed.insert(w.toString().toStdString());
        for (std::string link : got) {
          if (link.size() > 1 && link.back() == '/') link.pop_back();
          EXPECT_TRUE(allowed.count(link)) << e.mask << ": " << link << " is not in " << arg;
        }
      }
    }
    std::printf("%-24s %zu links\n", e.mask.c_str(), state.links.size());
  }
  EXPECT_EQ(lists, 3);
}

}  // namespace
}  // namespace orvo
