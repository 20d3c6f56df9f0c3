#include "gatherer/masks/mask.h"

#include "gatherer/masks/charset.h"
#include "gatherer/masks/text_util.h"

namespace orvo {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

const char* MaskFailureName(MaskLoadOutcome outcome) {
  switch (outcome) {
    case MaskLoadOutcome::kMarkup:
      return "Markup";
    case MaskLoadOutcome::kElement:
      return "Element";
    case MaskLoadOutcome::kLoaded:
      break;
  }
  return "";
}

bool HexToBytes(std::string_view hex, std::string& bytes) {
  bytes.clear();
  bytes.reserve(hex.size() / 2);
  int high = -1;
  for (char c : hex) {
    if (IsAsciiSpace(c)) {
      if (high >= 0) return false;
      continue;
    }
    int v = HexValue(c);
    if (v < 0) return false;
    if (high < 0) {
      high = v;
    } else {
      bytes += char(high * 16 + v);
      high = -1;
    }
  }
  return high < 0;
}

std::string BytesToHex(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::vector<std::string> SplitMonthNames(std::string_view value) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start < value.size()) {
    size_t bar = value.find('|', start);
    if (bar == std::string_view::npos) bar = value.size();
    names.push_back(Utf8Lower(value.substr(start, bar - start)));
    start = bar + 1;
  }
  return names;
}

MaskLoadResult LoadMaskHtml(std::string_view html, MaskPhase phase) {
  MaskLoadResult result;
  std::string text;
  ConvertToUtf8(html, "utf-8", text);
  // A mask is a fragment of a body: opening the body first keeps a leading
  // comment (or head-only tags) among the body's children.
  result.mask.document = HtmlDocument::Parse("<body>" + text);
  const HtmlDocument& doc = result.mask.document;
  if (!doc.HasTree()) {
    result.outcome = MaskLoadOutcome::kMarkup;
    return result;
  }
  std::span<const int> top = doc.Children(doc.Body());
  if (top.empty()) {
    result.outcome = MaskLoadOutcome::kElement;
    return result;
  }
  Mask& mask = result.mask;
  mask.head = top[0];
  if (phase == MaskPhase::kList) {
    mask.list_url = doc.Attribute(mask.head, "url");
    mask.date_in_url = doc.Attribute(mask.head, "dateInURL");
    mask.month_names = SplitMonthNames(doc.Attribute(mask.head, "MonthFrmt"));
  }
  for (int e : top) {
    if (doc.TagName(e) != "PRE") continue;
    for (int p : doc.Children(e))
      if (doc.TagName(p) == "PARAM")
        mask.form_fields.push_back({doc.Attribute(p, "pname"), doc.Attribute(p, "pvalue")});
    break;
  }
  result.outcome = MaskLoadOutcome::kLoaded;
  return result;
}

MaskLoadResult LoadMaskHex(std::string_view hex, MaskPhase phase) {
  std::string bytes;
  if (!HexToBytes(hex, bytes)) return MaskLoadResult{};
  return LoadMaskHtml(bytes, phase);
}

}  // namespace orvo
