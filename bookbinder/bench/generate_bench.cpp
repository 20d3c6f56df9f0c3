// Generation speed: 2,000 news items (a quarter with a picture) from a real
// database through the real writer library, then calibre's ebook-convert on
// one of our packages for comparison; then the same news as EPUB volumes,
// against ebook-convert making EPUB from the same package.
//
//   bookbinder_bench [--items N] [--writer PATH] [--no-calibre] [--synthetic]
//
// The bodies are running text from ../shared/corpus (or $ORVO_SHARED); without
// it the bench stops, unless --synthetic asks for made-up text, which every
// figure then names. calibre's figures are given with and without its fixed
// start-up cost, measured on a one-line text.
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "database.h"
#include "generation_run.h"
#include "package.h"
#include "settings.h"
#include "writer_driver.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

fs::path CorpusDir() {
  const char* env = std::getenv("ORVO_SHARED");
  return fs::path(env && *env ? env : ORVO_SHARED_DIR) / "corpus" / "readability";
}

// Running text from the shared corpus, so the bodies look like news; empty
// when the corpus is not there.
std::vector<std::string> CorpusWords(const fs::path& dir) {
  std::vector<std::string> words;
  std::error_code ec;
  for (auto& e : fs::recursive_directory_iterator(dir, ec)) {
    if (e.path().filename() != "source.html") continue;
    std::ifstream in(e.path());
    std::stringstream ss;
    ss << in.rdbuf();
    std::string html = ss.str();
    std::string text;
    bool tag = false;
    for (char c : html) {
      if (c == '<') tag = true;
      else if (c == '>') { tag = false; text += ' '; }
      else if (!tag) text += c;
    }
    std::istringstream ws(text);
    for (std::string w; ws >> w;)
      if (w.size() < 20 && w.find_first_of("{}();=&") == std::string::npos) words.push_back(w);
    if (words.size() > 200000) break;
  }
  return words;
}

// Made-up words for --synthetic.
std::vector<std::string> SyntheticWords() {
  std::vector<std::string> words;
  const char* stems[] = {"news", "harbour", "council", "market", "report", "season", "bridge", "school"};
  for (int i = 0; i < 5000; ++i) words.push_back(std::string(stems[i % 8]) + std::to_string(i % 97));
  return words;
}

void MakeJpeg(const std::string& path, int seed) {
  QImage img(480, 320, QImage::Format_RGB32);
  QPainter p(&img);
  QLinearGradient g(0, 0, 480, 320);
  g.setColorAt(0, QColor::fromHsv(seed * 37 % 360, 160, 220));
  g.setColorAt(1, QColor::fromHsv(seed * 91 % 360, 200, 90));
  p.fillRect(img.rect(), g);
  p.setPen(Qt::white);
  for (int i = 0; i < 12; ++i) p.drawEllipse(QPoint((seed * 13 + i * 47) % 480, (seed * 7 + i * 31) % 320), 20 + i, 15 + i);
  p.end();
  img.save(QString::fromStdString(path), "JPG", 80);
}

// The writer driving prints a line per file; keep the figures readable.
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    saved_ = ::dup(1);
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::close(null);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    ::dup2(saved_, 1);
    ::close(saved_);
  }

 private:
  int saved_;
};

long PeakRssKb() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

// a / b, or why there is none: calibre's work without its start-up is a
// difference of two runs, which a busy machine can make negative.
std::string Ratio(double a, double b) {
  if (a <= 0 || b <= 0) return "not measurable (calibre's run took no longer than its start-up)";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", a / b);
  return text;
}

