// Stored news bodies and captions are HTML text: the page's text with its
// markup characters escaped, line breaks as "<br />", spaces and apostrophes
// as character references, pictures as "[[{N}]]". Whoever shows them takes
// them as markup, not as text to escape once more.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvo {

// Length of the well-formed UTF-8 sequence at s[i] whose code point XML
// allows, or 0.
size_t XmlCharLength(std::string_view s, size_t i);

// Stored HTML text as markup that is well-formed XHTML and HTML alike: line
// breaks become "<br />", character references stay (named ones become
// numeric), every other markup character is escaped (a stored "<b>" shows
// as text, a bare "&" as "&"), characters XML cannot carry are dropped and
// malformed UTF-8 becomes U+FFFD.
std::string StoredHtmlMarkup(std::string_view stored);

// The text stored HTML reads as, for places that take plain text (alt
// texts, titles, notifications): references decoded, line breaks as
// `lineBreak`.
std::string StoredHtmlText(std::string_view stored, std::string_view lineBreak = " ");

// The first maxChars characters of stored HTML, cut where no character
// reference, tag or picture placeholder is split.
std::string CutStoredHtml(std::string_view stored, size_t maxChars);

}  // namespace orvo
