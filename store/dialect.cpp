#include "dialect.h"

#include <optional>

#include "like.h"
#include "pg_schema.h"

namespace orvo::dialect {

namespace {
bool Pg(Backend b) { return b == Backend::kPostgres; }
}  // namespace

std::string NoCase(Backend b, std::string_view expr) {
  return Pg(b) ? NoCaseKey(expr) : std::string(expr) + " COLLATE NOCASE";
}

std::string Direction(Backend b, bool ascending) {
  if (!Pg(b)) return ascending ? " ASC" : " DESC";
  return ascending ? " ASC NULLS FIRST" : " DESC NULLS LAST";
}

LikeTest Like(Backend b, std::string_view expr, std::string_view pattern, bool negated) {
  LikeTest t = LikeAny(b, {expr}, pattern);
  if (negated) t.sql = "NOT " + t.sql;
  return t;
}

LikeTest LikeAny(Backend b, const std::vector<std::string_view>& exprs, std::string_view pattern) {
  LikeTest t;
  auto add = [&](const char* op, const std::string& value) {
    for (std::string_view e : exprs) {
      t.sql += (t.sql.empty() ? "(" : " OR ") + std::string(e) + op;
      t.values.push_back(value);
    }
  };
  if (!Pg(b)) {
    add(" LIKE ?", std::string(pattern));
  } else {
    // OR goes left to right, so the regular expressions run only where every LIKE fails.
    if (std::optional<std::string> folded = LikeToFoldedLike(pattern)) add(" LIKE ?", *folded);
    add(" ~ ?", LikeToRegex(pattern));
  }
  t.sql += ")";
  return t;
}

std::string InIdList(Backend b, std::string_view column, int index) {
  const std::string at = "?" + std::to_string(index);
  return Pg(b) ? std::string(column) + " = ANY(" + at + ")"
               : std::string(column) + " IN (SELECT value FROM json_each(" + at + "))";
}

namespace {
template <typename Id>
std::string ListOf(Backend b, const std::vector<Id>& ids) {
  std::string list = Pg(b) ? "{" : "[";
  list.reserve(ids.size() * 8 + 2);
  for (size_t i = 0; i < ids.size(); ++i) {
    if (i) list += ',';
    list += std::to_string(ids[i]);
  }
  return list + (Pg(b) ? "}" : "]");
}
}  // namespace

std::string IdList(Backend b, const std::vector<int32_t>& ids) { return ListOf(b, ids); }
std::string IdList(Backend b, const std::vector<int64_t>& ids) { return ListOf(b, ids); }

}  // namespace orvo::dialect
