#include "epub_volume.h"

#include <zip.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <random>

#include "stored_html.h"

namespace orvo {

namespace {

constexpr const char* kCoverHref = "cover.png";

// Text for XML: markup characters escaped, characters XML cannot carry
// dropped, malformed UTF-8 replaced, so one bad byte never spoils a volume.
std::string Escape(std::string_view s, bool attribute = false) {
  std::string out;
  out.reserve(s.size() + s.size() / 8);
  for (size_t i = 0; i < s.size();) {
    size_t len = XmlCharLength(s, i);
    if (len == 0) {
      if (static_cast<unsigned char>(s[i]) >= 0x80) out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    char c = s[i];
    if (len == 1 && c == '&') out += "&amp;";
    else if (len == 1 && c == '<') out += "&lt;";
    else if (len == 1 && c == '>') out += "&gt;";
    else if (len == 1 && attribute && c == '"') out += "&quot;";
    else out.append(s.substr(i, len));
    i += len;
  }
  return out;
}

// A stored title or name as XHTML text: what it reads as, escaped.
std::string Plain(std::string_view stored, bool attribute = false) { return Escape(StoredHtmlText(stored), attribute); }

// A source address as a link, or empty when it is not a web address a
// reader could open. Bytes a URL cannot hold are percent-encoded.
std::string WebLink(std::string_view url) {
  if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) return {};
  std::string out;
  for (char ch : url) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", ch)) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out;
}

std::string FormatTime(std::time_t t, const char* format, bool utc) {
  std::tm tm{};
  if (utc) gmtime_r(&t, &tm);
  else localtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, format, &tm);
  return buf;
}

std::string NewIdentifier() {
  std::random_device rd;
  std::mt19937_64 gen((static_cast<uint64_t>(rd()) << 32) ^ rd());
  uint64_t a = gen(), b = gen();
  a = (a & ~0xF000ull) | 0x4000ull;
  b = (b & ~(0xC000ull << 48)) | (0x8000ull << 48);
  char text[64];
  std::snprintf(text, sizeof text, "urn:uuid:%08x-%04x-%04x-%04x-%012llx", unsigned(a >> 32),
                unsigned((a >> 16) & 0xFFFF), unsigned(a & 0xFFFF), unsigned(b >> 48),
                static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
  return text;
}

// The picture types every EPUB reader must show.
bool CoreImage(const std::string& mediaType) {
  return mediaType == "image/jpeg" || mediaType == "image/png" || mediaType == "image/gif" ||
         mediaType == "image/svg+xml";
}

std::string XhtmlHead(const std::string& language, const std::string& title) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
         "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\" xml:lang=\"" +
         language + "\" lang=\"" + language + "\">\n<head>\n<meta charset=\"utf-8\"/>\n<title>" + Plain(title) +
         "</title>\n<link rel=\"stylesheet\" type=\"text/css\" href=\"eBook.css\"/>\n</head>\n";
}

// The zip container; the texts must live until Close.
class ZipWriter {
 public:
  explicit ZipWriter(const std::string& path) {
    int err = 0;
    zip_ = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (!zip_) {
      zip_error_t e;
      zip_error_init_with_code(&e, err);
      error_ = zip_error_strerror(&e);
      zip_error_fini(&e);
    }
  }
  ~ZipWriter() {
    if (zip_) zip_discard(zip_);
  }
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  bool ok() const { return zip_ && error_.empty(); }
  const std::string& error() const { return error_; }
  void SetTime(std::time_t t) { mtime_ = t; }

  void AddText(const std::string& name, std::string text, bool store = false) {
    if (!ok()) return;
    texts_.push_back(std::move(text));
    Add(name, zip_source_buffer(zip_, texts_.back().data(), texts_.back().size(), 0), store);
  }
  void AddFile(const std::string& name, const std::string& path, bool store) {
    if (!ok()) return;
    Add(name, zip_source_file(zip_, path.c_str(), 0, -1), store);
  }
  bool Close() {
    if (!ok()) return false;
    if (zip_close(zip_) != 0) {
      error_ = zip_strerror(zip_);
      return false;
    }
    zip_ = nullptr;
    return true;
  }

