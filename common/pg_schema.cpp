#include "pg_schema.h"

#include <algorithm>
#include <cctype>
#include <regex>
#include <set>
#include <vector>

#include "database.h"

namespace orvo {

namespace {

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

// The statements of a script, comments removed and white space collapsed.
// A trigger's body (BEGIN ... END) stays in its statement.
std::vector<std::string> SplitStatements(std::string_view sql) {
  std::vector<std::string> out;
  std::string cur;
  int depth = 0;  // BEGIN ... END of a trigger body
  auto word = [&](size_t i) {
    size_t j = i;
    while (j < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[j])) || sql[j] == '_')) ++j;
    return j;
  };
  for (size_t i = 0; i < sql.size();) {
    char c = sql[i];
    if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      while (i < sql.size() && sql[i] != '\n') ++i;
      continue;
    }
    if (c == '\'' || c == '"') {
      size_t j = i + 1;
      while (j < sql.size() && !(sql[j] == c && (j + 1 >= sql.size() || sql[j + 1] != c))) j += sql[j] == c ? 2 : 1;
      cur.append(sql.substr(i, j + 1 - i));
      i = j + 1;
      continue;
    }
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      size_t j = word(i);
      std::string w = Upper(sql.substr(i, j - i));
      if (w == "BEGIN" && Upper(cur).find("CREATE TRIGGER") != std::string::npos) ++depth;
      if (w == "END" && depth > 0) --depth;
      cur.append(sql.substr(i, j - i));
      i = j;
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!cur.empty() && cur.back() != ' ') cur += ' ';
      ++i;
      continue;
    }
    if (c == ';' && depth == 0) {
      while (!cur.empty() && cur.back() == ' ') cur.pop_back();
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
      ++i;
      continue;
    }
    cur += c;
    ++i;
  }
  while (!cur.empty() && cur.back() == ' ') cur.pop_back();
  if (!cur.empty()) out.push_back(cur);
  return out;
}

// True when `statement` names table `name` or one of its companions
// (`name`_something, as the search index's own bookkeeping tables are named).
bool Mentions(const std::string& statement, const std::string& name) {
  return std::regex_search(statement, std::regex("\\b" + name + "(_\\w+)?\\b", std::regex::icase));
}

// The key list of an index, "(a, b COLLATE NOCASE)", in PostgreSQL's form.
std::string IndexKeys(std::string_view keys, bool sortIndex) {
  static const std::regex nocase("^(\\w+) COLLATE NOCASE( ASC| DESC)?$", std::regex::icase);
  static const std::regex desc("\\bDESC$", std::regex::icase);
  std::vector<std::string> parts, plain, included;
  int depth = 0;
  std::string cur;
  for (char c : keys) {
    if (c == ',' && depth == 0) {
      parts.push_back(cur);
      cur.clear();
      continue;
    }
    depth += c == '(' ? 1 : c == ')' ? -1 : 0;
    cur += c;
  }
  parts.push_back(cur);
  for (std::string& p : parts) {
    while (!p.empty() && p.front() == ' ') p.erase(0, 1);
    while (!p.empty() && p.back() == ' ') p.pop_back();
    plain.push_back(p);
  }
  std::string out;
  for (const std::string& p : parts) {
    std::string key = p;
    std::smatch m;
    if (std::regex_match(p, m, nocase)) {
      key = NoCaseKey(m[1].str()) + m[2].str();
      if (std::find(plain.begin(), plain.end(), m[1].str()) == plain.end()) included.push_back(m[1].str());
    }
    if (sortIndex) key += std::regex_search(p, desc) ? " NULLS LAST" : " NULLS FIRST";
    out += (out.empty() ? "" : ", ") + key;
  }
  out = "(" + out + ")";
  if (!included.empty()) {
    out += " INCLUDE (";
    for (size_t i = 0; i < included.size(); ++i) out += (i ? ", " : "") + included[i];
    out += ")";
  }
  return out;
}

// CREATE [UNIQUE] INDEX ... ON table(keys) [WHERE ...] with its keys in
// PostgreSQL's form; any other statement as it is.
std::string IndexForPostgres(const std::string& st) {
  static const std::regex head("^CREATE (UNIQUE )?INDEX (IF NOT EXISTS )?(\\w+) ON \\w+ ?\\(", std::regex::icase);
  std::smatch m;
  if (!std::regex_search(st, m, head)) return st;
  const size_t open = static_cast<size_t>(m.length(0)) - 1;
  int depth = 0;
  size_t close = open;
  for (; close < st.size(); ++close) {
    depth += st[close] == '(' ? 1 : st[close] == ')' ? -1 : 0;
    if (depth == 0) break;
  }
  if (close >= st.size()) return st;
  const bool sortIndex = m[3].str().rfind(kSortIndexPrefix, 0) == 0;
  return st.substr(0, open) + IndexKeys(std::string_view(st).substr(open + 1, close - open - 1), sortIndex) +
         st.substr(close + 1);
}

}  // namespace

