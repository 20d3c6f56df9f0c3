#include "news_fixture.h"

#include <zip.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "settings.h"
#include "text.h"

namespace orvo::testing {

NewsFixture::NewsFixture() {
  if (const char* h = std::getenv("ORVO_HOME")) {
    hadHome_ = true;
    oldHome_ = h;
  }
  ::setenv("ORVO_HOME", home_.path().c_str(), 1);
  if (Database::Open(dbPath(), Database::Mode::kCreate, &db_) != 0) throw std::runtime_error("cannot create db");
  Settings::Shared().WriteText(kSystemSection, "PathDB", dbPath());
}

bool NewsFixture::UsePostgres(const std::string& url) {
  std::unique_ptr<Database> db;
  if (url.empty() || Database::Open(url, Database::Mode::kCreate, &db) != 0) return false;
  db_ = std::move(db);
  return Settings::Shared().WriteText(kDatabaseSection, "Url", url);
}

NewsFixture::~NewsFixture() {
  db_.reset();
  if (hadHome_)
    ::setenv("ORVO_HOME", oldHome_.c_str(), 1);
  else
    ::unsetenv("ORVO_HOME");
}

int64_t NewsFixture::AddPair(const std::string& site, const std::string& category) {
  int64_t siteId = 0, catId = 0;
  {
    Statement st(*db_, "SELECT id FROM news_config WHERE site_name = ?");
    st.Bind(1, site);
    if (st.Next()) siteId = st.Int(0);
  }
  if (!siteId) {
    Statement st(*db_, "INSERT INTO news_config(site_name) VALUES(?)");
    st.Bind(1, site).Execute();
    siteId = db_->LastInsertId();
  }
  {
    Statement st(*db_, "SELECT id FROM news_cat WHERE name = ?");
    st.Bind(1, category);
    if (st.Next()) catId = st.Int(0);
  }
  if (!catId) {
    Statement st(*db_, "INSERT INTO news_cat(name) VALUES(?)");
    st.Bind(1, category).Execute();
    catId = db_->LastInsertId();
  }
  Statement st(*db_, "INSERT INTO site_cat_rel(is_selected, fk_news_cat, fk_news_config) VALUES(1, ?, ?)");
  st.Bind(1, catId).Bind(2, siteId).Execute();
  return db_->LastInsertId();
}

int64_t NewsFixture::AddNews(const TestNews& news) {
  std::time_t now = std::time(nullptr);
  std::time_t published = news.published ? news.published : now;
  Statement st(*db_,
               "INSERT INTO newsitem(recvdate, newsdate, fk_site_cat_rel, publication_date, src_url, author, title, "
               "smalldescr, body, is_del) VALUES(?, ?, ?, ?, ?, '', ?, '', ?, ?)");
  st.BindTime(1, now).BindTime(2, published).Bind(3, news.pair).BindTime(4, published);
  // Every address is stored once.
  ++added_;
  st.Bind(5, news.srcUrl == kOwnAddress ? news.srcUrl + "/" + std::to_string(added_) : news.srcUrl).Bind(6, news.title).Bind(7, news.body).Bind(8, news.deleted ? 1 : 0);
  if (st.Execute() != 0) throw std::runtime_error("insert news: " + db_->ErrorMessage());
  return db_->LastInsertId();
}

int64_t NewsFixture::AddPicture(int64_t newsId, int bodyPos, const std::string& path, const std::string& caption) {
  Statement st(*db_, "INSERT INTO newsimages(bodypos, image_path, imagetext, fk_newsitem) VALUES(?, ?, ?, ?)");
  st.Bind(1, bodyPos).Bind(2, path).Bind(3, caption).Bind(4, newsId);
  if (st.Execute() != 0) throw std::runtime_error("insert picture");
  return db_->LastInsertId();
}

int64_t NewsFixture::AddFilter(const TestFilter& filter) {
  Statement st(*db_,
               "INSERT INTO filter(name, keywords, search_mode, time_kind, date_from, date_to, days, hours, minutes, "
               "lit_gen) VALUES('f', ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  st.Bind(1, filter.keywords).Bind(2, filter.mode).Bind(3, filter.timeKind);
  if (filter.from) st.BindTime(4, filter.from); else st.BindNull(4);
  if (filter.to) st.BindTime(5, filter.to); else st.BindNull(5);
  st.Bind(6, filter.days).Bind(7, filter.hours).Bind(8, filter.minutes).Bind(9, filter.litGen ? 1 : 0);
  if (st.Execute() != 0) throw std::runtime_error("insert filter");
  int64_t id = db_->LastInsertId();
  for (int64_t pair : filter.pairs) {
    Statement link(*db_, "INSERT INTO filter_site_cat_rel(fk_filter, fk_site_cat_rel) VALUES(?, ?)");
    link.Bind(1, id).Bind(2, pair).Execute();
  }
  return id;
}

void NewsFixture::WriteSetting(const std::string& key, const std::string& value) {
  Settings::Shared().WriteText(kSystemSection, key, value);
}

void NewsFixture::WriteCleanup(int deleteLit) { Settings::Shared().WriteInt(kCleanupSection, "DeleteLit", deleteLit); }

std::vector<std::pair<std::string, std::string>> ReadZip(const std::string& path) {
  std::vector<std::pair<std::string, std::string>> entries;
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &err);
  if (!z) return entries;
  for (zip_int64_t i = 0, n = zip_get_num_entries(z, 0); i < n; ++i) {
    zip_stat_t st;
    zip_file_t* f = zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st) == 0
                        ? zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0)
                        : nullptr;
    if (!f) continue;
    std::string bytes(static_cast<size_t>(st.size), '\0');
    zip_int64_t got = zip_fread(f, bytes.data(), st.size);
    zip_fclose(f);
    if (got == static_cast<zip_int64_t>(st.size)) entries.emplace_back(st.name, std::move(bytes));
  }
  zip_discard(z);
  return entries;
}

bool UnpackZip(const std::string& path, const std::string& dir) {
  auto entries = ReadZip(path);
  for (const auto& [name, bytes] : entries) {
    if (name.empty() || name.back() == '/') continue;
    std::filesystem::path target = std::filesystem::path(dir) / name;
    std::filesystem::create_directories(target.parent_path());
    WriteFile(target.string(), bytes);
  }
  return !entries.empty();
}

std::optional<EpubcheckReport> RunEpubcheck(const std::string& epub) {
  std::error_code ec;
  std::string jar;
  for (const char* candidate : {"/usr/share/java/epubcheck.jar", "/usr/share/epubcheck/epubcheck.jar"})
    if (std::filesystem::exists(candidate, ec)) jar = candidate;
  if (jar.empty() || std::system("command -v java >/dev/null 2>&1") != 0) return std::nullopt;
  std::string quoted = "'";
  for (char c : epub) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
  FILE* p = ::popen(("timeout 300 java -jar " + jar + " " + quoted + " 2>&1").c_str(), "r");
  if (!p) return std::nullopt;
  EpubcheckReport report;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) report.text.append(buf, n);
  int status = ::pclose(p);
  report.clean = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                 report.text.find("No errors or warnings detected") != std::string::npos;
  return report;
}

std::string MakePicture(const std::string& path, size_t size) {
  std::string bytes = "\xFF\xD8\xFF\xE0";
  for (size_t i = bytes.size(); i < size; ++i) bytes += static_cast<char>((i * 7 + 3) & 0xFF);
  WriteFile(path, bytes);
  return bytes;
}

}  // namespace orvo::testing
