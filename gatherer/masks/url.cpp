#include "gatherer/masks/url.h"

#include <cctype>

#include "gatherer/masks/text_util.h"

namespace orvo {

namespace {

struct UrlParts {
  std::string scheme;  // without ':'
  bool has_authority = false;
  std::string authority;
  std::string path;
  bool has_query = false;
  std::string query;
  bool has_fragment = false;
  std::string fragment;
};

bool IsSchemeChar(char c, bool first) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  if (first) return false;
  return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

UrlParts Split(std::string_view s) {
  UrlParts u;
  size_t i = 0;
  while (i < s.size() && IsSchemeChar(s[i], i == 0)) ++i;
  if (i > 0 && i < s.size() && s[i] == ':') {
    u.scheme = AsciiLower(s.substr(0, i));
    s.remove_prefix(i + 1);
  }
  size_t hash = s.find('#');
  if (hash != std::string_view::npos) {
    u.has_fragment = true;
    u.fragment = s.substr(hash + 1);
    s = s.substr(0, hash);
  }
  size_t q = s.find('?');
  if (q != std::string_view::npos) {
    u.has_query = true;
    u.query = s.substr(q + 1);
    s = s.substr(0, q);
  }
  if (s.substr(0, 2) == "//") {
    u.has_authority = true;
    size_t slash = s.find('/', 2);
    if (slash == std::string_view::npos) slash = s.size();
    u.authority = s.substr(2, slash - 2);
    s.remove_prefix(slash);
  }
  u.path = s;
  return u;
}

std::string RemoveDotSegments(std::string_view in) {
  std::string out;
  while (!in.empty()) {
    if (in.substr(0, 3) == "../") {
      in.remove_prefix(3);
    } else if (in.substr(0, 2) == "./") {
      in.remove_prefix(2);
    } else if (in.substr(0, 3) == "/./") {
      in.remove_prefix(2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.substr(0, 4) == "/../" || in == "/..") {
      in = in.size() == 3 ? std::string_view("/") : in.substr(3);
      size_t last = out.rfind('/');
      out.erase(last == std::string::npos ? 0 : last);
    } else if (in == "." || in == "..") {
      in = {};
    } else {
      size_t start = in[0] == '/' ? 1 : 0;
      size_t next = in.find('/', start);
      if (next == std::string_view::npos) next = in.size();
      out.append(in.substr(0, next));
      in.remove_prefix(next);
    }
  }
  return out;
}

std::string Join(const UrlParts& u) {
  std::string out;
  if (!u.scheme.empty()) out += u.scheme + ":";
  if (u.has_authority) out += "//" + u.authority;
  out += u.path;
  if (u.has_query) out += "?" + u.query;
  if (u.has_fragment) out += "#" + u.fragment;
  return out;
}

std::string Clean(std::string_view s) {
  std::string out;
  for (char c : TrimView(s))
    if (c != '\t' && c != '\n' && c != '\r') out += c;
  return out;
}

bool IsSpecialScheme(std::string_view scheme) {
  return scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "ws" || scheme == "wss" ||
         scheme == "file";
}

std::string_view SchemeOf(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsSchemeChar(s[i], i == 0)) ++i;
  return i > 0 && i < s.size() && s[i] == ':' ? s.substr(0, i) : std::string_view();
}

// Browsers read a backslash as a slash in the address part of the special
// schemes (not in the query or the fragment).
void SlashBackslashes(std::string& s) {
  size_t end = s.find_first_of("?#");
  if (end == std::string::npos) end = s.size();
  for (size_t i = 0; i < end; ++i)
    if (s[i] == '\\') s[i] = '/';
}

// Percent-encodes what may not stand in that part of an address: controls,
// space, bytes beyond ASCII and the characters of `extra`. A "%" stays.
std::string Encode(std::string_view s, std::string_view extra) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    if (c <= 0x20 || c >= 0x7F || extra.find(static_cast<char>(c)) != std::string_view::npos) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The host in lower case (user and port as they are), the rest encoded.
void Normalize(UrlParts& u) {
  if (u.has_authority) {
    size_t at = u.authority.rfind('@');
    size_t host = at == std::string::npos ? 0 : at + 1;
    for (size_t i = host; i < u.authority.size(); ++i)
      u.authority[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(u.authority[i])));
    u.authority = Encode(u.authority, "\"<>`{}|^");
  }
  u.path = Encode(u.path, "\"<>`{}");
  u.query = Encode(u.query, "\"<>'");
  u.fragment = Encode(u.fragment, "\"<>`");
}

std::string Finish(UrlParts& u) {
  if (IsSpecialScheme(u.scheme)) Normalize(u);
  return Join(u);
}

}  // namespace

std::string ResolveUrl(std::string_view base_text, std::string_view reference) {
  std::string ref_text = Clean(reference);
  std::string base_clean = Clean(base_text);
  const std::string_view own_scheme = SchemeOf(ref_text);
  if (IsSpecialScheme(AsciiLower(own_scheme.empty() ? SchemeOf(base_clean) : own_scheme)))
    SlashBackslashes(ref_text);
  if (IsSpecialScheme(AsciiLower(SchemeOf(base_clean)))) SlashBackslashes(base_clean);
  UrlParts ref = Split(ref_text);
  if (!ref.scheme.empty()) {
    // Only hierarchical addresses get their dot segments removed.
    if (ref.has_authority) {
      ref.path = RemoveDotSegments(ref.path);
      if (ref.path.empty() && (ref.scheme == "http" || ref.scheme == "https")) ref.path = "/";
    }
    return Finish(ref);
  }
  UrlParts base = Split(base_clean);
  if (base.scheme.empty() && !base.has_authority) return ref_text;

  UrlParts t;
  t.scheme = base.scheme;
  if (ref.has_authority) {
    t.has_authority = true;
    t.authority = ref.authority;
    t.path = RemoveDotSegments(ref.path);
    t.has_query = ref.has_query;
    t.query = ref.query;
  } else {
    t.has_authority = base.has_authority;
    t.authority = base.authority;
    if (ref.path.empty()) {
      t.path = base.path;
      t.has_query = ref.has_query || base.has_query;
      t.query = ref.has_query ? ref.query : base.query;
    } else {
      if (ref.path[0] == '/') {
        t.path = RemoveDotSegments(ref.path);
      } else {
        std::string merged;
        if (base.has_authority && base.path.empty()) {
          merged = "/" + ref.path;
        } else {
          size_t last = base.path.rfind('/');
          merged = (last == std::string::npos ? std::string() : base.path.substr(0, last + 1)) +
                   ref.path;
        }
        t.path = RemoveDotSegments(merged);
      }
      t.has_query = ref.has_query;
      t.query = ref.query;
    }
  }
  t.has_fragment = ref.has_fragment;
  t.fragment = ref.fragment;
  if (t.has_authority && t.path.empty()) t.path = "/";
  return Finish(t);
}

}  // namespace orvo
