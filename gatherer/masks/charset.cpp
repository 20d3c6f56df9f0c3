#include "gatherer/masks/charset.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "gatherer/masks/text_util.h"

namespace orvo {

namespace {

const CharsetAlias kTable[] = {
    {"us-ascii", 1252}, {"iso8859-1", 1252}, {"ascii", 1252}, {"iso_8859-1", 1252},
    {"iso-8859-1", 1252}, {"ANSI_X3.4-1968", 1252}, {"iso-ir-6", 1252},
    {"ANSI_X3.4-1986", 1252}, {"ISO_646.irv:1991", 1252}, {"ISO646-US", 1252}, {"us", 1252},
    {"IBM367", 1252}, {"cp367", 1252}, {"csASCII", 1252}, {"latin1", 1252},
    {"iso_8859-1:1987", 1252}, {"iso-ir-100", 1252}, {"ibm819", 1252}, {"cp819", 1252},
    {"Windows-1252", 1252},
    {"iso8859-2", 28592}, {"iso-8859-2", 28592}, {"iso_8859-2", 28592}, {"latin2", 28592},
    {"iso_8859-2:1987", 28592}, {"iso-ir-101", 28592}, {"l2", 28592}, {"csISOLatin2", 28592},
    {"windows-1250", 1250}, {"x-cp1250", 1250},
    {"windows-1251", 1251}, {"x-cp1251", 1251},
    {"windows-1253", 1253},
    {"windows-1254", 1254},
    {"shift_jis", 932}, {"shift-jis", 932}, {"x-sjis", 932}, {"ms_Kanji", 932}, {"csShiftJIS", 932},
    {"windows-1257", 1257},
    {"big5", 950}, {"csbig5", 950}, {"x-x-big5", 950},
    {"GB_2312-80", 936}, {"iso-ir-58", 936}, {"chinese", 936}, {"csISO58GB231280", 936},
    {"csGB2312", 936}, {"gb2312", 936},
    {"csKOI8R", 20866}, {"koi8-r", 20866},
    {"ks_c_5601", 949}, {"ksc_5601", 949}, {"ks_c_5601-1987", 949}, {"korean", 949},
    {"csKSC56011987", 949}, {"euc-kr", 949}, {"csEUCKR", 949}, {"ISO-2022-KR", 949},
    {"csISO2022KR", 949},
    {"ISO_8859-8:1988", 1255}, {"iso-ir-138", 1255}, {"ISO_8859-8", 1255}, {"ISO-8859-8", 1255},
    {"hebrew", 1255}, {"csISOLatinHebrew", 1255},
    {"Windows-1256", 1256},
    {"Windows-874", 874},
    {"Windows-1258", 1258},
    {nullptr, -1},
};

// Labels browsers read with a wider decoder than their name says (a page
// labelled latin-1 is written in windows-1252 in practice, gb2312 in GBK).
struct LabelMap {
  const char* label;
  const char* decoder;
};
const LabelMap kDecoders[] = {
    {"utf-8", "UTF-8"}, {"utf8", "UTF-8"}, {"unicode-1-1-utf-8", "UTF-8"},
    {"iso-8859-1", "WINDOWS-1252"}, {"iso8859-1", "WINDOWS-1252"}, {"iso_8859-1", "WINDOWS-1252"},
    {"latin1", "WINDOWS-1252"}, {"l1", "WINDOWS-1252"}, {"us-ascii", "WINDOWS-1252"},
    {"ascii", "WINDOWS-1252"}, {"cp819", "WINDOWS-1252"}, {"ibm819", "WINDOWS-1252"},
    {"iso-ir-100", "WINDOWS-1252"}, {"windows-1252", "WINDOWS-1252"}, {"cp1252", "WINDOWS-1252"},
    {"x-cp1252", "WINDOWS-1252"}, {"iso_8859-1:1987", "WINDOWS-1252"},
    {"csisolatin1", "WINDOWS-1252"},
    {"gb2312", "GB18030"}, {"gbk", "GB18030"}, {"x-gbk", "GB18030"}, {"chinese", "GB18030"},
    {"csgb2312", "GB18030"}, {"gb_2312-80", "GB18030"}, {"gb_2312", "GB18030"},
    {"iso-ir-58", "GB18030"}, {"csiso58gb231280", "GB18030"}, {"gb18030", "GB18030"},
    {"iso-8859-9", "WINDOWS-1254"}, {"latin5", "WINDOWS-1254"}, {"iso8859-9", "WINDOWS-1254"},
    {"tis-620", "CP874"}, {"iso-8859-11", "CP874"}, {"windows-874", "CP874"},
    {"x-cp1250", "WINDOWS-1250"}, {"x-cp1251", "WINDOWS-1251"},
    {"ks_c_5601-1987", "CP949"}, {"euc-kr", "CP949"}, {"korean", "CP949"},
    {"x-sjis", "SHIFT_JIS"}, {"shift-jis", "SHIFT_JIS"}, {"ms_kanji", "SHIFT_JIS"},
    {"big5", "BIG5-HKSCS"}, {"x-x-big5", "BIG5-HKSCS"},
    {"x-mac-roman", "MACINTOSH"},
};

// windows-1252 bytes 0x80..0x9F; 0 marks the five unassigned ones.
const char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t Cp1252Char(unsigned char b) {
  if (b >= 0x80 && b <= 0x9F) {
    char16_t c = kCp1252High[b - 0x80];
    return c ? c : 0xFFFD;
  }
  return b;
}

// UTF-8 as is; each byte that is not part of a well-formed sequence is read
// as a windows-1252 character.
std::string LenientUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 16);
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t n = s.size(), i = 0;
  while (i < n) {
    size_t run = i;
    while (run < n && p[run] < 0x80) ++run;
    out.append(s.data() + i, run - i);
    i = run;
    if (i >= n) break;
    unsigned char c = p[i];
    size_t len = 0;
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    else if (c >= 0xE0 && c <= 0xEF) len = 3;
    else if (c >= 0xF0 && c <= 0xF4) len = 4;
    bool ok = len > 0 && i + len <= n && IsValidUtf8(s.substr(i, len));
    if (ok) {
      out.append(s.data() + i, len);
      i += len;
    } else {
      AppendUtf8(out, Cp1252Char(c));
      ++i;
    }
  }
  return out;
}

