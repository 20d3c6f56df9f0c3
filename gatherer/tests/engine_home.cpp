#include "engine_home.h"

#include <cstdlib>
#include <stdexcept>

namespace orvo::testing {

EngineHome::EngineHome() {
  if (const char* h = std::getenv("ORVO_HOME")) {
    hadHome_ = true;
    oldHome_ = h;
  }
  ::setenv("ORVO_HOME", dir_.path().c_str(), 1);
  dbPath_ = dir_.File("news.db");
  if (Database::Open(dbPath_, Database::Mode::kCreate, &db_) != 0) throw std::runtime_error("cannot create database");
  CloseDatabase();
  SetProcessDatabasePath(dbPath_);
}

EngineHome::~EngineHome() {
  CloseDatabase();
  SetProcessDatabasePath("");
  if (hadHome_) {
    ::setenv("ORVO_HOME", oldHome_.c_str(), 1);
  } else {
    ::unsetenv("ORVO_HOME");
  }
}

int64_t EngineHome::AddPair(const std::string& site, const std::string& category, bool selected) {
  int64_t siteId = 0, catId = 0;
  {
    Statement s(*db_, "SELECT id FROM news_config WHERE site_name = ?");
    s.Bind(1, site);
    if (s.Next()) {
      siteId = s.Int(0);
    } else {
      Statement i(*db_, "INSERT INTO news_config (site_name) VALUES(?)");
      i.Bind(1, site).Execute();
      siteId = db_->LastInsertId();
    }
  }
  {
    Statement s(*db_, "SELECT id FROM news_cat WHERE name = ?");
    s.Bind(1, category);
    if (s.Next()) {
      catId = s.Int(0);
    } else {
      Statement i(*db_, "INSERT INTO news_cat (name) VALUES(?)");
      i.Bind(1, category).Execute();
      catId = db_->LastInsertId();
    }
  }
  Statement i(*db_, "INSERT INTO site_cat_rel (is_selected, fk_news_cat, fk_news_config) VALUES(?,?,?)");
  i.Bind(1, selected ? 1 : 0).Bind(2, catId).Bind(3, siteId).Execute();
  return db_->LastInsertId();
}

int64_t EngineHome::AddMask(int64_t pair, int type, int version, const std::string& hex) {
  Statement i(*db_, "INSERT INTO news_masks (mask, mask_version, type, fk_site_cat_rel) VALUES(?,?,?,?)");
  i.Bind(1, hex).Bind(2, version).Bind(3, type).Bind(4, pair).Execute();
  return db_->LastInsertId();
}

int64_t EngineHome::Count(const std::string& sql) {
  Statement s(*db_, sql);
  return s.Next() ? s.Int(0) : -1;
}

std::string EngineHome::Text(const std::string& sql) {
  Statement s(*db_, sql);
  return s.Next() ? s.Text(0) : std::string("<no row>");
}

}  // namespace orvo::testing
