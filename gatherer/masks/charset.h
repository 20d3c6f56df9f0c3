// Character sets: the code-page table that maps a charset name to a code page
// number, and the decoding of downloaded page bytes into UTF-8 text.
#pragma once

#include <string>
#include <string_view>

namespace orvo {

// UTF-8 is this system's ANSI code page: unknown names map to it.
constexpr int kDefaultCodePage = 65001;

// First table alias that occurs in name (case-sensitive substring, table
// order) gives the code page; no match gives kDefaultCodePage.
int CodePageForCharset(std::string_view name);

struct CharsetAlias {
  const char* alias;
  int code_page;
};
// The table itself, ended by a row with code page -1 (exposed for tests).
const CharsetAlias* CharsetTable();

struct DecodedPage {
  std::string text;              // UTF-8
  std::string declared_charset;  // as the header or the page names it; empty if none
  std::string used_charset;      // the decoder actually used
};

// Charset named by a <meta> tag, an XML declaration or a byte-order mark at the
// start of bytes; empty when the page names none.
std::string SniffCharset(std::string_view bytes);

// Decodes page bytes as a download does: a byte-order mark first, then the
// charset of the HTTP header, then the page's own declaration, and without
// any, UTF-8 when the bytes are valid UTF-8, else windows-1252. Bytes that do
// not decode become U+FFFD, except in pages labelled UTF-8, where a stray
// byte is read as windows-1252 (the usual fault of such pages).
DecodedPage DecodePage(std::string_view bytes, std::string_view header_charset = {});

// Converts bytes in the named charset to UTF-8 (same leniency as DecodePage).
// Returns false (and leaves out empty) when the charset is unknown.
bool ConvertToUtf8(std::string_view bytes, std::string_view charset, std::string& out);

}  // namespace orvo
