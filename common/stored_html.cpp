#include "stored_html.h"

#include <cctype>

#include "platform.h"
#include "text.h"

namespace orvo {

namespace {

struct NamedReference {
  std::string_view name;
  char32_t code;
};

// The references pages and our own markup use; a name outside the list is
// not taken as one (its "&" shows as written).
constexpr NamedReference kNamed[] = {
    {"amp", '&'},      {"lt", '<'},       {"gt", '>'},       {"quot", '"'},     {"apos", '\''},
    {"nbsp", 0xA0},    {"shy", 0xAD},     {"ndash", 0x2013}, {"mdash", 0x2014}, {"hellip", 0x2026},
    {"laquo", 0xAB},   {"raquo", 0xBB},   {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C},
    {"rdquo", 0x201D}, {"bdquo", 0x201E}, {"copy", 0xA9},    {"reg", 0xAE},     {"trade", 0x2122},
    {"euro", 0x20AC},  {"bull", 0x2022},  {"middot", 0xB7},  {"deg", 0xB0},     {"times", 0xD7},
};

bool XmlCodePoint(char32_t c) {
  if (c < 0x20) return c == '\t' || c == '\n' || c == '\r';
  return c <= 0x10FFFF && !(c >= 0xD800 && c < 0xE000) && c != 0xFFFE && c != 0xFFFF;
}

// The character reference at s[i] ("&...;"): its code point and length, or
// length 0 when none stands there.
struct Reference {
  char32_t code = 0;
  size_t length = 0;
};

Reference ReadReference(std::string_view s, size_t i) {
  size_t semi = s.find(';', i + 1);
  if (semi == std::string_view::npos || semi - i > 12 || semi == i + 1) return {};
  std::string_view name = s.substr(i + 1, semi - i - 1);
  if (name[0] == '#') {
    bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
    std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) return {};
    char32_t c = 0;
    for (char d : digits) {
      int v = std::isdigit(static_cast<unsigned char>(d)) ? d - '0'
              : hex && std::isxdigit(static_cast<unsigned char>(d))
                  ? std::tolower(static_cast<unsigned char>(d)) - 'a' + 10
                  : -1;
      if (v < 0) return {};
      c = c * (hex ? 16 : 10) + static_cast<char32_t>(v);
      if (c > 0x10FFFF) return {};
    }
    if (!XmlCodePoint(c)) return {};
    return {c, semi - i + 1};
  }
  for (const NamedReference& n : kNamed)
    if (n.name == name) return {n.code, semi - i + 1};
  return {};
}

// Length of the line break tag at s[i] ("<br />", "<br>", "<br clear="left" />"), or 0.
size_t BreakTagLength(std::string_view s, size_t i) {
  if (s.size() < i + 4 || (s[i + 1] != 'b' && s[i + 1] != 'B') || (s[i + 2] != 'r' && s[i + 2] != 'R')) return 0;
  char after = s[i + 3];
  if (after != '>' && after != '/' && !std::isspace(static_cast<unsigned char>(after))) return 0;
  size_t end = s.find('>', i + 3);
  if (end == std::string_view::npos || end - i > 64) return 0;
  if (s.substr(i + 3, end - i - 3).find('<') != std::string_view::npos) return 0;
  return end - i + 1;
}

// Appends the character at s[i] if XML can carry it; malformed UTF-8 gives
// U+FFFD. Returns the bytes taken.
size_t AppendChecked(std::string& out, std::string_view s, size_t i) {
  size_t len = XmlCharLength(s, i);
  if (len == 0) {
    if (static_cast<unsigned char>(s[i]) >= 0x80) out += "\xEF\xBF\xBD";
    return 1;
  }
  out.append(s.substr(i, len));
  return len;
}

}  // namespace

size_t XmlCharLength(std::string_view s, size_t i) {
  unsigned char b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) return XmlCodePoint(b) ? 1 : 0;
  size_t len = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (len == 0 || i + len > s.size()) return 0;
  char32_t c = b & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) {
    unsigned char cb = static_cast<unsigned char>(s[i + k]);
    if ((cb & 0xC0) != 0x80) return 0;
    c = (c << 6) | (cb & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kMin[len] || !XmlCodePoint(c)) return 0;
  return len;
}

std::string StoredHtmlMarkup(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 16);
  for (size_t i = 0; i < s.size();) {
    char c = s[i];
    if (c == '&') {
      Reference r = ReadReference(s, i);
      if (r.length == 0) {
        out += "&amp;";
        ++i;
      } else {
        // The five XML knows by name keep theirs; any other is numeric, as
        // XHTML without a DTD knows no other names.
        switch (r.code) {
          case '&': out += "&amp;"; break;
          case '<': out += "&lt;"; break;
          case '>': out += "&gt;"; break;
          case '"': out += "&quot;"; break;
          case '\'': out += "&#39;"; break;
          default: out += "&#" + std::to_string(static_cast<uint32_t>(r.code)) + ";";
        }
        i += r.length;
      }
    } else if (c == '<') {
      size_t br = BreakTagLength(s, i);
      out += br ? "<br />" : "&lt;";
      i += br ? br : 1;
    } else if (c == '>') {
      out += "&gt;";
      ++i;
    } else if (c == '"') {
      out += "&quot;";
      ++i;
    } else {
      i += AppendChecked(out, s, i);
    }
  }
  return out;
}

std::string StoredHtmlText(std::string_view s, std::string_view lineBreak) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    if (s[i] == '&') {
      if (Reference r = ReadReference(s, i); r.length) {
        AppendUtf8(out, r.code);
        i += r.length;
        continue;
      }
    } else if (s[i] == '<') {
      if (size_t br = BreakTagLength(s, i)) {
        out += lineBreak;
        i += br;
        continue;
      }
    }
    i += AppendChecked(out, s, i);
  }
  return out;
}

std::string CutStoredHtml(std::string_view stored, size_t maxChars) {
  std::string cut = CutChars(stored, maxChars);
  if (cut.size() == stored.size()) return cut;
  size_t from = std::string::npos;
  size_t lt = cut.rfind('<');
  if (lt != std::string::npos && cut.find('>', lt) == std::string::npos) from = lt;
  size_t amp = cut.rfind('&');
  if (amp != std::string::npos && cut.size() - amp <= 12) {
    bool partial = true;
    for (size_t k = amp + 1; k < cut.size() && partial; ++k)
      partial = std::isalnum(static_cast<unsigned char>(cut[k])) || cut[k] == '#';
    if (partial && ReadReference(stored, amp).length) from = std::min(from, amp);
  }
  size_t ph = cut.rfind("[[{");
  if (ph != std::string::npos && cut.find("}]]", ph) == std::string::npos) from = std::min(from, ph);
  // A placeholder whose "[[{" itself is cut apart.
  for (size_t k = cut.size() >= 2 ? cut.size() - 2 : 0; k < cut.size(); ++k)
    if (stored.compare(k, 3, "[[{") == 0) from = std::min(from, k);
  if (from != std::string::npos) cut.erase(from);
  return cut;
}

}  // namespace orvo
