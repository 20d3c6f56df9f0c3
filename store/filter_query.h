// The news query of an eBook run: the conditions of every filter marked for
// eBook generation, joined with OR, over the live news, grouped by category.
//
// Keywords and dates go into the statement as bound values, never as text, so
// a keyword with an apostrophe is searched like any other. Keywords keep the
// reader's bracket escapes; the database's LIKE understands them.
#pragma once

#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "database.h"
#include "search_index.h"

namespace orvo {

// The reader's search modes: the including ones, then the same plus 3.
enum SearchMode {
  kAllWords = 0,
  kAnyWord = 1,
  kExactPhrase = 2,
  kExcludeAllWords = 3,
  kExcludeAnyWord = 4,
  kExcludePhrase = 5,
};

enum TimeKind {
  kNoTimeLimit = 0,
  kBetweenDates = 1,
  kLastPeriod = 2,
};

// One row of `filter`, read by position.
struct FilterRow {
  int64_t id = 0;
  std::string name;
  std::string keywords;
  int searchMode = 0;
  int timeKind = 0;
  std::optional<std::time_t> dateFrom;
  std::optional<std::time_t> dateTo;
  int days = 0;
  int hours = 0;
  int minutes = 0;
  bool litGen = false;  // used for eBook generation
};

using SqlValue = std::variant<int64_t, std::string>;

// A piece of WHERE clause with "?" placeholders and their values, in order.
struct SqlCondition {
  std::string text;
  std::vector<SqlValue> values;
  // The items the condition can match, as a search index query (none: any).
  IndexQuery candidates;
};

// The words of a keywords text: cut at spaces, trimmed, empty pieces dropped.
std::vector<std::string> SplitKeywords(const std::string& keywords);

// How a filter's dates are read. The two differ on purpose:
enum class FilterDates {
  // The eBooks: the dates are cut to midnight, so a range ends at the start
  // of its last day and a period reaches back to the start of its first day.
  kDayStarts,
  // The reader's grid: a range takes both its days whole (to 23:59:59 of the
  // last), and a period counts back from now to the second.
  kWholeDays,
};

// Everything in which the reader's grid and the eBooks build one filter's
// condition differently.
struct FilterSqlStyle {
  FilterDates dates = FilterDates::kDayStarts;
  std::string news = "ni";            // the news table's alias
  std::string pairColumn = "rel.id";  // what the filter's pairs are tested on
  bool indexed = false;               // excluding tests go through the search index
  Database::Backend backend = Database::Backend::kSqlite;  // how LIKE is written
};
FilterSqlStyle EbookFilterStyle(bool indexed);
FilterSqlStyle ReaderFilterStyle(bool indexed);

// The condition of one filter. `links` are its site/category pair ids; an
// empty list matches nothing. `now` anchors a "last period" restriction.
SqlCondition BuildFilterCondition(const FilterRow& filter, const std::vector<int64_t>& links, std::time_t now,
                                  const FilterSqlStyle& style = {});

// The conditions of all marked filters, each in parentheses, joined by OR.
// Empty when `filters` is empty.
SqlCondition CombineFilterConditions(const std::vector<SqlCondition>& conditions);

// The full news statement around a combined condition.
std::string NewsStatementText(const std::string& combinedCondition);
// The same rows in the same order with each filter's condition a query of
// its own, joined by UNION: PostgreSQL's form. There a filter's keyword
// tests are then just what its trigram index scan rechecks, so each body is
// matched once per test; under one OR the server rechecks them for the index
// and tests them all again for the whole condition, unpacking the body each
// time.
std::string NewsStatementTextByFilter(const std::vector<SqlCondition>& conditions);

// Binds `values` to positions 1.. of `stmt`.
void BindValues(Statement& stmt, const std::vector<SqlValue>& values);

// The marked filters and each one's links. 0 or the database's code.
int ReadMarkedFilters(Database& db, std::vector<FilterRow>* filters);
int ReadFilterLinks(Database& db, int64_t filterId, std::vector<int64_t>* links);

// One row of the news query; bodies are cut to the column's buffer.
struct NewsRow {
  int64_t id = 0;
  std::optional<std::time_t> recvDate;
  std::optional<std::time_t> newsDate;
  int64_t siteCatRel = 0;
  std::optional<std::time_t> publicationDate;
  std::string srcUrl;
  std::string author;
  std::string title;
  std::string smallDescr;
  std::string body;
  std::string categoryName;
  int64_t categoryId = 0;
};

// The open news query of a run, with its current row. Open() sorts the
// matching ids alone and Fetch() reads each row by id, so a run over hundreds
// of thousands of items holds their ids, never their bodies, at once. On a
// PostgreSQL server, where each statement is a round trip and is planned
// again, rows are read in batches: the first of kFetchBatch ids, the next
// ones sized from the rows read so far to about kFetchBatchBytes, up to
// kMaxFetchBatch ids.
class NewsQuery {
 public:
  // Result of Open() when no filter is marked for eBook generation.
  static constexpr int kNoMarkedFilters = -1;

  NewsQuery() = default;
  NewsQuery(const NewsQuery&) = delete;
  NewsQuery& operator=(const NewsQuery&) = delete;

  // Builds and prepares the statement. 0 when open; kNoMarkedFilters (logged
  // as "No filters for .lit files generator.") or the database's code.
  int Open(Database& db, std::time_t now);

  // Moves to the next row; false at the end or on a failure (see error()).
  // An item deleted since Open() is passed over.
  bool Fetch();
  const NewsRow& row() const { return row_; }
  int error() const { return error_; }
  void Close();

  static constexpr size_t kFetchBatch = 64;
  static constexpr size_t kMaxFetchBatch = 1024;
  static constexpr size_t kFetchBatchBytes = size_t{4} << 20;

 private:
  bool FetchBatch();

  std::vector<int64_t> ids_;
  size_t next_ = 0;
  size_t batchIds_ = kFetchBatch;
  std::unique_ptr<Statement> rowStmt_;
  bool batched_ = false;
  std::deque<NewsRow> batch_;  // read ahead, in ids_' order
  int error_ = 0;
  NewsRow row_;
};

// The condition of every filter marked for eBooks, the search index's
// candidates included when the index is complete: 0, NewsQuery's
// kNoMarkedFilters or the database's code, each logged. `each`, when given,
// receives every filter's own condition, in the order of `all`'s values.
int MarkedFiltersCondition(Database& db, std::time_t now, SqlCondition* all,
                           std::vector<SqlCondition>* each = nullptr);

}  // namespace orvo
