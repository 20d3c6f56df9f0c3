#include "dialect.h"

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

std::string Like(Backend b, std::string_view expr, bool negated) {
  std::string out(expr);
  if (Pg(b)) return out + (negated ? " !~ ?" : " ~ ?");
  return out + (negated ? " NOT LIKE ?" : " LIKE ?");
}

std::string LikePattern(Backend b, std::string_view pattern) {
  return Pg(b) ? LikeToRegex(pattern) : std::string(pattern);
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
