// The search index's triggers as databases made before deleted items were
// queued still have them: a delete drops the item from the index at once.
#pragma once

namespace orvo::testing {

inline constexpr const char* kImmediateIndexDeletesSql =
    "DROP TRIGGER newsitem_fts_insert; DROP TRIGGER newsitem_fts_delete; DROP TABLE newsitem_fts_gone;\n"
    "CREATE TRIGGER newsitem_fts_insert AFTER INSERT ON newsitem\n"
    "  WHEN new.id > (SELECT fill_end FROM newsitem_fts_fill) OR new.id <= (SELECT filled_upto FROM "
    "newsitem_fts_fill)\n"
    "BEGIN\n"
    "  INSERT INTO newsitem_fts(rowid, title, body) VALUES (new.id, new.title, new.body);\n"
    "END;\n"
    "CREATE TRIGGER newsitem_fts_delete AFTER DELETE ON newsitem\n"
    "  WHEN old.id > (SELECT fill_end FROM newsitem_fts_fill) OR old.id <= (SELECT filled_upto FROM "
    "newsitem_fts_fill)\n"
    "BEGIN\n"
    "  INSERT INTO newsitem_fts(newsitem_fts, rowid, title, body) VALUES ('delete', old.id, old.title, "
    "old.body);\n"
    "END;\n";

}  // namespace orvo::testing
