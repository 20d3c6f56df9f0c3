// Marks on the Sites/Categories page for pairs whose masks the last download
// found broken (table mask_health, written by the gathering engine).
#pragma once

class QTreeWidget;

namespace orvo {

class Database;

// Colours each broken pair under its site in `sites` (as CheckTrees fills it:
// site roots and category children carrying their ids in Qt::UserRole),
// appends "broken since DATE" to its text and explains it in the tooltip.
// A database without the table marks nothing. Returns the number marked.
int MarkBrokenPairs(Database& db, QTreeWidget* sites);

}  // namespace orvo
