// Automatic extraction's title: the headline that the page's title texts
// (<title>, og:title, structured data) and its headings agree on, without
// the site's name.
#pragma once

#include <string>

#include "gatherer/masks/html_document.h"

namespace orvo::autoextract {

struct PageFigures;

// fig may be null (the figures only keep very long headings out).
std::string TitleOf(const HtmlDocument& page, const PageFigures* fig);

}  // namespace orvo::autoextract
