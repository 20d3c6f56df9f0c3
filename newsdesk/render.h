// The pieces of the news text that need no window: titles, image
// substitution, placeholder removal, the page itself, and the shortening
// and layout rules of the information bar.
#pragma once

#include <QFontMetrics>
#include <QRect>
#include <QString>

#include <ctime>
#include <QVariant>

class QColor;
class QTextDocument;
class QUrl;

#include <array>
#include <string>

#include "vaultmap/records.h"

namespace orvo {

// "&#39;" becomes "'", line feeds blanks, carriage returns go.
std::string CleanTitle(std::string_view title);

// The address an image file is shown from, always inside the program
// folder's "Images/": a relative path there, an absolute one there as it is,
// and an absolute path elsewhere (a moved program folder) by its file name.
QString ImageUrl(const std::string& path);

// A publication time in the user's locale: the date alone when the item has
// no time of day (stored as 00:00:00); empty for none.
QString PublishedText(std::time_t when);

// The resources the news text may load: pictures from the Images folder, or
// those of `shown` that the database keeps, and nothing else (a stored body,
// or a tampered image row, may name any file or address). A refused picture
// is an empty image, so nothing else is tried.
QVariant LoadNewsResource(int type, const QUrl& url, const CNewsDetailItemStruct* shown = nullptr);

inline constexpr int kMaxPictureWidth = 480;

// Puts each image of `detail` where its placeholder "[[{N}]]" stands: its
// file, or its bytes from the database as "orvo-picture:I" (the I-th image),
// which LoadNewsResource gives with the same detail.
std::string SubstituteImages(const std::string& body, const CNewsDetailItemStruct& detail);

// Deletes every "[[{...}]]" left; an unclosed "[[{" loses only those three characters.
std::string RemovePlaceholders(std::string body);

// Drops the colours a site wrote into its text (font colours, backgrounds of
// text, paragraphs, tables and cells), so that the page takes the palette's
// and stays readable on a dark desktop as on a light one; links get `link`.
void NeutraliseColours(QTextDocument* doc, const QColor& link);

// The page the text pane shows: the title as a heading, then the body (HTML).
std::string BuildPage(const std::string& title, const std::string& body);

// Text of `fm` width over `width` cut as the information bar does it: with n
// characters and overflow o, ceil(o / (textWidth / n)) + 3 characters go and
// "..." is appended; when fewer remain, nothing is shown.
QString ShortenToFit(const QString& text, const QFontMetrics& fm, int width);

// Geometry of the information bar's twelve fields for a client width:
// index 0-2 labels Title/Author/WWW, 3-5 their values, 6-8 labels
// Site/Category/Published, 9-11 their values. The label columns are 41 and
// 55 pixels wide unless the font needs more.
std::array<QRect, 12> InfoBarLayout(int width, int labelWidth = 41, int label2Width = 55);

}  // namespace orvo

namespace orvo {
// Registers the icons and the help page compiled into the program.
void EnsureResources();
}  // namespace orvo