 private:
  void Add(const std::string& name, zip_source_t* source, bool store) {
    if (!source) {
      error_ = name + ": " + zip_strerror(zip_);
      return;
    }
    zip_int64_t index = zip_file_add(zip_, name.c_str(), source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
    if (index < 0) {
      zip_source_free(source);
      error_ = name + ": " + zip_strerror(zip_);
      return;
    }
    auto i = static_cast<zip_uint64_t>(index);
    if (store) zip_set_file_compression(zip_, i, ZIP_CM_STORE, 0);
    if (mtime_) zip_file_set_mtime(zip_, i, mtime_, 0);
  }

  zip_t* zip_ = nullptr;
  std::string error_;
  std::time_t mtime_ = 0;
  std::deque<std::string> texts_;
};

struct Chapter {
  std::string file;  // c<N>.xhtml
  const VolumeCategory* category;
};

std::string ChapterText(const Chapter& chapter, const VolumeModel& model, const std::string& language) {
  const VolumeCategory& c = *chapter.category;
  std::string x = XhtmlHead(language, c.name);
  x.reserve(4096);
  x += "<body>\n<section id=\"" + c.anchor + "\" class=\"category\">\n<h2>" + Plain(c.name) + "</h2>\n";
  for (const VolumeNews& n : c.news) {
    x += "<div class=\"news\">\n<div class=\"header\">" + Plain(n.header) + "</div>\n<div class=\"title\">" +
         Plain(n.title) + "</div>\n";
    std::string link = WebLink(n.srcUrl);
    if (!link.empty())
      x += "<div class=\"source\"><a href=\"" + Escape(link, true) + "\">" + Escape(n.srcUrl) + "</a></div>\n";
    else if (!n.srcUrl.empty())
      x += "<div class=\"source\">" + Escape(n.srcUrl) + "</div>\n";
    for (const VolumeSegment& s : n.segments) {
      if (s.picture < 0) {
        x += "<div class=\"news_text\">" + BodyXhtml(s.text) + "</div>\n";
        continue;
      }
      const VolumePicture& p = model.pictures[static_cast<size_t>(s.picture)];
      if (!CoreImage(p.mediaType)) continue;
      x += "<div class=\"picture\"><img id=\"" + Escape(p.id, true) + "\" src=\"" + Escape(p.href, true) +
           "\" alt=\"" + Plain(s.caption, true) + "\"/>";
      if (!s.caption.empty()) x += "<div class=\"caption\">" + StoredHtmlMarkup(s.caption) + "</div>";
      x += "</div>\n";
    }
    x += "</div>\n";
  }
  x += "</section>\n</body>\n</html>\n";
  return x;
}

std::string NavText(const std::vector<Chapter>& chapters, const std::string& language) {
  std::string x = XhtmlHead(language, "Contents");
  x += "<body>\n<nav epub:type=\"toc\" id=\"toc\">\n<h1>Contents</h1>\n<ol>\n";
  for (const Chapter& c : chapters)
    x += "<li><a href=\"" + c.file + "#" + c.category->anchor + "\">" + Plain(c.category->name) + "</a></li>\n";
  x += "</ol>\n</nav>\n</body>\n</html>\n";
  return x;
}

std::string NcxText(const std::vector<Chapter>& chapters, const VolumeModel& model, const std::string& id,
                    const std::string& language) {
  std::string x =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" version=\"2005-1\" xml:lang=\"" + language +
      "\">\n<head>\n<meta name=\"dtb:uid\" content=\"" + Escape(id, true) +
      "\"/>\n<meta name=\"dtb:depth\" content=\"1\"/>\n<meta name=\"dtb:totalPageCount\" content=\"0\"/>\n"
      "<meta name=\"dtb:maxPageNumber\" content=\"0\"/>\n</head>\n<docTitle><text>" + Plain(model.title) +
      "</text></docTitle>\n<navMap>\n";
  int order = 0;
  for (const Chapter& c : chapters) {
    ++order;
    x += "<navPoint id=\"np" + std::to_string(order) + "\" playOrder=\"" + std::to_string(order) +
         "\"><navLabel><text>" + Plain(c.category->name) + "</text></navLabel><content src=\"" + c.file + "#" +
         c.category->anchor + "\"/></navPoint>\n";
  }
  x += "</navMap>\n</ncx>\n";
  return x;
}

std::string CoverText(const VolumeModel& model, const std::string& language, bool picture) {
  std::string x = XhtmlHead(language, model.title);
  if (picture) {
    // The picture carries the title and date; sized to the page whatever
    // stylesheet the installation has.
    x += "<body style=\"margin:0;padding:0\">\n<section class=\"cover\" epub:type=\"cover\" "
         "style=\"text-align:center;height:100%\">\n<img src=\"" + std::string(kCoverHref) + "\" alt=\"" +
         Plain(model.title, true) + "\" style=\"max-width:100%;max-height:100%\"/>\n</section>\n</body>\n</html>\n";
    return x;
  }
  x += "<body>\n<section class=\"cover\" epub:type=\"cover\">\n<h1>" + Plain(model.title) + "</h1>\n<p>" +
       FormatTime(model.buildTime, "%d.%m.%Y %H:%M", false) + "</p>\n</section>\n</body>\n</html>\n";
  return x;
}

std::string PackageText(const std::vector<Chapter>& chapters, const std::vector<const VolumePicture*>& pictures,
                        const VolumeModel& model, const std::string& id, const std::string& language,
                        bool cover) {
  const std::string stamp = FormatTime(model.buildTime, "%Y-%m-%dT%H:%M:%SZ", true);
  std::string x =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" unique-identifier=\"bookid\" xml:lang=\"" +
      language +
      "\">\n<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
      "<dc:identifier id=\"bookid\">" + Escape(id) + "</dc:identifier>\n<dc:title>" + Plain(model.title) +
      "</dc:title>\n<dc:creator>Vantelia Inc.</dc:creator>\n<dc:language>" + language + "</dc:language>\n<dc:date>" +
      stamp + "</dc:date>\n<meta property=\"dcterms:modified\">" + stamp + "</meta>\n";
  // EPUB 3 readers find the cover by its property, older ones by this meta.
  if (cover) x += "<meta name=\"cover\" content=\"cover-image\"/>\n";
  x += "</metadata>\n<manifest>\n"
      "<item id=\"cover\" href=\"cover.xhtml\" media-type=\"application/xhtml+xml\"/>\n"
      "<item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>\n"
      "<item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>\n"
      "<item id=\"css\" href=\"eBook.css\" media-type=\"text/css\"/>\n";
  for (size_t i = 0; i < chapters.size(); ++i)
    x += "<item id=\"c" + std::to_string(i + 1) + "\" href=\"" + chapters[i].file +
         "\" media-type=\"application/xhtml+xml\"/>\n";
  for (const VolumePicture* p : pictures)
    x += "<item id=\"" + Escape(p->id, true) + "\" href=\"" + Escape(p->href, true) + "\" media-type=\"" +
         p->mediaType + "\"/>\n";
  if (cover)
    x += "<item id=\"cover-image\" href=\"" + std::string(kCoverHref) +
         "\" media-type=\"image/png\" properties=\"cover-image\"/>\n";
  x += "</manifest>\n<spine toc=\"ncx\">\n<itemref idref=\"cover\"/>\n<itemref idref=\"nav\"/>\n";
  for (size_t i = 0; i < chapters.size(); ++i) x += "<itemref idref=\"c" + std::to_string(i + 1) + "\"/>\n";
  x += "</spine>\n";
  if (cover) x += "<guide>\n<reference type=\"cover\" title=\"Cover\" href=\"cover.xhtml\"/>\n</guide>\n";
  x += "</package>\n";
  return x;
}

bool ValidLanguage(const std::string& tag) {
  size_t first = tag.find('-');
  std::string primary = tag.substr(0, first);
  if (primary.size() < 2 || primary.size() > 3) return false;
  for (char c : primary)
    if (!std::isalpha(static_cast<unsigned char>(c))) return false;
  for (char c : tag)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') return false;
  return tag.back() != '-';
}

}  // namespace

std::string BodyXhtml(std::string_view stored) { return StoredHtmlMarkup(stored); }

std::string LocaleLanguage() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(name);
    if (!v || !*v) continue;
    std::string tag = v;
    tag = tag.substr(0, tag.find_first_of(".@"));
    for (char& c : tag)
      if (c == '_') c = '-';
    return ValidLanguage(tag) ? tag : "en";
  }
  return "en";
}

