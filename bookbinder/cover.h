// The cover picture of an EPUB volume, which e-readers show in their
// library views: the volume's title, its date, the first categories and the
// number of news, drawn with Qt.
#pragma once

#include <string>

#include "package.h"

namespace orvo {

inline constexpr int kCoverWidth = 1200;
inline constexpr int kCoverHeight = 1600;

// The cover as PNG bytes. Text needs Qt's font database, which only a
// QGuiApplication provides (Bookbinder runs one on the offscreen platform):
// without one, or when the picture cannot be encoded, the result is empty
// and *why says so.
std::string DrawCoverPng(const VolumeModel& model, std::string* why);

}  // namespace orvo