int RunCommand(const std::vector<std::string>& args) {
  pid_t pid = fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  int items = 2000;
  std::string writer = orvo::DefaultWriterLibraryPath();
  bool calibre = true, synthetic = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--items" && i + 1 < argc) items = std::atoi(argv[++i]);
    else if (a == "--writer" && i + 1 < argc) writer = argv[++i];
    else if (a == "--no-calibre") calibre = false;
    else if (a == "--synthetic") synthetic = true;
    else {
      std::printf("usage: %s [--items N] [--writer PATH] [--no-calibre] [--synthetic]\n"
                  "Generates eBooks from N news (default 2000) in a temporary program folder and\n"
                  "prints volumes per second, items per second, peak memory and the time per\n"
                  "volume against calibre's ebook-convert (with and without calibre's start-up).\n"
                  "The bodies come from the corpus in ../shared/corpus or $ORVO_SHARED/corpus;\n"
                  "--synthetic uses made-up text instead, and every figure says so.\n", argv[0]);
      return a == "--help" ? 0 : 2;
    }
  }
  std::vector<std::string> words = synthetic ? SyntheticWords() : CorpusWords(CorpusDir());
  if (words.empty()) {
    std::fprintf(stderr,
                 "bookbinder_bench: no corpus text in %s\n"
                 "Set ORVO_SHARED to the folder that holds corpus/, or pass --synthetic for made-up text.\n",
                 CorpusDir().c_str());
    return 2;
  }
  // Every figure says what text it was measured on.
  const char* text = synthetic ? " [synthetic text]" : "";
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);

  char tmpl[] = "/tmp/orvo-bench-XXXXXX";
  std::string home = mkdtemp(tmpl);
  ::setenv("ORVO_HOME", home.c_str(), 1);
  std::string dbPath = home + "/news.db";
  std::unique_ptr<orvo::Database> db;
  if (orvo::Database::Open(dbPath, orvo::Database::Mode::kCreate, &db) != 0) {
    std::fprintf(stderr, "cannot create %s\n", dbPath.c_str());
    return 1;
  }
  orvo::Settings::Shared().WriteText(orvo::kSystemSection, "PathDB", dbPath);
  orvo::Settings::Shared().WriteInt(orvo::kSystemSection, "MaxNewsPerLit", 50);

  // The news: ten categories, bodies of 2-5 KB, every fourth item with a picture.
  auto fillStart = Clock::now();
  fs::create_directories(home + "/Images");
  db->Begin();
  std::vector<int64_t> pairs;
  for (int c = 0; c < 10; ++c) {
    orvo::Statement cat(*db, "INSERT INTO news_cat(name) VALUES(?)");
    cat.Bind(1, "Category " + std::to_string(c)).Execute();
    int64_t catId = db->LastInsertId();
    orvo::Statement rel(*db, "INSERT INTO site_cat_rel(is_selected, fk_news_cat, fk_news_config) VALUES(1, ?, NULL)");
    rel.Bind(1, catId).Execute();
    pairs.push_back(db->LastInsertId());
  }
  size_t w = 0;
  long pictureBytes = 0;
  for (int i = 0; i < items; ++i) {
    std::string body;
    size_t target = 2000 + (i * 7919) % 3000;
    bool picture = (i / 10) % 4 == 0;  // a quarter of every category
    while (body.size() < target) {
      body += words[w++ % words.size()];
      body += (w % 60 == 0) ? "<br />&#160;&#160;&#160;&#160;" : " ";
      if (picture && body.size() > target / 2 && body.find("[[{0}]]") == std::string::npos) body += "[[{0}]]";
    }
    orvo::Statement st(*db,
                       "INSERT INTO newsitem(recvdate, newsdate, fk_site_cat_rel, publication_date, src_url, author, "
                       "title, smalldescr, body) VALUES(?, ?, ?, ?, ?, '', ?, '', ?)");
    std::time_t t = std::time(nullptr) - i * 60;
    st.BindTime(1, t).BindTime(2, t).Bind(3, pairs[i % pairs.size()]).BindTime(4, t);
    st.Bind(5, "http://news.example.org/item/" + std::to_string(i));
    st.Bind(6, "Headline number " + std::to_string(i) + ": " + words[(i * 31) % words.size()]);
    st.BindText(7, body, orvo::kBodyColumn);
    st.Execute();
    int64_t newsId = db->LastInsertId();
    if (picture) {
      std::string path = home + "/Images/" + std::to_string(i) + ".jpg";
      MakeJpeg(path, i);
      pictureBytes += static_cast<long>(fs::file_size(path));
      orvo::Statement pic(*db, "INSERT INTO newsimages(bodypos, image_path, imagetext, fk_newsitem) VALUES(0, ?, ?, ?)");
      pic.Bind(1, path).Bind(2, "Picture " + std::to_string(i)).Bind(3, newsId).Execute();
    }
  }
  orvo::Statement f(*db, "INSERT INTO filter(name, search_mode, time_kind, lit_gen) VALUES('all', 7, 0, 1)");
  f.Execute();
  int64_t filterId = db->LastInsertId();
  for (int64_t p : pairs) {
    orvo::Statement l(*db, "INSERT INTO filter_site_cat_rel(fk_filter, fk_site_cat_rel) VALUES(?, ?)");
    l.Bind(1, filterId).Bind(2, p).Execute();
  }
  db->Commit();
  db.reset();
  std::printf("database: %d news, %d pictures (%.1f MB), filled in %.1f s%s\n", items, (items / 10 + 3) / 4 * 10,
              pictureBytes / 1e6, Seconds(fillStart), text);

  // Our run, exactly as the server does it.
  orvo::SetProcessDatabasePath(dbPath);
  orvo::GenerationRun run;
  run.setWriterLibraryPath(writer);
  QSignalSpy done(&run, &orvo::GenerationRun::complete);
  auto start = Clock::now();
  {
    QuietStdout quiet;
    run.start();
    done.wait(3600 * 1000);
  }
  double total = Seconds(start);
  int volumes = run.volumesWritten();
  std::printf("status: %s\n", run.status().toStdString().c_str());
  if (volumes == 0) {
    std::fprintf(stderr, "no volume written; see %s/orvo_log.txt\n", home.c_str());
    return 1;
  }
  long litBytes = 0;
  for (auto& e : fs::directory_iterator(home + "/lit"))
    if (e.path().extension() == ".lit") litBytes += static_cast<long>(e.file_size());
  double perVolume = total / volumes;
  std::printf("volumes: %d in %.2f s: %.2f volumes/s, %.0f items/s, %.0f ms per volume, %.1f KB per volume%s\n",
              volumes, total, volumes / total, items / total, perVolume * 1000, litBytes / 1024.0 / volumes, text);
  std::printf("peak memory (max RSS of this process, database fill included): %.1f MB%s\n", PeakRssKb() / 1024.0, text);

  // The last volume's package is still in temp/: time our writer alone and
  // calibre on the very same files.
  orvo::PackageFiles files(home + "/temp/");
  {
    std::string error;
    auto library = orvo::WriterLibrary::Load(writer, &error);
    if (library) {
      const int rounds = 5;
      auto t0 = Clock::now();
      {
        QuietStdout quiet;
        for (int i = 0; i < rounds; ++i) orvo::WriteLitFile(files.package, home + "/ours.lit", library->writer());
      }
      double ours = Seconds(t0) / rounds;
      std::printf("our writer alone on the last volume's package: %.0f ms (%.1f KB)%s\n", ours * 1000,
                  fs::file_size(home + "/ours.lit") / 1024.0, text);
    }
  }
  // calibre's fixed cost (start-up, plugins): one run on a one-line text.
  double calibreLitStart = 0, calibreEpubStart = 0;
  if (calibre) {
    std::ofstream(home + "/one-line.txt") << "One line.\n";
    auto t0 = Clock::now();
    if (RunCommand({"ebook-convert", home + "/one-line.txt", home + "/one-line.lit"}) == 0)
      calibreLitStart = Seconds(t0);
    t0 = Clock::now();
    if (RunCommand({"ebook-convert", home + "/one-line.txt", home + "/one-line.epub"}) == 0)
      calibreEpubStart = Seconds(t0);
    std::printf("calibre ebook-convert on a one-line text (its start-up): %.0f ms to .lit, %.0f ms to .epub\n",
                calibreLitStart * 1000, calibreEpubStart * 1000);
  }
  if (calibre) {
    // The package holds its pictures in its own folder: calibre reads it as is.
    auto t0 = Clock::now();
    int rc = RunCommand({"ebook-convert", files.package, home + "/calibre.lit"});
    double theirs = Seconds(t0);
    if (rc != 0) {
      std::printf("ebook-convert failed (exit %d); no comparison\n", rc);
    } else {
      std::printf("calibre ebook-convert on one volume's package: %.0f ms (%.1f KB)\n", theirs * 1000,
                  fs::file_size(home + "/calibre.lit") / 1024.0);
      std::printf("ratio of our time per volume (in one run) to calibre's: %.3f with calibre's start-up, %s "
                  "without it (below 1 is faster)%s\n",
                  perVolume / theirs, Ratio(perVolume, theirs - calibreLitStart).c_str(), text);
    }
  }
  // The same news as EPUB volumes, the whole run as the server does it.
  orvo::GenerationRun epubRun;
  epubRun.setFormat(orvo::BookFormat::kEpub);
  QSignalSpy epubDone(&epubRun, &orvo::GenerationRun::complete);
  auto epubStart = Clock::now();
  epubRun.start();
  epubDone.wait(3600 * 1000);
  double epubTotal = Seconds(epubStart);
  int epubVolumes = epubRun.volumesWritten();
  std::printf("epub status: %s\n", epubRun.status().toStdString().c_str());
  if (epubVolumes == 0) {
    std::fprintf(stderr, "no EPUB volume written; see %s/orvo_log.txt\n", home.c_str());
    return 1;
  }
  long epubBytes = 0;
  std::string lastEpub;
  for (auto& e : fs::directory_iterator(home + "/lit"))
    if (e.path().extension() == ".epub") {
      epubBytes += static_cast<long>(e.file_size());
      std::string name = e.path().string();
      // The last volume: the highest number after the last "_".
      auto number = [](const std::string& n) { return std::atoi(n.c_str() + n.rfind('_') + 1); };
      if (lastEpub.empty() || number(name) > number(lastEpub)) lastEpub = name;
    }
  double epubPerVolume = epubTotal / epubVolumes;
  std::printf("epub volumes: %d in %.2f s: %.0f items/s, %.0f ms per volume, %.1f KB per volume%s\n", epubVolumes,
              epubTotal, items / epubTotal, epubPerVolume * 1000, epubBytes / 1024.0 / epubVolumes, text);
  if (calibre) {
    // temp/ now holds the last volume's package again.
    auto t0 = Clock::now();
    int rc = RunCommand({"ebook-convert", files.package, home + "/calibre.epub"});
    double theirs = Seconds(t0);
    if (rc != 0) {
      std::printf("ebook-convert to EPUB failed (exit %d); no comparison\n", rc);
    } else {
      double ours = static_cast<double>(fs::file_size(lastEpub)), their = static_cast<double>(fs::file_size(home + "/calibre.epub"));
      std::printf("calibre ebook-convert to EPUB on the last volume's package: %.0f ms (%.1f KB); ours %.1f KB\n",
                  theirs * 1000, their / 1024, ours / 1024);
      std::printf("EPUB: calibre's time / ours per volume: %.1fx faster with calibre's start-up, %sx without it "
                  "(target 20x); size ours / calibre's: %.3f (target at most 1.1)%s\n",
                  theirs / epubPerVolume, Ratio(theirs - calibreEpubStart, epubPerVolume).c_str(), ours / their, text);
    }
  }

  std::error_code ec;
  if (!std::getenv("ORVO_BENCH_KEEP")) fs::remove_all(home, ec);
  else std::printf("kept %s\n", home.c_str());
  return 0;
}
