// One eBook volume as an EPUB 3 file (with an EPUB 2 table of contents for
// older readers), from the same volume the .lit writer gets: a cover page,
// the table of contents, one XHTML document per category block, the
// stylesheet and the pictures, zipped with `mimetype` first and stored.
#pragma once

#include <string>

#include "package.h"

namespace orvo {

struct EpubOptions {
  std::string stylesheet;  // the CSS text
  std::string language;    // BCP 47; empty: from the user's locale
  std::string identifier;  // empty: a fresh urn:uuid
  std::string coverPng;    // the cover picture; empty: a cover page of text only
};

// The language the volumes are marked with: the locale's (LC_ALL,
// LC_MESSAGES, LANG) as BCP 47, "en" when it names none.
std::string LocaleLanguage();

// Writes `model` to `outputPath` (through a temporary file beside it, so a
// failure leaves no half-written volume). 0 on success; otherwise 1 with
// the reason in *error.
int WriteEpubVolume(const VolumeModel& model, const EpubOptions& options, const std::string& outputPath,
                    std::string* error);

// The XHTML text of a stored body part (HTML text): its line breaks and
// character references take effect, any other markup shows as text.
std::string BodyXhtml(std::string_view stored);

}  // namespace orvo