int WriteEpubVolume(const VolumeModel& model, const EpubOptions& options, const std::string& outputPath,
                    std::string* error) {
  const std::string language = options.language.empty() ? LocaleLanguage() : options.language;
  const std::string id = options.identifier.empty() ? NewIdentifier() : options.identifier;

  std::vector<Chapter> chapters;
  for (const VolumeCategory& c : model.categories)
    chapters.push_back(Chapter{"c" + std::to_string(chapters.size() + 1) + ".xhtml", &c});
  // Only the pictures a page shows travel, and only in the types every
  // reader knows.
  std::vector<bool> shown(model.pictures.size(), false);
  for (const VolumeCategory& c : model.categories)
    for (const VolumeNews& n : c.news)
      for (const VolumeSegment& s : n.segments)
        if (s.picture >= 0 && CoreImage(model.pictures[static_cast<size_t>(s.picture)].mediaType))
          shown[static_cast<size_t>(s.picture)] = true;
  std::vector<const VolumePicture*> pictures;
  for (size_t i = 0; i < model.pictures.size(); ++i)
    if (shown[i]) pictures.push_back(&model.pictures[i]);

  const bool cover = !options.coverPng.empty();
  const std::string temp = outputPath + ".part";
  {
    ZipWriter zip(temp);
    zip.SetTime(model.buildTime);
    zip.AddText("mimetype", "application/epub+zip", true);
    zip.AddText("META-INF/container.xml",
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
                "<rootfiles><rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>"
                "</rootfiles>\n</container>\n");
    zip.AddText("OEBPS/content.opf", PackageText(chapters, pictures, model, id, language, cover));
    zip.AddText("OEBPS/cover.xhtml", CoverText(model, language, cover));
    if (cover) zip.AddText("OEBPS/" + std::string(kCoverHref), options.coverPng, true);
    zip.AddText("OEBPS/nav.xhtml", NavText(chapters, language));
    zip.AddText("OEBPS/toc.ncx", NcxText(chapters, model, id, language));
    zip.AddText("OEBPS/eBook.css", options.stylesheet);
    for (const Chapter& c : chapters) zip.AddText("OEBPS/" + c.file, ChapterText(c, model, language));
    // Pictures are compressed already: stored, they cost no time.
    for (const VolumePicture* p : pictures) zip.AddFile("OEBPS/" + p->href, p->file, true);
    if (!zip.Close()) {
      *error = "Can not write " + outputPath + ": " + zip.error();
      std::error_code ec;
      std::filesystem::remove(temp, ec);
      return 1;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temp, outputPath, ec);
  if (ec) {
    *error = "Can not write " + outputPath + ": " + ec.message();
    std::filesystem::remove(temp, ec);
    return 1;
  }
  return 0;
}

}  // namespace orvo
