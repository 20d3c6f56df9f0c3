#include "corpus_answers.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "gatherer/masks/extraction.h"
#include "gatherer/masks/text_util.h"

namespace orvo::corpus {

namespace fs = std::filesystem;

namespace {

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

QJsonObject ReadJson(const fs::path& p) {
  QFile f(QString::fromStdString(p.string()));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QJsonDocument::fromJson(f.readAll()).object();
}

bool Text(const QJsonObject& o, const char* key, std::string& out) {
  QJsonValue v = o.value(key);
  if (!v.isString()) return false;
  out = v.toString().toStdString();
  return true;
}

std::string Folded(std::string_view s) { return Utf8Lower(Normalise(s)); }

std::string WithoutBy(std::string s) {
  for (const char* prefix : {"by: ", "by ", "par ", "von "})
    if (s.rfind(prefix, 0) == 0) return s.substr(std::string_view(prefix).size());
  return s;
}

}  // namespace

fs::path FindCorpus(const fs::path& source_dir) {
  if (const char* env = std::getenv("ORVO_SHARED")) return fs::path(env) / "corpus";
  for (const char* up : {"../shared", "../../shared"})
    if (fs::exists(source_dir / up / "corpus")) return source_dir / up / "corpus";
  return {};
}

std::string ReadWholeFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string Normalise(std::string_view s) {
  std::string out;
  bool space = false;
  for (size_t i = 0; i < s.size(); ++i) {
    bool nbsp = s.compare(i, 2, "\xC2\xA0") == 0;
    if (IsAsciiSpace(s[i]) || nbsp) {
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

std::string BodyText(std::string body) {
  ReplaceAll(body, kParagraphBreak2, " ");
  ReplaceAll(body, kParagraphBreak1, " ");
  ReplaceAll(body, "<br />", " ");
  ReplaceAll(body, "&lt;", "<");
  ReplaceAll(body, "&gt;", ">");
  ReplaceAll(body, "&amp;", "&");
  return Normalise(body);
}

// The day of an annotated date or time ("2015-03-21T00:00:00+11:00" is
// "2015-03-21", as written); empty when there is none.
std::string DayOf(const QJsonObject& o, const char* key) {
  std::string v = o.value(key).toString().toStdString();
  return v.size() >= 10 && v[4] == '-' && v[7] == '-' ? v.substr(0, 10) : std::string();
}

namespace {

// The pages of one folder laid out as corpus/articles: answers.json and pages/.
// In articles-more an empty title or author was left unannotated, not found
// missing (only 39 of its pages have an author).
void ReadArticleFolder(const fs::path& corpus, const std::string& folder, bool empty_is_unannotated,
                       std::vector<AnnotatedPage>& pages) {
  QJsonObject answers = ReadJson(corpus / folder / "answers.json");
  for (auto it = answers.begin(); it != answers.end(); ++it) {
    QJsonObject a = it.value().toObject();
    AnnotatedPage p;
    p.name = folder + "/" + it.key().toStdString();
    p.file = corpus / folder / "pages" / it.key().toStdString();
    p.url = a.value("url").toString().toStdString();
    p.has_title = Text(a, "title", p.title);
    p.has_author = Text(a, "author", p.author);
    if (empty_is_unannotated) {
      p.has_title = p.has_title && !p.title.empty();
      p.has_author = p.has_author && !p.author.empty();
    }
    p.date = DayOf(a, "date");
    for (const QJsonValue& w : a.value("with").toArray()) p.with.push_back(Normalise(w.toString().toStdString()));
    for (const QJsonValue& w : a.value("without").toArray())
      p.without.push_back(Normalise(w.toString().toStdString()));
    pages.push_back(std::move(p));
  }
}

bool ByName(const AnnotatedPage& a, const AnnotatedPage& b) { return a.name < b.name; }

}  // namespace

std::vector<AnnotatedPage> ReadMorePages(const fs::path& corpus) {
  std::vector<AnnotatedPage> pages;
  if (fs::exists(corpus / "articles-more" / "answers.json")) ReadArticleFolder(corpus, "articles-more", true, pages);
  std::sort(pages.begin(), pages.end(), ByName);
  return pages;
}

std::vector<AnnotatedPage> ReadAnnotatedPages(const fs::path& corpus) {
  std::vector<AnnotatedPage> pages;
  ReadArticleFolder(corpus, "articles", false, pages);
  if (fs::exists(corpus / "readability")) {
    for (const auto& dir : fs::directory_iterator(corpus / "readability")) {
      if (!fs::exists(dir.path() / "source.html")) continue;
      QJsonObject m = ReadJson(dir.path() / "expected-metadata.json");
      AnnotatedPage p;
      p.name = "readability/" + dir.path().filename().string();
      p.file = dir.path() / "source.html";
      p.url = "http://fakehost/test/page.html";
      p.has_title = Text(m, "title", p.title);
      p.has_author = Text(m, "byline", p.author);
      p.date = DayOf(m, "publishedTime");
      p.title_from_title_element = true;
      pages.push_back(std::move(p));
    }
  }
  std::sort(pages.begin(), pages.end(), ByName);
  return pages;
}

bool SameAuthor(std::string_view got, std::string_view wanted) {
  return WithoutBy(Folded(got)) == WithoutBy(Folded(wanted));
}

bool SameTitle(std::string_view got, const AnnotatedPage& page) {
  const std::string g = Folded(got), w = Folded(page.title);
  if (g == w) return true;
  if (!page.title_from_title_element || g.empty()) return false;
  // The headline and then the site's name, as a <title> often reads.
  for (const char* sep : {" | ", " - ", " – ", " — ", " · ", " _", " [", " :: "})
    if (w.rfind(g + sep, 0) == 0) return true;
  return false;
}

}  // namespace orvo::corpus
