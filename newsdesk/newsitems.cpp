#include "newsitems.h"

#include <cstdio>

namespace orvo {

int64_t EnsurePair(Database& db, const std::string& site, const std::string& category, bool selected) {
  auto idOf = [&](const char* find, const char* add, const std::string& name) -> int64_t {
    Statement s(db, find);
    s.Bind(1, name);
    if (s.Next()) return s.Int(0);
    Statement ins(db, add);
    ins.BindText(1, name, kTextColumn);
    return ins.Execute() == 0 ? db.LastInsertId() : -1;
  };
  int64_t siteId = idOf("SELECT id FROM news_config WHERE site_name = ?",
                        "INSERT INTO news_config (site_name) VALUES (?)", site);
  int64_t catId = idOf("SELECT id FROM news_cat WHERE name = ?", "INSERT INTO news_cat (name) VALUES (?)", category);
  if (siteId < 0 || catId < 0) return -1;
  Statement s(db, "SELECT id FROM site_cat_rel WHERE fk_news_config = ? AND fk_news_cat = ?");
  s.Bind(1, siteId).Bind(2, catId);
  if (s.Next()) return s.Int(0);
  Statement ins(db, "INSERT INTO site_cat_rel (is_selected, fk_news_cat, fk_news_config) VALUES (?, ?, ?)");
  ins.Bind(1, selected ? 1 : 0).Bind(2, catId).Bind(3, siteId);
  return ins.Execute() == 0 ? db.LastInsertId() : -1;
}

int64_t StoreNews(Database& db, const NewsRecord& news) {
  Statement s(db,
              "INSERT INTO newsitem (recvdate, newsdate, fk_site_cat_rel, publication_date, src_url, author,"
              " title, smalldescr, body) VALUES (?, ?, ?, ?, ?, ?, ?, '', ?)");
  s.BindTime(1, news.published).BindTime(2, news.published).Bind(3, news.pair).BindTime(4, news.published);
  s.BindText(5, news.url, kTextColumn).BindText(6, news.author, kTextColumn);
  s.BindText(7, news.title, kTextColumn).BindText(8, news.body, kBodyColumn);
  if (s.Execute() != 0) return -1;
  int64_t id = db.LastInsertId();
  Statement img(db, "INSERT INTO newsimages (bodypos, image_path, imagetext, fk_newsitem) VALUES (?, ?, ?, ?)");
  for (const NewsImage& i : news.images) {
    img.Reset();
    img.Bind(1, i.bodypos).BindText(2, i.path, kImagePathColumn).BindText(3, i.caption, kImageTextColumn).Bind(4, id);
    if (img.Execute() != 0) return -1;
  }
  return id;
}

bool StoreGeneratedNews(Database& db, int count, std::time_t newest) {
  static const char* kSites[] = {"Harbour Gazette", "Northern Ledger", "Valley Courier", "Metro Wire"};
  static const char* kCats[] = {"World", "Business", "Science", "Sport", "Culture"};
  static const char* kWords[] = {"council", "market", "river", "election", "festival", "bridge", "storm",
                                 "harvest", "school", "railway", "museum", "budget", "league", "forest"};
  std::vector<int64_t> pairs;
  for (const char* site : kSites)
    for (const char* cat : kCats) pairs.push_back(EnsurePair(db, site, cat));
  Transaction tx(db);
  if (tx.status()) return false;
  Statement s(db,
              "INSERT INTO newsitem (recvdate, newsdate, fk_site_cat_rel, publication_date, src_url, author,"
              " title, smalldescr, body, is_read) VALUES (?, ?, ?, ?, ?, ?, ?, '', ?, ?)");
  char buf[256];
  for (int i = 0; i < count; ++i) {
    std::time_t t = newest - static_cast<std::time_t>(i) * 97;
    const char* a = kWords[i % 14];
    const char* b = kWords[(i / 14) % 14];
    std::snprintf(buf, sizeof buf, "The %s and the %s: report number %d", a, b, i);
    std::string title = buf;
    std::snprintf(buf, sizeof buf, "https://news.example/%d.html", i);
    s.Reset();
    s.BindTime(1, t).BindTime(2, t).Bind(3, pairs[static_cast<size_t>(i) % pairs.size()]).BindTime(4, t);
    s.Bind(5, buf).Bind(6, "Staff reporter").Bind(7, title);
    s.Bind(8, "<p>" + title + ". More about the " + a + " follows.</p>").Bind(9, i % 3 == 0 ? 1 : 0);
    if (s.Execute() != 0) return false;
  }
  return tx.Commit() == 0;
}

}  // namespace orvo
