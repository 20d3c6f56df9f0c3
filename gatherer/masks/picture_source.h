// Picture addresses of IMG elements, for automatic extraction and feeds.
#pragma once

#include <string>

#include "gatherer/masks/html_document.h"

namespace orvo {

// The address of a picture: src, or a lazy-loading attribute when src is
// missing or a placeholder; empty when the element names no usable picture.
std::string PictureSource(const HtmlDocument& page, int img);

}  // namespace orvo