std::string Cp1252ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 8);
  for (unsigned char c : s) AppendUtf8(out, Cp1252Char(c));
  return out;
}

std::string DecoderFor(std::string_view label) {
  std::string lower = AsciiLower(TrimCopy(label));
  for (const auto& m : kDecoders)
    if (lower == m.label) return m.decoder;
  return AsciiUpper(lower);
}

bool IconvToUtf8(std::string_view bytes, const std::string& from, std::string& out) {
  iconv_t cd = iconv_open("UTF-8", from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.clear();
  out.reserve(bytes.size() * 2);
  char buf[16384];
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  while (in_left > 0) {
    char* o = buf;
    size_t o_left = sizeof buf;
    size_t r = iconv(cd, &in, &in_left, &o, &o_left);
    out.append(buf, size_t(o - buf));
    if (r == size_t(-1)) {
      if (errno == E2BIG) continue;
      // Invalid or truncated sequence: one replacement character per byte.
      AppendUtf8(out, 0xFFFD);
      ++in;
      --in_left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return true;
}

// Attribute value of one tag's text (after the tag name); name lower-case.
// Returns the offset and length of the value within tag, or npos.
std::pair<size_t, size_t> TagAttribute(std::string_view tag, std::string_view name) {
  size_t p = 0;
  const size_t n = tag.size();
  while (p < n) {
    while (p < n && (IsAsciiSpace(tag[p]) || tag[p] == '/')) ++p;
    size_t name_start = p;
    while (p < n && !IsAsciiSpace(tag[p]) && tag[p] != '=' && tag[p] != '>' && tag[p] != '/') ++p;
    std::string_view attr = tag.substr(name_start, p - name_start);
    while (p < n && IsAsciiSpace(tag[p])) ++p;
    size_t value_start = p, value_len = 0;
    if (p < n && tag[p] == '=') {
      ++p;
      while (p < n && IsAsciiSpace(tag[p])) ++p;
      if (p < n && (tag[p] == '"' || tag[p] == '\'')) {
        char q = tag[p++];
        value_start = p;
        while (p < n && tag[p] != q) ++p;
        value_len = p - value_start;
        if (p < n) ++p;
      } else {
        value_start = p;
        while (p < n && !IsAsciiSpace(tag[p]) && tag[p] != '>') ++p;
        value_len = p - value_start;
      }
    }
    if (attr == name) return {value_start, value_len};
    if (attr.empty() && p == name_start) ++p;  // stray character: step over it
  }
  return {std::string_view::npos, 0};
}

std::string CharsetFromContentType(std::string_view content) {
  std::string lower = AsciiLower(content);
  size_t p = lower.find("charset");
  if (p == std::string::npos) return {};
  p += 7;
  while (p < lower.size() && IsAsciiSpace(lower[p])) ++p;
  if (p >= lower.size() || lower[p] != '=') return {};
  ++p;
  while (p < lower.size() && (IsAsciiSpace(lower[p]) || lower[p] == '"' || lower[p] == '\''))
    ++p;
  size_t e = p;
  while (e < lower.size() && !IsAsciiSpace(lower[e]) && lower[e] != ';' && lower[e] != '"' &&
         lower[e] != '\'')
    ++e;
  return std::string(content.substr(p, e - p));
}

}  // namespace

const CharsetAlias* CharsetTable() { return kTable; }

int CodePageForCharset(std::string_view name) {
  for (const CharsetAlias* row = kTable; row->code_page != -1; ++row)
    if (name.find(row->alias) != std::string_view::npos) return row->code_page;
  return kDefaultCodePage;
}

std::string SniffCharset(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return "utf-8";
  if (bytes.substr(0, 2) == "\xFF\xFE") return "utf-16le";
  if (bytes.substr(0, 2) == "\xFE\xFF") return "utf-16be";
  // Browsers look only at the start of the page for a declaration.
  std::string head = AsciiLower(bytes.substr(0, 16384));
  if (head.compare(0, 5, "<?xml") == 0) {
    size_t end = head.find("?>");
    if (end == std::string::npos) end = head.size();
    auto [at, len] = TagAttribute(std::string_view(head).substr(5, end - 5), "encoding");
    if (at != std::string_view::npos && len > 0) return TrimCopy(bytes.substr(5 + at, len));
  }
  size_t pos = 0;
  while ((pos = head.find("<meta", pos)) != std::string::npos) {
    size_t end = head.find('>', pos);
    if (end == std::string::npos) break;
    std::string_view tag(head.data() + pos + 5, end - pos - 5);
    std::string_view original(bytes.data() + pos + 5, end - pos - 5);
    pos = end;
    auto [cs_at, cs_len] = TagAttribute(tag, "charset");
    if (cs_at != std::string_view::npos && cs_len > 0) return TrimCopy(original.substr(cs_at, cs_len));
    auto [he_at, he_len] = TagAttribute(tag, "http-equiv");
    if (he_at != std::string_view::npos && TrimCopy(tag.substr(he_at, he_len)) == "content-type") {
      auto [c_at, c_len] = TagAttribute(tag, "content");
      if (c_at != std::string_view::npos) {
        std::string from = CharsetFromContentType(original.substr(c_at, c_len));
        if (!from.empty()) return from;
      }
    }
  }
  return {};
}

bool ConvertToUtf8(std::string_view bytes, std::string_view charset, std::string& out) {
  std::string decoder = DecoderFor(charset);
  if (decoder == "UTF-8") {
    out = IsValidUtf8(bytes) ? std::string(bytes) : LenientUtf8(bytes);
    return true;
  }
  if (decoder == "WINDOWS-1252") {
    out = Cp1252ToUtf8(bytes);
    return true;
  }
  if (IconvToUtf8(bytes, decoder, out)) return true;
  out.clear();
  return false;
}

DecodedPage DecodePage(std::string_view bytes, std::string_view header_charset) {
  DecodedPage page;
  std::string_view body = bytes;
  std::string bom;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    bom = "UTF-8";
    body = bytes.substr(3);
  } else if (bytes.substr(0, 2) == "\xFF\xFE") {
    bom = "UTF-16LE";
    body = bytes.substr(2);
  } else if (bytes.substr(0, 2) == "\xFE\xFF") {
    bom = "UTF-16BE";
    body = bytes.substr(2);
  }
  page.declared_charset = TrimCopy(header_charset);
  if (page.declared_charset.empty()) page.declared_charset = SniffCharset(body);

  std::string decoder = bom;
  if (decoder.empty() && !page.declared_charset.empty()) {
    decoder = DecoderFor(page.declared_charset);
    // A page whose bytes we are reading as ASCII cannot really be UTF-16.
    if (decoder.rfind("UTF-16", 0) == 0) decoder = "UTF-8";
  }
  if (decoder.empty()) decoder = IsValidUtf8(body) ? "UTF-8" : "WINDOWS-1252";
  // A legacy label on bytes that are UTF-8 all through, letters beyond ASCII
  // included, outlived a move to UTF-8 (an old template's meta, a server
  // default): text of a legacy charset is hardly ever valid UTF-8 by chance.
  if (bom.empty() && decoder != "UTF-8" &&
      std::any_of(body.begin(), body.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }) &&
      IsValidUtf8(body))
    decoder = "UTF-8";
  if (!ConvertToUtf8(body, decoder, page.text)) {
    // Unknown to iconv: read it the way an unlabelled page is read.
    decoder = IsValidUtf8(body) ? "UTF-8" : "WINDOWS-1252";
    ConvertToUtf8(body, decoder, page.text);
  }
  page.used_charset = decoder;
  return page;
}

}  // namespace orvo
