// The mask model: turning a stored mask (hexadecimal text) or an author's HTML
// into a parsed mask document with its head values and form fields.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "gatherer/masks/html_document.h"

namespace orvo {

enum class MaskPhase { kList, kNews };

enum class MaskLoadOutcome {
  kLoaded,
  kMarkup,   // the text could not be turned into a document
  kElement,  // the document's body has no element child
};

// The failure word that goes into "ERROR loading mask : %s".
const char* MaskFailureName(MaskLoadOutcome outcome);

struct FormField {
  std::string name;
  std::string value;
};

struct Mask {
  HtmlDocument document;
  int head = -1;  // first element child of the body
  // Head values, set in the list phase only.
  std::string list_url;
  std::string date_in_url;
  std::vector<std::string> month_names;
  // PARAM elements of the first PRE among the body's element children.
  std::vector<FormField> form_fields;
};

struct MaskLoadResult {
  MaskLoadOutcome outcome = MaskLoadOutcome::kMarkup;
  Mask mask;
};

// Hex digit pairs to bytes. Upper- and lower-case digits are accepted; white
// space between pairs is ignored. False for an odd count or a non-digit.
bool HexToBytes(std::string_view hex, std::string& bytes);
// Bytes to upper-case hexadecimal, two digits per byte.
std::string BytesToHex(std::string_view bytes);

// Splits a MonthFrmt value at every "|": pieces lower-cased, an empty piece
// between separators kept, a separator at the very end adding nothing.
std::vector<std::string> SplitMonthNames(std::string_view value);

// Parses a mask as its author writes it (HTML, UTF-8 with stray bytes read
// as windows-1252).
MaskLoadResult LoadMaskHtml(std::string_view html, MaskPhase phase);
// Parses a mask as stored in the database (hexadecimal). Digits that do not
// form bytes give kMarkup.
MaskLoadResult LoadMaskHex(std::string_view hex, MaskPhase phase);

}  // namespace orvo
