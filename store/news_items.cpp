#include "news_items.h"

#include <algorithm>
#include <cstdio>

#include "dialect.h"
#include "images.h"
#include "savepoint.h"
#include "schema.h"
#include "store/pairs.h"

namespace orvo {

int ReadNewsInfo(Database& db, int64_t id, NewsInfo* info) {
  Statement s(db,
              "SELECT n.title, n.publication_date, n.src_url, c.site_name, k.name, n.author"
              " FROM newsitem n"
              " LEFT JOIN site_cat_rel r ON r.id = n.fk_site_cat_rel"
              " LEFT JOIN news_config c ON c.id = r.fk_news_config"
              " LEFT JOIN news_cat k ON k.id = r.fk_news_cat"
              " WHERE n.id = ? AND n.is_del = 0");
  s.Bind(1, id);
  if (!s.Next()) return s.error() ? s.error() : SQLITE_NOTFOUND;
  info->title = s.Text(0);
  info->published = s.Time(1).value_or(0);
  info->link = s.Text(2);
  info->site = s.Text(3);
  info->category = s.Text(4);
  info->author = s.Text(5);
  info->foundWithoutMask = 0;
  // Databases made before the mark existed have no such table.
  if (TableExists(db, "newsitem_auto")) {
    Statement mark(db, "SELECT how FROM newsitem_auto WHERE fk_newsitem = ?");
    mark.Bind(1, id);
    if (mark.Next()) info->foundWithoutMask = static_cast<int>(mark.Int(0));
  }
  return 0;
}

int ReadNewsText(Database& db, int64_t id, NewsText* text) {
  *text = NewsText{};
  Statement s(db, "SELECT body FROM newsitem WHERE id = ? AND is_del = 0");
  s.Bind(1, id);
  if (!s.Next()) return s.error() ? s.error() : SQLITE_NOTFOUND;
  text->body = s.Text(0);
  Statement images(db,
                   "SELECT bodypos, image_path, imagetext, id FROM newsimages WHERE fk_newsitem = ?"
                   " ORDER BY bodypos, id");
  images.Bind(1, id);
  std::vector<int64_t> pictureIds;
  while (images.Next()) {
    text->imagePositions.push_back(static_cast<int>(images.Int(0)));
    text->imageSources.push_back(images.Text(1));
    text->imageCaptions.push_back(images.Text(2));
    pictureIds.push_back(images.Int(3));
  }
  if (images.error() || !PicturesInDatabase(db)) return images.error();
  // A picture that cannot be read leaves its place empty, not the text.
  for (int64_t picture : pictureIds) {
    std::string bytes;
    if (ReadPictureBytes(db, picture, &bytes) != 0) bytes.clear();
    text->imageBytes.push_back(std::move(bytes));
  }
  return 0;
}

int MarkNewsRead(Database& db, int64_t id, bool read) {
  Statement s(db, "UPDATE newsitem SET is_read = ? WHERE id = ?");
  s.Bind(1, read ? 1 : 0).Bind(2, id);
  int rc = s.Execute();
  if (rc == 0 && db.Changes() == 0) rc = SQLITE_NOTFOUND;
  return rc;
}

int MarkNewsRead(Database& db, const std::vector<int32_t>& ids, bool read) {
  // One statement over the ids in table order; rows already so are left
  // alone (each change rewrites the item in every grid index).
  std::vector<int32_t> sorted(ids);
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  Savepoint sp(db);
  if (sp.status()) return sp.status();
  const Database::Backend b = db.backend();
  Statement s(db, "UPDATE newsitem SET is_read = ?1 WHERE " + dialect::InIdList(b, "id", 2) + " AND is_read <> ?1");
  s.Bind(1, read ? 1 : 0).Bind(2, dialect::IdList(b, sorted));
  if (int rc = s.Execute()) return rc;
  return sp.Release();
}

int DeleteNews(Database& db, const std::vector<int32_t>& ids) {
  Savepoint sp(db);
  if (sp.status()) return sp.status();
  Statement s(db, "UPDATE newsitem SET is_del = 1 WHERE id = ?");
  for (int32_t id : ids) {
    s.Reset();
    s.Bind(1, id);
    if (int rc = s.Execute()) return rc;
  }
  return sp.Release();
}

int CountNewsPerPair(Database& db, std::vector<PairNewsCount>* counts) {
  counts->clear();
  Statement s(db,
              "SELECT r.id, c.id, k.id, c.site_name, k.name,"
              " (SELECT COUNT(*) FROM newsitem n WHERE n.fk_site_cat_rel = r.id AND n.is_del = 0 AND n.is_read = 0),"
              " (SELECT COUNT(*) FROM newsitem n WHERE n.fk_site_cat_rel = r.id AND n.is_del = 0)"
              " FROM site_cat_rel r"
              " JOIN news_config c ON c.id = r.fk_news_config"
              " JOIN news_cat k ON k.id = r.fk_news_cat" +
                  SiteThenCategoryOrder(db.backend()));
  while (s.Next()) {
    PairNewsCount c;
    c.pairId = s.Int(0);
    c.siteId = static_cast<int32_t>(s.Int(1));
    c.categoryId = static_cast<int32_t>(s.Int(2));
    c.siteName = s.Text(3);
    c.categoryName = s.Text(4);
    c.unread = s.Int(5);
    c.total = s.Int(6);
    counts->push_back(std::move(c));
  }
  return s.error();
}

int LastNewsId(Database& db, int64_t* id) {
  Statement s(db, "SELECT COALESCE(MAX(id), 0) FROM newsitem");
  *id = s.Next() ? s.Int(0) : -1;
  return s.error();
}

int CountNewsAfter(Database& db, int64_t id, int64_t* items, int64_t* sites) {
  *items = *sites = 0;
  Statement s(db,
              "SELECT COUNT(*), COUNT(DISTINCT r.fk_news_config) FROM newsitem n"
              " LEFT JOIN site_cat_rel r ON r.id = n.fk_site_cat_rel WHERE n.id > ? AND n.is_del = 0");
  s.Bind(1, id);
  if (s.Next()) {
    *items = s.Int(0);
    *sites = s.Int(1);
  }
  return s.error();
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
