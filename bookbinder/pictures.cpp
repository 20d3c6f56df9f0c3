#include "pictures.h"

#include <QImage>
#include <QImageReader>
#include <QString>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

#include <pugixml.hpp>

namespace orvo {

namespace fs = std::filesystem;

namespace {

constexpr size_t kSniffBytes = 4096;

std::string ReadHead(const std::string& path, size_t bytes) {
  std::string head(bytes, '\0');
  size_t n = 0;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    n = std::fread(head.data(), 1, bytes, f);
    std::fclose(f);
  }
  head.resize(n);
  return head;
}

// Skips the XML prolog (declaration, comments, document type, blanks): what
// an SVG file may hold before its root element.
size_t SkipProlog(std::string_view s) {
  size_t i = s.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  for (;;) {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    std::string_view rest = s.substr(i);
    const char* close = rest.rfind("<?", 0) == 0      ? "?>"
                        : rest.rfind("<!--", 0) == 0  ? "-->"
                        : rest.rfind("<!DOCTYPE", 0) == 0 ? ">"
                                                          : nullptr;
    if (!close) return i;
    size_t end = s.find(close, i + 2);
    size_t closeLength = std::strlen(close);
    // A document type with an internal subset ends at "]>".
    if (closeLength == 1) {
      size_t bracket = s.find('[', i);
      if (bracket != std::string_view::npos && bracket < end) {
        end = s.find("]>", bracket);
        closeLength = 2;
      }
    }
    if (end == std::string_view::npos) return s.size();
    i = end + closeLength;
  }
}

std::string LocalName(const char* name) {
  const char* colon = std::strrchr(name, ':');
  return colon ? colon + 1 : name;
}

bool Lower(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  return true;
}

// An SVG that a book may carry: no scripts, no foreign content and nothing
// it would load from outside the volume. Empty when so, else the reason.
std::string SvgRefusal(const pugi::xml_node& root) {
  std::string why;
  struct Walker : pugi::xml_tree_walker {
    std::string* why;
    bool for_each(pugi::xml_node& node) override {
      if (node.type() != pugi::node_element) return true;
      std::string name = LocalName(node.name());
      if (name == "script" || name == "foreignObject") {
        *why = "holds a <" + name + ">";
        return false;
      }
      for (pugi::xml_attribute a : node.attributes()) {
        std::string an = LocalName(a.name());
        std::string_view v = a.value();
        if (Lower(an, "on")) {
          *why = "holds a script (" + an + ")";
          return false;
        }
        if (an == "href" && !v.empty() && v[0] != '#') {
          *why = "refers to " + std::string(v.substr(0, 80));
          return false;
        }
        for (size_t at = v.find("url("); at != std::string_view::npos; at = v.find("url(", at + 4)) {
          size_t k = at + 4;
          while (k < v.size() && (v[k] == ' ' || v[k] == '\'' || v[k] == '"')) ++k;
          if (k < v.size() && v[k] != '#') {
            *why = "refers to " + std::string(v.substr(at, 80));
            return false;
          }
        }
      }
      if (name == "style" && std::string_view(node.child_value()).find("url(") != std::string_view::npos &&
          std::string_view(node.child_value()).find("url(#") == std::string_view::npos) {
        *why = "loads a style from outside";
        return false;
      }
      return true;
    }
  } walker;
  walker.why = &why;
  pugi::xml_node copy = root;
  if (!walker.for_each(copy)) return why;
  copy.traverse(walker);
  return why;
}

bool StageSvg(const std::string& source, const std::string& target, std::string* why) {
  pugi::xml_document doc;
  // Without parse_doctype: the document type (and its entities) is not kept.
  pugi::xml_parse_result r = doc.load_file(source.c_str(), pugi::parse_default);
  if (!r) {
    *why = std::string("is an SVG that does not parse (") + r.description() + ")";
    return false;
  }
  pugi::xml_node root = doc.document_element();
  if (LocalName(root.name()) != "svg") {
    *why = "is not an SVG picture";
    return false;
  }
  if (std::string refusal = SvgRefusal(root); !refusal.empty()) {
    *why = "is an SVG that " + refusal;
    return false;
  }
  if (!root.attribute("xmlns")) root.append_attribute("xmlns") = "http://www.w3.org/2000/svg";
  if (!doc.save_file(target.c_str(), "", pugi::format_raw, pugi::encoding_utf8)) {
    *why = "can not be written to " + target;
    return false;
  }
  return true;
}

// A hard link where the file system allows one (no copying), else a copy.
bool LinkOrCopy(const std::string& from, const std::string& to, std::string* why) {
  std::error_code ec;
  fs::remove(to, ec);
  fs::create_hard_link(from, to, ec);
  if (!ec) return true;
  ec.clear();
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (ec) *why = "can not be copied to " + to + ": " + ec.message();
  return !ec;
}

bool Convert(const std::string& source, const char* format, const std::string& targetBase, StagedPicture* out,
             const std::string& base, std::string* why) {
  QImageReader reader(QString::fromStdString(source), format);
  QImage image = reader.read();
  if (image.isNull()) {
    *why = "is a " + std::string(format) + " picture that can not be read (" +
           reader.errorString().toStdString() + ")";
    return false;
  }
  const bool alpha = image.hasAlphaChannel();
  const std::string ext = alpha ? ".png" : ".jpg";
  if (!image.save(QString::fromStdString(targetBase + ext), alpha ? "PNG" : "JPEG", alpha ? -1 : 90)) {
    *why = "can not be converted to " + std::string(alpha ? "PNG" : "JPEG");
    return false;
  }
  out->href = base + ext;
  out->mediaType = alpha ? "image/png" : "image/jpeg";
  return true;
}

}  // namespace

