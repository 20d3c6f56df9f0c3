-- The news database. Column order matters: statements read "*" and bind by
-- position. Dates are local time as 'YYYY-MM-DD HH:MM:SS', booleans 0/1.
--
-- A new file runs all of this file. Its first part is the schema of version 1;
-- each "-- Upgrade N" part after it brings a database of version N - 1 to N
-- (store/schema.h runs them on older files). An upgrade may meet a database
-- that already holds some of its objects (older versions made tables in code,
-- and recorded no version), so its statements say IF NOT EXISTS, and it ends by
-- recording its number. "SQLite only" parts have no meaning elsewhere; "in the
-- background" parts may take long on a large file and are left to the index
-- upgrade of the reader, the Gatherer and orvo init, as are the parts after them.
PRAGMA foreign_keys = ON;

CREATE TABLE schema_version (version INTEGER NOT NULL);
INSERT INTO schema_version VALUES (1);

CREATE TABLE news_config (
  id        INTEGER PRIMARY KEY AUTOINCREMENT,
  site_name TEXT NOT NULL DEFAULT ''
);

CREATE TABLE news_cat (
  id   INTEGER PRIMARY KEY AUTOINCREMENT,
  name TEXT NOT NULL DEFAULT ''
);

CREATE TABLE site_cat_rel (
  id             INTEGER PRIMARY KEY AUTOINCREMENT,
  is_selected    INTEGER NOT NULL DEFAULT 0,
  fk_news_cat    INTEGER REFERENCES news_cat(id),
  fk_news_config INTEGER REFERENCES news_config(id)
);

