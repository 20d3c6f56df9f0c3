#include "filter_query.h"

#include <algorithm>
#include <unordered_map>

#include "eventlog.h"
#include "store/dialect.h"
#include "stored_html.h"
#include "text.h"

namespace orvo {

namespace {

// Midnight at the start of the day of `t`: the date restrictions compare
// whole days.
std::string DayStart(std::time_t t) { return FormatLocalTime(t, "%Y-%m-%d 00:00:00"); }

std::string LikeAnywhere(const std::string& text) { return "%" + text + "%"; }

}  // namespace

std::vector<std::string> SplitKeywords(const std::string& keywords) { return SplitWords(keywords); }

FilterSqlStyle EbookFilterStyle(bool indexed) {
  FilterSqlStyle style;
  style.indexed = indexed;
  return style;
}

FilterSqlStyle ReaderFilterStyle(bool indexed) {
  FilterSqlStyle style;
  style.dates = FilterDates::kWholeDays;
  style.news = "n";
  style.pairColumn = "n.fk_site_cat_rel";
  style.indexed = indexed;
  return style;
}

SqlCondition BuildFilterCondition(const FilterRow& filter, const std::vector<int64_t>& links, std::time_t now,
                                  const FilterSqlStyle& style) {
  SqlCondition c;
  bool keywordPart = false;
  const int mode = filter.searchMode;
  const std::string body = style.news + ".body";
  const std::string id = style.news + ".id";
  const std::string date = style.news + ".publication_date";
  // An excluding test through the index: NOT (candidate AND like), so that
  // only candidates pay for the like.
  const bool sqlite = style.backend == Database::Backend::kSqlite;
  // The statement's own spelling on SQLite; the dialect's on PostgreSQL.
  auto like = [&](const std::string& p, bool negated) {
    if (sqlite) {
      c.values.emplace_back(p);
      return " " + body + (negated ? " NOT like ? " : " like ? ");
    }
    dialect::LikeTest t = dialect::Like(style.backend, body, p, negated);
    for (std::string& v : t.values) c.values.emplace_back(std::move(v));
    return " " + t.sql + " ";
  };
  auto notLike = [&](const std::string& p) {
    IndexQuery q = style.indexed ? IndexQueryForLike(p) : std::nullopt;
    if (!q) return like(p, true);
    c.values.emplace_back(*q);
    c.values.emplace_back(p);
    return " NOT ( " + IndexCandidatesSql(id) + " AND " + body + " like ? ) ";
  };

  if (mode == kAllWords || mode == kAnyWord) {
    std::vector<std::string> words = SplitKeywords(filter.keywords);
    if (!words.empty()) {
      c.text += " ( ";
      for (size_t i = 0; i < words.size(); ++i) {
        if (i > 0) c.text += mode == kAllWords ? " and " : " or ";
        c.text += like(LikeAnywhere(words[i]), false);
        IndexQuery q = IndexQueryForLike(LikeAnywhere(words[i]));
        c.candidates = i == 0 ? q : mode == kAllWords ? IndexAnd(c.candidates, q) : IndexOr(c.candidates, q);
      }
      c.text += " ) ";
      keywordPart = true;
    }
  } else if (mode == kExactPhrase) {
    // Empty keywords give '%%', which every item satisfies.
    c.text += like(LikeAnywhere(filter.keywords), false);
    c.candidates = IndexQueryForLike(LikeAnywhere(filter.keywords));
    keywordPart = true;
  } else if (mode == kExcludeAllWords || mode == kExcludeAnyWord) {
    // Excluding all words drops an item only when it holds every word.
    std::vector<std::string> words = SplitKeywords(filter.keywords);
    if (!words.empty()) {
      c.text += " ( (";
      for (size_t i = 0; i < words.size(); ++i) {
        if (i > 0) c.text += mode == kExcludeAllWords ? " or (" : " and (";
        c.text += notLike(LikeAnywhere(words[i])) + ")";
      }
      c.text += " ) ";
      keywordPart = true;
    }
  } else if (mode == kExcludePhrase) {
    c.text += " (" + notLike(LikeAnywhere(filter.keywords)) + ")";
    keywordPart = true;
  }

  const bool wholeDays = style.dates == FilterDates::kWholeDays;
  if (filter.timeKind == kBetweenDates) {
    if (keywordPart) c.text += " and ";
    c.text += " " + date + " >= ? and " + date + " <= ?";
    // A missing bound leaves that side open.
    c.values.emplace_back(filter.dateFrom ? DayStart(*filter.dateFrom) : std::string("0000-01-01 00:00:00"));
    c.values.emplace_back(!filter.dateTo ? std::string("9999-12-31 23:59:59")
                          : wholeDays    ? FormatLocalTime(*filter.dateTo, "%Y-%m-%d 23:59:59")
                                         : DayStart(*filter.dateTo));
  } else if (filter.timeKind == kLastPeriod) {
    std::time_t start = now - static_cast<std::time_t>(filter.days) * 86400 -
                        static_cast<std::time_t>(filter.hours) * 3600 -
                        static_cast<std::time_t>(filter.minutes) * 60;
    if (keywordPart) c.text += " and ";
    c.text += " " + date + " >= ?";
    c.values.emplace_back(wholeDays ? FormatDbTime(start) : DayStart(start));
  }

  if (!c.text.empty()) c.text += " AND ";
  c.text += " " + style.pairColumn + " in(";
  if (links.empty()) {
    c.text += "0) ";
  } else {
    for (size_t i = 0; i < links.size(); ++i) {
      if (i > 0) c.text += ",";
      c.text += "?";
      c.values.emplace_back(links[i]);
    }
    c.text += ") ";
  }
  return c;
}

SqlCondition CombineFilterConditions(const std::vector<SqlCondition>& conditions) {
  SqlCondition all;
  for (size_t i = 0; i < conditions.size(); ++i) {
    if (i > 0) all.text += " OR ";
    all.text += "(" + conditions[i].text + ")";
    all.values.insert(all.values.end(), conditions[i].values.begin(), conditions[i].values.end());
    all.candidates = i == 0 ? conditions[i].candidates : IndexOr(all.candidates, conditions[i].candidates);
  }
  return all;
}

std::string NewsStatementText(const std::string& combinedCondition) {
  // ni.id after the category keeps a category's items in the order they were
  // stored, so volumes come out the same on every run.
  return "SELECT ni.id FROM newsitem ni, site_cat_rel rel, news_cat nc "
         "WHERE( ni.fk_site_cat_rel = rel.id AND rel.fk_news_cat = nc.id) AND ( " +
         combinedCondition + " ) AND ni.is_del=0 order by nc.id, ni.id";
}

std::string NewsStatementTextByFilter(const std::vector<SqlCondition>& conditions) {
  // UNION drops an item that two filters match; each arm carries the
  // category, so the rows are sorted without reading the items again.
  std::string matching;
  for (size_t i = 0; i < conditions.size(); ++i) {
    if (i > 0) matching += " UNION ";
    matching +=
        "SELECT ni.id, nc.id AS category FROM newsitem ni, site_cat_rel rel, news_cat nc "
        "WHERE ni.fk_site_cat_rel = rel.id AND rel.fk_news_cat = nc.id AND ni.is_del = 0 AND ( " +
        conditions[i].text + " )";
  }
  return "SELECT id FROM ( " + matching + " ) matching ORDER BY category, id";
}

namespace {

constexpr const char* kNewsRowColumns =
    "SELECT ni.id, ni.recvdate, ni.newsdate, ni.fk_site_cat_rel, ni.publication_date, ni.src_url, ni.author, "
    "ni.title, ni.smalldescr, ni.body, nc.name, nc.id "
    "FROM newsitem ni, site_cat_rel rel, news_cat nc "
    "WHERE ni.fk_site_cat_rel = rel.id AND rel.fk_news_cat = nc.id AND ni.is_del = 0 AND ";

void ReadNewsRow(const Statement& st, NewsRow* row) {
  row->id = st.Int(0);
  row->recvDate = st.Time(1);
  row->newsDate = st.Time(2);
  row->siteCatRel = st.Int(3);
  row->publicationDate = st.Time(4);
  row->srcUrl = st.Text(5, kTextColumn);
  row->author = st.Text(6, kTextColumn);
  row->title = st.Text(7, kTextColumn);
  row->smallDescr = st.Text(8, kSmallDescrColumn);
  // The body buffer holds 63,499 characters; a longer body (not written by
  // our gatherer, which stores no more) is cut where no reference or tag
  // breaks, and the log says which.
  std::string_view body = st.TextView(9);
  row->body = CutStoredHtml(body, kBodyColumn - 1);
  if (row->body.size() < body.size()) {
    size_t chars = 0;
    for (char c : row->body) chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    WriteEventLog("The text of news " + std::to_string(row->id) + " \"" + CutChars(row->title, 80) +
                  "\" is longer than " + std::to_string(kBodyColumn - 1) + " characters; its eBook holds the first " +
                  std::to_string(chars));
  }
  row->categoryName = st.Text(10, kTextColumn);
  row->categoryId = st.Int(11);
}

}  // namespace

void BindValues(Statement& stmt, const std::vector<SqlValue>& values) {
  int index = 1;
  for (const SqlValue& v : values) {
    if (const int64_t* n = std::get_if<int64_t>(&v))
      stmt.Bind(index, *n);
    else
      stmt.Bind(index, std::get<std::string>(v));
    ++index;
  }
}

int ReadMarkedFilters(Database& db, std::vector<FilterRow>* filters) {
  filters->clear();
  Statement st(db, "SELECT * FROM filter WHERE lit_gen <> 0 ORDER BY id");
  while (st.Next()) {
    FilterRow f;
    f.id = st.Int(0);
    f.name = st.Text(1, kTextColumn);
    f.keywords = st.Text(2, kTextColumn);
    f.searchMode = static_cast<int>(st.Int(3));
    f.timeKind = static_cast<int>(st.Int(4));
    f.dateFrom = st.Time(5);
    f.dateTo = st.Time(6);
    f.days = static_cast<int>(st.Int(7));
    f.hours = static_cast<int>(st.Int(8));
    f.minutes = static_cast<int>(st.Int(9));
    f.litGen = st.Int(10) != 0;
    filters->push_back(std::move(f));
  }
  return st.error();
}

int ReadFilterLinks(Database& db, int64_t filterId, std::vector<int64_t>* links) {
  links->clear();
  Statement st(db, "SELECT  fk_site_cat_rel  FROM filter_site_cat_rel WHERE fk_filter = ?");
  st.Bind(1, filterId);
  while (st.Next()) {
    if (!st.IsNull(0)) links->push_back(st.Int(0));
  }
  return st.error();
}

void NewsQuery::Close() {
  rowStmt_.reset();
  ids_.clear();
  batch_.clear();
  next_ = 0;
  batchIds_ = kFetchBatch;
}

int MarkedFiltersCondition(Database& db, std::time_t now, SqlCondition* all, std::vector<SqlCondition>* each) {
  std::vector<FilterRow> filters;
  if (int rc = ReadMarkedFilters(db, &filters)) {
    WriteEventLog("Can not read the filters: error " + HexCode(rc));
    return rc;
  }
  // With the search index complete, the like tests run on its candidates only.
  const bool indexed = db.backend() == Database::Backend::kSqlite && SearchIndexReady(db);
  std::vector<SqlCondition> conditions;
  for (const FilterRow& f : filters) {
    std::vector<int64_t> links;
    // Without its links a filter would match every site: fail instead.
    if (int rc = ReadFilterLinks(db, f.id, &links)) {
      WriteEventLog("Can not read the sites of filter " + std::to_string(f.id) + ": error " + HexCode(rc));
      return rc;
    }
    FilterSqlStyle style = EbookFilterStyle(indexed);
    style.backend = db.backend();
    conditions.push_back(BuildFilterCondition(f, links, now, style));
  }
  if (conditions.empty()) {
    WriteEventLog("No filters for .lit files generator.");
    return NewsQuery::kNoMarkedFilters;
  }
  *all = CombineFilterConditions(conditions);
  if (each) *each = std::move(conditions);
  if (indexed && all->candidates) {
    all->text = "(" + all->text + ") AND " + IndexCandidatesSql("ni.id");
    all->values.emplace_back(*all->candidates);
  }
  return 0;
}

int NewsQuery::Open(Database& db, std::time_t now) {
  Close();
  error_ = 0;
  SqlCondition all;
  std::vector<SqlCondition> each;
  if (int rc = MarkedFiltersCondition(db, now, &all, &each)) return rc;
  const Database::Backend b = db.backend();
  batched_ = b == Database::Backend::kPostgres;
  // Both forms take the filters' values in the same order.
  Statement ids(db, batched_ ? NewsStatementTextByFilter(each) : NewsStatementText(all.text));
  BindValues(ids, all.values);
  while (ids.Next()) ids_.push_back(ids.Int(0));
  auto rows =
      std::make_unique<Statement>(db, std::string(kNewsRowColumns) + (batched_ ? dialect::InIdList(b, "ni.id", 1) : "ni.id = ?"));
  if (int rc = ids.error() ? ids.error() : rows->error()) {
    ids_.clear();
    return error_ = rc;
  }
  rowStmt_ = std::move(rows);
  return 0;
}

bool NewsQuery::Fetch() {
  if (!rowStmt_ || error_) return false;
  if (batched_) {
    if (batch_.empty() && !FetchBatch()) return false;
    row_ = std::move(batch_.front());
    batch_.pop_front();
    return true;
  }
  Statement& st = *rowStmt_;
  for (;;) {
    if (next_ >= ids_.size()) return false;
    st.Reset();
    st.Bind(1, ids_[next_++]);
    if (st.Next()) break;
    if ((error_ = st.error()) != 0) return false;
  }
  ReadNewsRow(st, &row_);
  return true;
}

// The rows of the next ids that are still there, in the ids' order; false
// at the end or on a failure.
bool NewsQuery::FetchBatch() {
  Statement& st = *rowStmt_;
  while (batch_.empty() && next_ < ids_.size()) {
    const size_t end = std::min(ids_.size(), next_ + batchIds_);
    st.Reset();
    st.Bind(1, dialect::IdList(Database::Backend::kPostgres,
                               std::vector<int64_t>(ids_.begin() + static_cast<std::ptrdiff_t>(next_),
                                                    ids_.begin() + static_cast<std::ptrdiff_t>(end))));
    std::unordered_map<int64_t, NewsRow> found;
    size_t bytes = 0;
    while (st.Next()) {
      NewsRow row;
      ReadNewsRow(st, &row);
      bytes += row.body.size() + row.smallDescr.size() + row.title.size() + row.srcUrl.size() + 64;
      found.emplace(row.id, std::move(row));
    }
    if ((error_ = st.error()) != 0) return false;
    // A batch of long bodies keeps the next one small; short ones save round trips.
    if (!found.empty())
      batchIds_ = std::clamp(kFetchBatchBytes / (bytes / found.size() + 1), kFetchBatch, kMaxFetchBatch);
    for (size_t i = next_; i < end; ++i)
      if (auto it = found.find(ids_[i]); it != found.end()) batch_.push_back(std::move(it->second));
    next_ = end;
  }
  return !batch_.empty();
}

}  // namespace orvo