PictureKind SniffPicture(std::string_view h) {
  auto starts = [&](std::string_view magic, size_t at = 0) {
    return h.size() >= at + magic.size() && h.substr(at, magic.size()) == magic;
  };
  if (starts("\xFF\xD8\xFF")) return PictureKind::kJpeg;
  if (starts("\x89PNG\r\n\x1a\n")) return PictureKind::kPng;
  if (starts("GIF87a") || starts("GIF89a")) return PictureKind::kGif;
  if (starts("RIFF") && starts("WEBP", 8)) return PictureKind::kWebp;
  if (starts("BM") && h.size() >= 26) return PictureKind::kBmp;
  size_t i = SkipProlog(h);
  std::string_view root = h.substr(i);
  if (root.rfind("<svg", 0) == 0 && root.size() > 4 &&
      (std::isspace(static_cast<unsigned char>(root[4])) || root[4] == '>' || root[4] == '/'))
    return PictureKind::kSvg;
  return PictureKind::kUnknown;
}

std::string PictureSource(const std::string& imagePath, const std::string& imagesFolder, std::string* why) {
  std::string folderText = imagesFolder;
  while (folderText.size() > 1 && folderText.back() == '/') folderText.pop_back();
  fs::path p(imagePath);
  if (p.is_relative()) p = fs::path(folderText) / p;
  else if (imagePath.rfind(folderText + "/", 0) != 0) p = fs::path(folderText) / p.filename();
  std::error_code ec;
  const std::string folder = fs::weakly_canonical(folderText, ec).string();
  const fs::path file = fs::weakly_canonical(p, ec);
  // Where the path leads counts, after links and "..".
  if (ec || folder.empty() || file.string().rfind(folder + "/", 0) != 0) {
    *why = "is not in the Images folder " + imagesFolder;
    return {};
  }
  if (!fs::exists(file, ec)) {
    *why = "is missing";
    return {};
  }
  if (!fs::is_regular_file(file, ec)) {
    *why = "is not a file";
    return {};
  }
  if (fs::file_size(file, ec) == 0 || ec) {
    *why = "is empty";
    return {};
  }
  return file.string();
}

bool StagePicture(const std::string& source, const std::string& packageDir, const std::string& base,
                  StagedPicture* out, std::string* why) {
  const std::string head = ReadHead(source, kSniffBytes);
  const std::string target = packageDir + base;
  switch (SniffPicture(head)) {
    case PictureKind::kJpeg:
      *out = {base + ".jpg", "image/jpeg"};
      return LinkOrCopy(source, packageDir + out->href, why);
    case PictureKind::kPng:
      *out = {base + ".png", "image/png"};
      return LinkOrCopy(source, packageDir + out->href, why);
    case PictureKind::kGif:
      *out = {base + ".gif", "image/gif"};
      return LinkOrCopy(source, packageDir + out->href, why);
    case PictureKind::kSvg:
      *out = {base + ".svg", "image/svg+xml"};
      return StageSvg(source, packageDir + out->href, why);
    case PictureKind::kWebp:
      return Convert(source, "webp", target, out, base, why);
    case PictureKind::kBmp:
      return Convert(source, "bmp", target, out, base, why);
    case PictureKind::kUnknown:
      break;
  }
  bool text = !head.empty();
  for (unsigned char c : head.substr(0, 512))
    if (c < 0x09 || (c > 0x0D && c < 0x20)) text = false;
  *why = text ? "is text, not a picture" : "is not a picture of a known kind (JPEG, PNG, GIF, SVG, WebP, BMP)";
  return false;
}

}  // namespace orvo