-- A withdrawn pair goes with its masks, its user-deleted news and its filter links.
CREATE TABLE newsitem (
  id               INTEGER PRIMARY KEY AUTOINCREMENT,
  recvdate         TEXT,
  newsdate         TEXT,
  fk_site_cat_rel  INTEGER REFERENCES site_cat_rel(id) ON DELETE CASCADE,
  publication_date TEXT,
  src_url          TEXT NOT NULL DEFAULT '',
  author           TEXT NOT NULL DEFAULT '',
  title            TEXT NOT NULL DEFAULT '',
  smalldescr       TEXT NOT NULL DEFAULT '',
  body             TEXT NOT NULL DEFAULT '',
  is_del           INTEGER NOT NULL DEFAULT 0,
  is_read          INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE newsimages (
  id          INTEGER PRIMARY KEY AUTOINCREMENT,
  bodypos     INTEGER NOT NULL DEFAULT 0,
  image_path  TEXT NOT NULL DEFAULT '',
  imagetext   TEXT NOT NULL DEFAULT '',
  fk_newsitem INTEGER REFERENCES newsitem(id) ON DELETE CASCADE
);

CREATE TABLE news_masks (
  id              INTEGER PRIMARY KEY AUTOINCREMENT,
  mask            TEXT NOT NULL DEFAULT '',
  mask_version    INTEGER NOT NULL DEFAULT 0,
  type            INTEGER NOT NULL DEFAULT 0,
  fk_site_cat_rel INTEGER REFERENCES site_cat_rel(id) ON DELETE CASCADE
);

CREATE TABLE filter (
  id           INTEGER PRIMARY KEY AUTOINCREMENT,
  name         TEXT NOT NULL DEFAULT '',
  keywords     TEXT NOT NULL DEFAULT '',
  search_mode  INTEGER NOT NULL DEFAULT 0,
  time_kind    INTEGER NOT NULL DEFAULT 0,
  date_from    TEXT,
  date_to      TEXT,
  days         INTEGER NOT NULL DEFAULT 0,
  hours        INTEGER NOT NULL DEFAULT 0,
  minutes      INTEGER NOT NULL DEFAULT 0,
  lit_gen      INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE filter_site_cat_rel (
  fk_filter       INTEGER REFERENCES filter(id) ON DELETE CASCADE,
  fk_site_cat_rel INTEGER REFERENCES site_cat_rel(id) ON DELETE CASCADE
);

CREATE INDEX newsitem_src_url ON newsitem(src_url);
CREATE INDEX newsitem_fk_site_cat_rel ON newsitem(fk_site_cat_rel);
CREATE INDEX newsitem_publication_date ON newsitem(publication_date);
CREATE INDEX newsimages_fk_newsitem ON newsimages(fk_newsitem);
CREATE INDEX site_cat_rel_fk_news_cat ON site_cat_rel(fk_news_cat);
CREATE INDEX site_cat_rel_fk_news_config ON site_cat_rel(fk_news_config);
CREATE INDEX news_masks_fk_site_cat_rel ON news_masks(fk_site_cat_rel);
CREATE INDEX filter_site_cat_rel_fk_filter ON filter_site_cat_rel(fk_filter);
CREATE INDEX filter_site_cat_rel_fk_site_cat_rel ON filter_site_cat_rel(fk_site_cat_rel);

-- Upgrade 2: mask health and the news found without masks.
-- Mask health: what each pair's masks yielded per run (state 0 healthy,
-- 1 broken, 2 never worked). Kept beside the tables above, which stay as they are.
CREATE TABLE IF NOT EXISTS mask_health (
  id              INTEGER PRIMARY KEY AUTOINCREMENT,
  fk_site_cat_rel INTEGER REFERENCES site_cat_rel(id) ON DELETE CASCADE,
  run_time        TEXT NOT NULL DEFAULT '',
  list_loaded     INTEGER NOT NULL DEFAULT 0,
  links_found     INTEGER NOT NULL DEFAULT 0,
  feed_links      INTEGER NOT NULL DEFAULT 0,
  pages_walked    INTEGER NOT NULL DEFAULT 0,
  empty_bodies    INTEGER NOT NULL DEFAULT 0,
  empty_titles    INTEGER NOT NULL DEFAULT 0,
  items_stored    INTEGER NOT NULL DEFAULT 0,
  auto_items      INTEGER NOT NULL DEFAULT 0,
  state           INTEGER NOT NULL DEFAULT 0,
  symptom         TEXT NOT NULL DEFAULT '',
  broken_since    TEXT
);
CREATE INDEX IF NOT EXISTS mask_health_pair ON mask_health(fk_site_cat_rel, id);

-- News found without the pair's masks: how 1 = body by automatic extraction,
-- 2 = link from the site's feed, 3 = both.
CREATE TABLE IF NOT EXISTS newsitem_auto (
  fk_newsitem INTEGER PRIMARY KEY REFERENCES newsitem(id) ON DELETE CASCADE,
  how         INTEGER NOT NULL DEFAULT 1
);
UPDATE schema_version SET version = 2 WHERE version = 1;

-- Upgrade 3: the user's own sites.
-- The user's own pairs, added from a feed's address and never touched by the
-- catalogue update: kind 0 feed, 1 page; the feed's validators of its last
-- answer; removed 1 keeps the pair only for its news.
CREATE TABLE IF NOT EXISTS own_site (
  fk_site_cat_rel INTEGER PRIMARY KEY REFERENCES site_cat_rel(id) ON DELETE CASCADE,
  address         TEXT NOT NULL DEFAULT '',
  kind            INTEGER NOT NULL DEFAULT 0,
  page_url        TEXT NOT NULL DEFAULT '',
  added           TEXT NOT NULL DEFAULT '',
  feed_title      TEXT NOT NULL DEFAULT '',
  etag            TEXT NOT NULL DEFAULT '',
  last_modified   TEXT NOT NULL DEFAULT '',
  removed         INTEGER NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX IF NOT EXISTS own_site_address ON own_site(address);
UPDATE schema_version SET version = 3 WHERE version = 2;

-- Upgrade 4, in the background: the news grid's covering indexes.
-- The news grid's sorts (title, date, site/category pair), each covering the
-- columns the grid reads.
CREATE INDEX IF NOT EXISTS newsitem_grid_title ON newsitem(title COLLATE NOCASE, id, is_del, is_read, publication_date, fk_site_cat_rel);
CREATE INDEX IF NOT EXISTS newsitem_grid_date ON newsitem(publication_date, id, is_del, is_read, title, fk_site_cat_rel);
CREATE INDEX IF NOT EXISTS newsitem_grid_pair ON newsitem(fk_site_cat_rel, publication_date, id, is_del, is_read, title);
-- Indexes the reader made at start-up before; the grid's indexes cover them.
DROP INDEX IF EXISTS newsitem_title_nocase;
DROP INDEX IF EXISTS newsitem_pair_date;
UPDATE schema_version SET version = 4 WHERE version = 3;

-- Upgrade 5, SQLite only: keyword search through an FTS5 trigram index.
-- Keyword search: a trigram index of titles and bodies that narrows LIKE
-- searches to candidates. Items with ids in (filled_upto, fill_end] are still
-- to be indexed by the background filling of an older database; the triggers
-- leave those to it. A deleted item's text waits in newsitem_fts_gone until
-- the background drops it from the index: re-reading the old text there costs
-- far more than the delete itself. Searches stay exact meanwhile, as every
-- candidate is joined to newsitem, and ids are never used twice.
CREATE VIRTUAL TABLE IF NOT EXISTS newsitem_fts USING fts5(title, body, content='newsitem', content_rowid='id', tokenize='trigram', detail='none');
CREATE TABLE IF NOT EXISTS newsitem_fts_fill (filled_upto INTEGER NOT NULL, fill_end INTEGER NOT NULL);
-- An older database's items are the background's to fill: all ids so far.
INSERT INTO newsitem_fts_fill SELECT 0, coalesce(max(id), 0) FROM newsitem WHERE NOT EXISTS (SELECT 1 FROM newsitem_fts_fill);
CREATE TRIGGER IF NOT EXISTS newsitem_fts_update AFTER UPDATE OF title, body ON newsitem
  WHEN old.id > (SELECT fill_end FROM newsitem_fts_fill) OR old.id <= (SELECT filled_upto FROM newsitem_fts_fill)
BEGIN
  INSERT INTO newsitem_fts(newsitem_fts, rowid, title, body) VALUES ('delete', old.id, old.title, old.body);
  INSERT INTO newsitem_fts(rowid, title, body) VALUES (new.id, new.title, new.body);
END;
UPDATE schema_version SET version = 5 WHERE version = 4;

-- Upgrade 6, SQLite only: deleted items queue their text for the index. An index
-- of version 5 dropped them at once: its triggers are replaced.
CREATE TABLE IF NOT EXISTS newsitem_fts_gone (id INTEGER PRIMARY KEY, title TEXT NOT NULL, body TEXT NOT NULL);
DROP TRIGGER IF EXISTS newsitem_fts_insert;
DROP TRIGGER IF EXISTS newsitem_fts_delete;
CREATE TRIGGER newsitem_fts_insert AFTER INSERT ON newsitem
  WHEN new.id > (SELECT fill_end FROM newsitem_fts_fill) OR new.id <= (SELECT filled_upto FROM newsitem_fts_fill)
BEGIN
  INSERT INTO newsitem_fts(newsitem_fts, rowid, title, body) SELECT 'delete', id, title, body FROM newsitem_fts_gone WHERE id = new.id;
  DELETE FROM newsitem_fts_gone WHERE id = new.id;
  INSERT INTO newsitem_fts(rowid, title, body) VALUES (new.id, new.title, new.body);
END;
CREATE TRIGGER newsitem_fts_delete AFTER DELETE ON newsitem
  WHEN old.id > (SELECT fill_end FROM newsitem_fts_fill) OR old.id <= (SELECT filled_upto FROM newsitem_fts_fill)
BEGIN
  INSERT INTO newsitem_fts_gone(id, title, body) VALUES (old.id, old.title, old.body);
END;
UPDATE schema_version SET version = 6 WHERE version = 5;

-- Upgrade 7, in the background: one item per stored address, so that engines
-- sharing one database store each address once. A file from before may hold
-- an address more than once (two engines once stored side by side); the
-- oldest item of each address stays, the later copies go (their pictures'
-- files are swept at the next download). Items without an address are left
-- out of the key.
DELETE FROM newsitem WHERE src_url <> '' AND EXISTS (SELECT 1 FROM newsitem o WHERE o.src_url = newsitem.src_url AND o.id < newsitem.id);
CREATE UNIQUE INDEX IF NOT EXISTS newsitem_src_url_once ON newsitem(src_url) WHERE src_url <> '';
UPDATE schema_version SET version = 7 WHERE version = 6;

-- Upgrade 8, PostgreSQL only: the grid's indexes in the reader's sort order.
-- Made there before this version, they folded titles by the server's locale
-- and kept NULLs last, so the sorts could not walk them; their PostgreSQL form
-- now keeps SQLite's order (common/pg_schema.h), and they are made again. A
-- SQLite file has them as they should be: it only records the version (a new
-- file runs this part too, on no rows).
DROP INDEX IF EXISTS newsitem_grid_title;
DROP INDEX IF EXISTS newsitem_grid_date;
DROP INDEX IF EXISTS newsitem_grid_pair;
CREATE INDEX newsitem_grid_title ON newsitem(title COLLATE NOCASE, id, is_del, is_read, publication_date, fk_site_cat_rel);
CREATE INDEX newsitem_grid_date ON newsitem(publication_date, id, is_del, is_read, title, fk_site_cat_rel);
CREATE INDEX newsitem_grid_pair ON newsitem(fk_site_cat_rel, publication_date, id, is_del, is_read, title);
UPDATE schema_version SET version = 8 WHERE version = 7;

-- Upgrade 9, PostgreSQL only: news bodies compressed with lz4. A keyword search
-- and the eBook query unpack every body they test, and lz4 unpacks several
-- times faster than the server's default (pglz). Bodies stored before keep
-- pglz, readable as ever, until they are written again: rewriting every row
-- here would make the whole trigram index again inside the upgrade.
-- PostgreSQL: ALTER TABLE newsitem ALTER COLUMN body SET COMPRESSION lz4;
UPDATE schema_version SET version = 9 WHERE version = 8;

-- Upgrade 10, PostgreSQL only: news bodies kept in their rows. The server
-- moved every body still over about 2 kB once packed to a table of its own,
-- and a keyword test fetched it from there body by body, which cost more
-- than the test. Now a packed body stays in its row as long as the row fits
-- a page (8 kB), at no more space. As with upgrade 9, bodies stored before
-- stay where they are until they are written again.
-- PostgreSQL: ALTER TABLE newsitem ALTER COLUMN body SET STORAGE MAIN;
UPDATE schema_version SET version = 10 WHERE version = 9;

-- Upgrade 11, PostgreSQL only: the title sort's key folded by lower() under
-- the "C" collation, which folds what translate() did (A-Z alone) at a
-- fraction of its cost: a keyword search sorts its rows by that key, and
-- translate() took longer than the search's own tests. The new index is
-- built before the old one goes, so that readers wait only for the swap.
-- PostgreSQL: CREATE INDEX newsitem_grid_title_folded ON newsitem(title COLLATE NOCASE, id, is_del, is_read, publication_date, fk_site_cat_rel);
-- PostgreSQL: DROP INDEX newsitem_grid_title;
-- PostgreSQL: ALTER INDEX newsitem_grid_title_folded RENAME TO newsitem_grid_title;
UPDATE schema_version SET version = 11 WHERE version = 10;