std::string NoCaseKey(std::string_view expr) {
  // Under "C" lower() folds A-Z alone, byte by byte, with the result's
  // collation "C"; translate() folded the same but cost some 15 us a title.
  return "lower(" + std::string(expr) + " COLLATE \"C\")";
}

namespace {
// A line "-- PostgreSQL: statement" is a comment to SQLite and a statement
// here: what SQLite has no form of (a column's compression).
std::string WithPostgresLines(std::string_view sql) {
  constexpr std::string_view kPrefix = "-- PostgreSQL: ";
  std::string out;
  out.reserve(sql.size());
  while (!sql.empty()) {
    const size_t end = std::min(sql.find('\n'), sql.size());
    std::string_view line = sql.substr(0, end);
    if (line.substr(0, kPrefix.size()) == kPrefix) line.remove_prefix(kPrefix.size());
    out.append(line);
    out.push_back('\n');
    sql.remove_prefix(std::min(end + 1, sql.size()));
  }
  return out;
}
}  // namespace

bool TranslateDdlToPostgres(std::string_view sqlite, std::string* out, std::string* error) {
  static const std::regex identity("\\bINTEGER\\s+PRIMARY\\s+KEY\\s+AUTOINCREMENT\\b", std::regex::icase);
  static const std::regex integer("\\bINTEGER\\b", std::regex::icase);
  static const std::regex virtualTable("^CREATE VIRTUAL TABLE (IF NOT EXISTS )?(\\w+)", std::regex::icase);
  std::set<std::string> virtualTables;
  std::string result;
  for (const std::string& st : SplitStatements(WithPostgresLines(sqlite))) {
    const std::string head = Upper(st.substr(0, 40));
    std::smatch m;
    if (head.rfind("PRAGMA ", 0) == 0) continue;
    if (std::regex_search(st, m, virtualTable)) {
      virtualTables.insert(m[2].str());
      continue;
    }
    if (head.rfind("CREATE TRIGGER ", 0) == 0 || head.rfind("DROP TRIGGER ", 0) == 0) {
      bool feedsVirtual = false;
      for (const auto& name : virtualTables) feedsVirtual = feedsVirtual || Mentions(st, name);
      if (feedsVirtual) continue;
      if (error) *error = "a trigger has no PostgreSQL form yet: " + st.substr(0, 80);
      return false;
    }
    bool known = head.rfind("CREATE TABLE ", 0) == 0 || head.rfind("CREATE INDEX ", 0) == 0 ||
                 head.rfind("CREATE UNIQUE INDEX ", 0) == 0 || head.rfind("INSERT INTO ", 0) == 0 ||
                 head.rfind("ALTER TABLE ", 0) == 0 || head.rfind("DROP INDEX ", 0) == 0 ||
                 head.rfind("DROP TABLE ", 0) == 0 || head.rfind("UPDATE ", 0) == 0 ||
                 head.rfind("DELETE FROM ", 0) == 0 || head.rfind("ALTER INDEX ", 0) == 0;
    if (!known) {
      if (error) *error = "no PostgreSQL form for: " + st.substr(0, 80);
      return false;
    }
    std::string pg = std::regex_replace(st, identity, "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY");
    pg = std::regex_replace(pg, integer, "BIGINT");
    pg = IndexForPostgres(pg);
    result += pg + ";\n";
  }
  *out = std::move(result);
  return true;
}

std::string PostgresSchemaSql(std::string* error) {
  std::string sql;
  if (!TranslateDdlToPostgres(NewsSchemaSql(), &sql, error)) return {};
  // Keyword search: trigram indexes serve LIKE/ILIKE with a leading
  // wildcard, as the FTS5 trigram index does on SQLite.
  sql +=
      "CREATE EXTENSION IF NOT EXISTS pg_trgm;\n"
      "CREATE INDEX newsitem_title_trgm ON newsitem USING gin (title gin_trgm_ops);\n"
      "CREATE INDEX newsitem_body_trgm ON newsitem USING gin (body gin_trgm_ops);\n";
  sql += std::string("CREATE TABLE ") + kImageBytesTable +
         " (\n"
         "  fk_newsimages BIGINT PRIMARY KEY REFERENCES newsimages(id) ON DELETE CASCADE,\n"
         "  bytes         BYTEA NOT NULL\n"
         ");\n";
  return sql;
}

}  // namespace orvo
