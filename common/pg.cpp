#include "pg.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace orvo::pg {

namespace {

// libpq's PQexecParams arrays for `params`; `values` point into `params`.
struct Bound {
  explicit Bound(const std::vector<Param>& params) {
    for (const auto& p : params) {
      values.push_back(p.text ? p.text->c_str() : nullptr);
      // int8, bytea, or let the server infer the type. Bytes go as they are:
      // as hex text they would cost twice the size and the server's decoding.
      types.push_back(p.int8 ? 20 : p.bytes ? 17 : 0);
      lengths.push_back(p.bytes && p.text ? static_cast<int>(p.text->size()) : 0);
      formats.push_back(p.bytes ? 1 : 0);
    }
  }
  std::vector<const char*> values;
  std::vector<Oid> types;
  std::vector<int> lengths;
  std::vector<int> formats;
};

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// The server's NOTICEs ("index ... does not exist, skipping" from the schema's
// own DROP INDEX IF EXISTS) are chatter on the programs' terminals; WARNINGs
// and worse still reach stderr, as libpq's default receiver would print them.
void ReceiveNotice(void*, const PGresult* res) {
  const char* severity = PQresultErrorField(res, PG_DIAG_SEVERITY_NONLOCALIZED);
  const std::string_view level = severity ? severity : "";
  if (level == "NOTICE" || level == "INFO" || level == "DEBUG" || level == "LOG") return;
  std::fputs(PQresultErrorMessage(res), stderr);
}

}  // namespace

bool IsUrl(std::string_view location) {
  return StartsWith(location, "postgresql://") || StartsWith(location, "postgres://");
}

std::string RedactUrl(std::string_view url) {
  std::string out(url);
  size_t scheme = out.find("://");
  if (scheme != std::string::npos) {
    size_t start = scheme + 3;
    size_t end = out.find_first_of("/?", start);
    if (end == std::string::npos) end = out.size();
    size_t at = out.rfind('@', end);
    if (at != std::string::npos && at >= start) {
      size_t colon = out.find(':', start);
      if (colon != std::string::npos && colon < at) out.erase(colon, at - colon);
    }
  }
  // password=... among the query parameters
  size_t query = out.find('?');
  if (query == std::string::npos) return out;
  std::string kept;
  size_t pos = query + 1;
  while (pos <= out.size()) {
    size_t next = out.find('&', pos);
    if (next == std::string::npos) next = out.size();
    std::string_view param = std::string_view(out).substr(pos, next - pos);
    if (!param.empty() && !StartsWith(param, "password=")) kept += (kept.empty() ? "" : "&") + std::string(param);
    pos = next + 1;
  }
  out.erase(query);
  if (!kept.empty()) out += "?" + kept;
  return out;
}

std::string NumberPlaceholders(std::string_view sql, int* count) {
  std::string out;
  out.reserve(sql.size() + 8);
  int highest = 0;
  auto copyUntil = [&](size_t& i, std::string_view end) {
    size_t j = sql.find(end, i);
    j = j == std::string_view::npos ? sql.size() : j + end.size();
    out.append(sql.substr(i, j - i));
    i = j;
  };
  for (size_t i = 0; i < sql.size();) {
    char c = sql[i];
    if (c == '\'' || c == '"') {
      // '' inside quotes is one quote: the scan simply closes and reopens.
      size_t j = sql.find(c, i + 1);
      j = j == std::string_view::npos ? sql.size() : j + 1;
      out.append(sql.substr(i, j - i));
      i = j;
    } else if (c == '-' && sql.substr(i, 2) == "--") {
      copyUntil(i, "\n");
    } else if (c == '/' && sql.substr(i, 2) == "/*") {
      copyUntil(i, "*/");
    } else if (c == '?') {
      size_t j = i + 1;
      while (j < sql.size() && sql[j] >= '0' && sql[j] <= '9') ++j;
      int n = j > i + 1 ? std::atoi(std::string(sql.substr(i + 1, j - i - 1)).c_str()) : highest + 1;
      if (n > highest) highest = n;
      out += '$';
      out += std::to_string(n);
      i = j;
    } else {
      out += c;
      ++i;
    }
  }
  if (count) *count = highest;
  return out;
}

std::string ServerName(PGconn* conn) {
  if (!conn) return {};
  const char* host = PQhost(conn);
  const char* port = PQport(conn);
  const char* db = PQdb(conn);
  std::string name = host && *host ? host : "localhost";
  if (port && *port) name += std::string(":") + port;
  if (db && *db) name += std::string("/") + db;
  return name;
}

std::string Message(PGconn* conn, const PGresult* result) {
  const char* m = result ? PQresultErrorMessage(result) : nullptr;
  const std::string_view raw = m && *m ? m : (conn ? PQerrorMessage(conn) : "");
  // One line for the log: libpq indents its hint lines with a tab.
  std::string s;
  for (char c : raw) {
    const bool blank = c == '\n' || c == '\t' || c == '\r' || c == ' ';
    if (!blank)
      s += c;
    else if (!s.empty() && s.back() != ' ')
      s += ' ';
  }
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

Connection Connection::Open(const std::string& url, int timeoutSeconds, std::string* error) {
  // An address's own settings come later in the expansion and win.
  const std::string timeout = std::to_string(timeoutSeconds);
  // Keep-alives notice a server that went away in the middle of a run.
  const char* keys[] = {"connect_timeout", "fallback_application_name", "client_encoding", "keepalives_idle",
                        "keepalives_interval", "keepalives_count", "dbname", nullptr};
  const char* values[] = {timeout.c_str(), "orvo", "UTF8", "30", "10", "3", url.c_str(), nullptr};
  Connection c;
  c.conn_.reset(PQconnectdbParams(keys, values, 1));
  if (!c.conn_ || PQstatus(c.conn_.get()) != CONNECTION_OK) {
    if (error) *error = c.conn_ ? Message(c.conn_.get(), nullptr) : "out of memory";
    c.conn_.reset();
  } else {
    PQsetNoticeReceiver(c.conn_.get(), ReceiveNotice, nullptr);
  }
  return c;
}

Result Connection::Exec(std::string_view sql, const std::vector<Param>& params) const {
  Bound b(params);
  std::string text(sql);
  return Result(PQexecParams(conn_.get(), text.c_str(), static_cast<int>(params.size()), b.types.data(),
                             b.values.data(), b.lengths.data(), b.formats.data(), 0));
}

bool Connection::SendRowByRow(std::string_view sql, const std::vector<Param>& params) const {
  Bound b(params);
  std::string text(sql);
  if (!PQsendQueryParams(conn_.get(), text.c_str(), static_cast<int>(params.size()), b.types.data(), b.values.data(),
                         b.lengths.data(), b.formats.data(), 0))
    return false;
  PQsetSingleRowMode(conn_.get());
  return true;
}

}  // namespace orvo::pg
