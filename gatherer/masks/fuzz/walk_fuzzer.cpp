// libFuzzer target: one input is a page and a mask, split at the first NUL
// byte; the first byte chooses the phase and the page's charset.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "gatherer/masks/extraction.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool list = data[0] & 1;
  const char* charsets[] = {"", "utf-8", "gb2312", "iso-8859-2", "x-unknown"};
  std::string_view charset = charsets[(data[0] >> 1) % 5];
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  size_t split = rest.find('\0');
  std::string_view mask_text = split == std::string_view::npos ? rest : rest.substr(0, split);
  std::string_view page_bytes =
      split == std::string_view::npos ? std::string_view() : rest.substr(split + 1);

  using namespace orvo;
  MaskLoadResult loaded = LoadMaskHtml(mask_text, list ? MaskPhase::kList : MaskPhase::kNews);
  HtmlDocument page = HtmlDocument::FromBytes(page_bytes, charset, "http://fuzz.example/a/b.html");
  ExtractionState state;
  state.list_phase = list;
  state.load_images = data[0] & 64;
  state.BeginPage(DateTime::Make(2026, 1, 1));
  WalkPage(page, loaded.mask, state);
  ApplyLinkDates(loaded.mask, 7, DateTime::Make(2026, 1, 1), state);
  FinishNewsItem(state, page.Url());
  for (int e = 0; e < page.ElementCount(); e += 5) {
    page.InnerText(e);
    page.AdjacentText(e, AdjacentPosition::kBeforeBegin);
  }
  DateTime d = DateTime::Zero();
  ParseDate(page_bytes.substr(0, 64), mask_text.substr(0, 16), loaded.mask.month_names, d, 2026);
  return 0;
}
