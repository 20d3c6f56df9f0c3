// The pictures a volume may carry: only files of the program folder's
// Images/, only what the bytes say is a picture, and only in the types every
// eBook reader shows (others are converted or left out).
#pragma once

#include <string>
#include <string_view>

namespace orvo {

enum class PictureKind { kUnknown, kJpeg, kPng, kGif, kSvg, kWebp, kBmp };

// What the first bytes of a file say it is (an SVG by its root element).
PictureKind SniffPicture(std::string_view head);

// The file a stored image path stands for, always inside `imagesFolder`: a
// relative path there, an absolute one there as it is, and an absolute path
// elsewhere (a moved program folder) by its file name, as the reader shows
// them. Links and ".." count where they lead. Empty, with the reason in
// *why, when that is not a file inside the folder.
std::string PictureSource(const std::string& imagePath, const std::string& imagesFolder, std::string* why);

struct StagedPicture {
  std::string href;  // relative to the package folder
  std::string mediaType;
};

// Puts the picture `source` into `packageDir` as `base` plus the extension
// of its type: JPEG, PNG and GIF as they are, an SVG without scripts or
// outside references cleaned of its document type, WebP and BMP converted
// to PNG (with transparency) or JPEG. false, with the reason in *why, for
// anything else.
bool StagePicture(const std::string& source, const std::string& packageDir, const std::string& base,
                  StagedPicture* out, std::string* why);

}  // namespace orvo
