// Automatic extraction's publication date.
#pragma once

#include <string_view>

#include "gatherer/masks/date_parse.h"
#include "gatherer/masks/html_document.h"

namespace orvo::autoextract {

struct PageFigures;

// The page's publication date from its head, <time> elements, address or
// shown text; status null when none was read. fig may be null.
DateTime DateOf(const HtmlDocument& page, const PageFigures* fig);
// The first date a text shows ("21.10.2019", "5. März 2024, 14:30 Uhr",
// "March 5th, 2024", "2024-03-05"), read through the date parser.
bool ReadShownDate(std::string_view text, DateTime& out);

}  // namespace orvo::autoextract
