// Automatic extraction's main text block and the body composed from it.
#pragma once

#include "gatherer/masks/extraction.h"
#include "gatherer/masks/html_document.h"

namespace orvo::autoextract {

struct PageFigures;

// Chooses the page's main text block and appends its text and pictures to
// state.body and state.images, as a mask walk composes them. strict: names
// of furniture (navigation, comments, sharing) leave out whole subtrees.
// Gives the chosen block, -1 when the page has none.
int ComposeMainText(const HtmlDocument& page, const PageFigures& fig, bool strict, ExtractionState& state);

}  // namespace orvo::autoextract
