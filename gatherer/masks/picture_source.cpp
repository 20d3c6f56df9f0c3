// The address of a picture as a browser would load it: src, else one of the
// lazy-loading attributes sites set while src holds a placeholder.
#include "gatherer/masks/picture_source.h"

#include <initializer_list>

#include "gatherer/masks/text_util.h"
#include "gatherer/masks/url.h"

namespace orvo {

namespace {

bool IsDataAddress(std::string_view lower) { return lower.substr(0, 5) == "data:"; }

bool IsPlaceholderSource(std::string_view src) {
  if (src.empty()) return true;
  const std::string s = AsciiLower(src);
  if (IsDataAddress(s)) return true;
  for (std::string_view word : {"placeholder", "blank.gif", "spacer", "lazy", "1x1", "pixel.gif", "transparent.gif",
                                "grey.gif", "loading"})
    if (s.find(word) != std::string::npos) return true;
  return false;
}

// The largest (else the last) address of a srcset value.
std::string FromSrcset(std::string_view srcset) {
  std::string best;
  int best_width = -1;
  size_t pos = 0;
  while (pos < srcset.size()) {
    size_t comma = srcset.find(", ", pos);
    std::string_view item = srcset.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
    pos = comma == std::string_view::npos ? srcset.size() : comma + 2;
    item = TrimView(item);
    size_t sp = item.find(' ');
    std::string_view url = item.substr(0, sp);
    int width = sp == std::string_view::npos ? 0 : LeadingInt(TrimView(item.substr(sp)));
    if (url.empty()) continue;
    if (width >= best_width) {
      best_width = width;
      best = std::string(url);
    }
  }
  return best;
}

}  // namespace

std::string PictureSource(const HtmlDocument& page, int img) {
  std::string src = page.Attribute(img, "src");
  size_t slash = src.rfind('/');
  std::string_view file = slash == std::string::npos ? std::string_view(src) : std::string_view(src).substr(slash);
  if (src.empty() || IsDataAddress(AsciiLower(src)) || IsPlaceholderSource(file)) {
    std::string lazy;
    for (const char* a : {"data-src", "data-lazy-src", "data-original", "data-url", "data-lazy", "data-hi-res-src"}) {
      lazy = TrimCopy(page.Attribute(img, a));
      if (!lazy.empty()) break;
    }
    if (lazy.empty()) lazy = FromSrcset(page.Attribute(img, "data-srcset"));
    if (lazy.empty()) lazy = FromSrcset(page.Attribute(img, "srcset"));
    if (lazy.empty()) return {};
    src = ResolveUrl(page.BaseUrl(), lazy);
  }
  if (src.empty() || IsDataAddress(AsciiLower(src))) return {};
  // Tracking pixels and icons are no pictures of the news.
  for (const char* dim : {"width", "height"}) {
    std::string v = page.Attribute(img, dim);
    if (!v.empty() && v.find('%') == std::string::npos && LeadingInt(v) > 0 && LeadingInt(v) < 50) return {};
  }
  return src;
}

}  // namespace orvo
