// The engines' status texts as the reader shows them. The texts are the
// engines' own, in English, and stay so in the event log; the reader shows
// them through its translation, and reads the download's progress from them.
#pragma once

#include <QString>

namespace orvo {

// "Site: [S], Category: [C] <News: N from M> URL: [U]" (or "<News searching...>").
struct EngineProgress {
  bool valid = false;
  bool searching = false;  // the list page: no count yet
  QString site, category, url;
  int done = 0, total = 0;
};
EngineProgress ParseEngineProgress(const QString& text);

// The text in the reader's language; a text it does not know as it came.
QString TranslateEngineText(const QString& text);

}  // namespace orvo
