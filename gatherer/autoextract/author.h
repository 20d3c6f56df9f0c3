// Automatic extraction's author: a person's name (or an agency) from the
// article's structured data, author markup or byline; empty when the page
// names none.
#pragma once

#include <string>

#include "gatherer/masks/html_document.h"

namespace orvo::autoextract {

struct PageFigures;

// main_block (-1: none) is the chosen text, whose end may credit an agency.
std::string AuthorOf(const HtmlDocument& page, const PageFigures& fig, int main_block);

}  // namespace orvo::autoextract
