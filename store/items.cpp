#include "items.h"

#include "store/images.h"

namespace orvo {

bool IsStoredAddress(Database& db, const std::string& address) {
  Statement st(db, "SELECT id FROM newsitem WHERE src_url = ? LIMIT 1");
  st.BindText(1, address, kTextColumn);
  return st.Next();
}

ItemWrite::ItemWrite(Database& db) : db_(db) {
  tx_.emplace(db);
  status_ = tx_->status();
  if (status_ != 0) failedSql_ = "BEGIN IMMEDIATE";
}

int ItemWrite::Insert(const ItemRow& row, bool checkStored, int64_t* id) {
  // Inside the transaction: on SQLite under the write lock, so no other
  // writer stores the address between this look and the insert.
  if (checkStored && IsStoredAddress(db_, row.address)) return kStoredAlready;
  Statement st(db_,
               "INSERT INTO newsitem (recvdate, newsdate, fk_site_cat_rel, publication_date, src_url,"
               " author, title, smalldescr, body) VALUES(?,?,?,?,?,?,?,?,?)");
  st.Bind(1, row.recvDate)
      .Bind(2, row.publicationDate)
      .Bind(3, row.siteCatRel)
      .Bind(4, row.publicationDate)
      .BindText(5, row.address, kTextColumn)
      .BindText(6, row.author, kTextColumn)
      .BindText(7, row.title, kTextColumn)
      .Bind(8, "")
      .BindText(9, row.body, kBodyColumn);
  if (int rc = st.Execute(); rc != 0) {
    failedSql_ = st.sql();
    if (rc != SQLITE_CONSTRAINT_UNIQUE) return rc;
    // Another engine stored the address after the look (on PostgreSQL the
    // insert waited for its commit). The transaction is spoiled there: it
    // ends here, and the address is looked at again outside it.
    Rollback();
    return IsStoredAddress(db_, row.address) ? kStoredAlready : rc;
  }
  *id = db_.LastInsertId();
  return 0;
}

int ItemWrite::AddPicture(int64_t item, int64_t position, const std::string& path, const std::string& caption,
                          std::string_view bytes) {
  if (!picture_)
    picture_ = std::make_unique<Statement>(
        db_, "INSERT INTO newsimages (bodypos, image_path, imagetext, fk_newsitem) VALUES(?,?,?,?)");
  picture_->Reset();
  picture_->Bind(1, position).BindText(2, path, kImagePathColumn).Bind(3, caption).Bind(4, item);
  if (int rc = picture_->Execute(); rc != 0) {
    failedSql_ = picture_->sql();
    return rc;
  }
  if (PicturesInDatabase(db_) && !bytes.empty()) {
    if (int rc = StorePictureBytes(db_, db_.LastInsertId(), bytes); rc != 0) {
      failedSql_ = "INSERT INTO newsimage_bytes";
      return rc;
    }
  }
  return 0;
}

int ItemWrite::Commit() {
  if (!tx_) return SQLITE_MISUSE;
  const int rc = tx_->Commit();
  tx_.reset();
  if (rc != 0) {
    failedSql_ = "COMMIT";
    db_.Rollback();
  }
  return rc;
}

void ItemWrite::Rollback() { tx_.reset(); }

PictureRowLookup::PictureRowLookup(Database& db)
    : st_(db, "SELECT 1 FROM newsimages WHERE fk_newsitem = ? AND bodypos = ? LIMIT 1") {}

bool PictureRowLookup::Exists(int64_t item, int64_t position) {
  st_.Reset();
  st_.Bind(1, item).Bind(2, position);
  return st_.Next();
}

}  // namespace orvo
