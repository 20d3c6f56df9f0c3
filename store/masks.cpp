#include "masks.h"

#include "database.h"

namespace orvo {

int ReadPlanRows(Database& db, std::vector<PlanRow>* rows, bool withdrawnNews) {
  rows->clear();
  Statement st(db,
               "SELECT nm.id, nm.type, ns.site_name, nc.name, nm.mask_version"
               " FROM news_masks nm, site_cat_rel rel, news_cat nc, news_config ns"
               " WHERE rel.is_selected = 1 AND nm.fk_site_cat_rel = rel.id"
               " AND rel.fk_news_config = ns.id AND rel.fk_news_cat = nc.id"
               " AND (nm.mask_version > 0 OR (? <> 0 AND nm.mask_version = 0 AND nm.type % 128 = 1))"
               " ORDER BY nm.id");
  st.Bind(1, withdrawnNews ? 1 : 0);
  while (st.Next()) {
    PlanRow row;
    row.maskId = static_cast<int>(st.Int(0));
    row.type = static_cast<int>(st.Int(1)) & 0xFF;
    row.site = st.Text(2, kTextColumn);
    row.category = st.Text(3, kTextColumn);
    row.version = static_cast<int>(st.Int(4));
    rows->push_back(std::move(row));
  }
  return st.error();
}

int ReadStoredMask(Database& db, int id, StoredMask* mask) {
  Statement st(db, "SELECT id, mask, mask_version, type, fk_site_cat_rel FROM news_masks WHERE id = ?");
  st.Bind(1, id);
  if (!st.Next()) return st.error() != 0 ? st.error() : SQLITE_NOTFOUND;
  mask->id = static_cast<int>(st.Int(0));
  mask->hex = st.Text(1);
  mask->version = static_cast<int>(st.Int(2));
  mask->type = static_cast<int>(st.Int(3));
  mask->siteCatRel = static_cast<int>(st.Int(4));
  return 0;
}

int ResetMask(Database& db, int id) {
  Statement st(db, "UPDATE news_masks SET mask_version = 1, mask = '' WHERE id = ?");
  st.Bind(1, id);
  return st.Execute();
}

std::string MaskVersions(Database& db, int siteCatRel) {
  Statement st(db, "SELECT type, mask_version FROM news_masks WHERE fk_site_cat_rel = ? ORDER BY type");
  st.Bind(1, siteCatRel);
  std::string list = "0", news = "0";
  while (st.Next()) (st.Int(0) % 128 == 0 ? list : news) = std::to_string(st.Int(1));
  return list + "/" + news;
}

}  // namespace orvo
