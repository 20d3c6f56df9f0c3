#include "package.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <pugixml.hpp>

#include "eventlog.h"
#include "pictures.h"
#include "settings.h"
#include "store/images.h"
#include "text.h"

namespace orvo {

namespace {

// Where a picture's bytes are kept in the database (PostgreSQL, which other
// machines share), they are written into the volume's folder as `scratch`
// and staged from there like a file of Images/. "" when the database holds
// none for it (the file is then looked for, as an item stored before the
// bytes went into the database has one); a failure also sets *why.
std::string PictureFromDatabase(Database& db, int64_t pictureId, const std::string& scratch, std::string* why) {
  if (!PicturesInDatabase(db)) return {};
  std::string bytes;
  const int rc = ReadPictureBytes(db, pictureId, &bytes);
  if (rc == SQLITE_NOTFOUND) return {};
  if (rc != 0) {
    *why = "can not be read from the database (error " + HexCode(rc) + ")";
    return {};
  }
  std::ofstream out(scratch, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    *why = "can not be written to " + scratch;
    return {};
  }
  return scratch;
}

void ReplaceAll(std::string& s, std::string_view from, std::string_view to) {
  if (from.empty()) return;
  for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
    s.replace(pos, from.size(), to);
}

std::string Replaced(std::string s, std::string_view from, std::string_view to) {
  ReplaceAll(s, from, to);
  return s;
}

// Like a DOM's text property: the node's children become one text node.
// Control characters that XML cannot carry are dropped, so one stray byte in
// a stored body never makes the volume unreadable.
void SetText(pugi::xml_node node, std::string_view text) {
  while (node.first_child()) node.remove_child(node.first_child());
  std::string clean;
  clean.reserve(text.size());
  for (char c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b >= 0x20 || c == '\t' || c == '\n' || c == '\r') clean += c;
  }
  if (!clean.empty()) node.append_child(pugi::node_pcdata).set_value(clean.c_str());
}

pugi::xml_node FirstElement(pugi::xml_node node) {
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element) return c;
  return {};
}

pugi::xml_node SecondElement(pugi::xml_node node) {
  pugi::xml_node first = FirstElement(node);
  for (pugi::xml_node c = first ? first.next_sibling() : first; c; c = c.next_sibling())
    if (c.type() == pugi::node_element) return c;
  return {};
}

std::string FormatLocal(std::time_t t, const char* format) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, format, &tm);
  return buf;
}

void SetAttribute(pugi::xml_node node, const char* name, const std::string& value) {
  pugi::xml_attribute a = node.attribute(name);
  if (!a) a = node.append_attribute(name);
  a.set_value(value.c_str());
}

// "ERROR in file: %s, line %d": tells the failing steps apart.
int TemplateError(int line) {
  WriteEventLog("ERROR in file: package.cpp, line " + std::to_string(line));
  return 1;
}

bool LoadTemplate(pugi::xml_document& doc, std::string_view text, const char* failure) {
  pugi::xml_parse_result r = doc.load_buffer(text.data(), text.size(), pugi::parse_default);
  if (!r) {
    WriteEventLog("Error load XML Document");
    WriteEventLog(failure);
    return false;
  }
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

// An empty folder for the volume's pictures: what an earlier volume left
// there must not travel with this one.
bool ResetFolder(const std::string& dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  // Inside the temp folder, which must exist already.
  std::filesystem::create_directory(dir, ec);
  if (ec) WriteEventLog("Can not prepare " + dir + ": " + ec.message());
  return !ec;
}

}  // namespace

std::string CategoryAnchor(int64_t categoryId) { return "cat_" + std::to_string(categoryId); }

PackageFiles::PackageFiles(std::string dir)
    : tempDir(std::move(dir)) {
  if (tempDir.empty() || tempDir.back() != '/') tempDir += '/';
  toc = tempDir + "toc.html";
  pictureDir = tempDir + "Images/";
  content = tempDir + "Content.html";
  package = tempDir + "Newsdesk.opf";
  stylesheet = tempDir + "eBook.css";
}

bool EnsureStylesheet(const PackageFiles& files) {
  std::error_code ec;
  if (std::filesystem::exists(files.stylesheet, ec)) return true;
  std::string_view css = StylesheetText();
  return WriteWholeFile(files.stylesheet, std::string(css));
}

int BuildPackage(Database& db, NewsQuery& query, bool* endOfRows, const VolumeRequest& request,
                 const PackageFiles& files, int* items, VolumeModel* model) {
  *items = 0;
  if (model) *model = VolumeModel{};
  pugi::xml_document toc, content, package;
  if (!LoadTemplate(toc, TocTemplate(), "Error: Create Toc HTML")) return 1;
  if (!LoadTemplate(content, ContentTemplate(), "Error: Create Content HTML")) return 1;
  if (!LoadTemplate(package, PackageTemplate(), "Error: Create XML Doc")) return 1;

  pugi::xml_node tocRow = toc.select_node("//div").node();
  if (!tocRow) return TemplateError(__LINE__);
  pugi::xml_node tocBody = tocRow.parent();
  pugi::xml_node categoryTemplate = content.select_node("//div").node();
  if (!categoryTemplate) return TemplateError(__LINE__);
  pugi::xml_node contentBody = categoryTemplate.parent();
  pugi::xml_node pictureRow = package.select_node("//item[@id=\"pic_N\"]").node();
  if (!pictureRow) return TemplateError(__LINE__);
  pugi::xml_node manifest = pictureRow.parent();
  pugi::xml_node title = package.select_node("//dc:Title").node();
  if (!title) return TemplateError(__LINE__);

  const std::string volumeTitle =
      "News " + FormatLocal(request.buildTime, "%d.%m.%y %H:%M") + " Vol." + std::to_string(request.volumeIndex + 1);
  SetText(title, volumeTitle);
  if (model) {
    model->title = volumeTitle;
    model->buildTime = request.buildTime;
  }
  if (!*endOfRows && !ResetFolder(files.pictureDir)) return 1;

  bool haveCategory = false;
  int64_t categoryId = 0;
  pugi::xml_node block, newsTemplate;
  std::vector<PictureRow> pictures;
  std::error_code ignored;
  // Pictures come from the database where it keeps them, otherwise from the
  // program folder's Images/ only, as in the reader: a stored path cannot put
  // any other file into a book.
  const std::string imagesFolder = ModuleDirectory() + "Images/";
  const int maxNews = request.maxNews < 1 ? 50 : request.maxNews;

  while (!*endOfRows && *items < maxNews) {
    const NewsRow& row = query.row();
    ++*items;
    if (!haveCategory || row.categoryId != categoryId) {
      if (haveCategory) block.remove_child(newsTemplate);
      haveCategory = true;
      categoryId = row.categoryId;

      // Readers look anchors up as ASCII ids; the name stays the visible text.
      const std::string anchorId = CategoryAnchor(row.categoryId);
      pugi::xml_node tocEntry = tocBody.append_copy(tocRow);
      pugi::xml_node link = FirstElement(tocEntry);
      if (!link) return TemplateError(__LINE__);
      SetAttribute(link, "href", Replaced(link.attribute("href").value(), "$category_name", anchorId));
      SetText(link, Replaced(link.text().get(), "$category_name", row.categoryName));

      block = contentBody.append_copy(categoryTemplate);
      pugi::xml_node anchor = FirstElement(block);
      if (!anchor) return TemplateError(__LINE__);
      SetAttribute(anchor, "name", Replaced(anchor.attribute("name").value(), "$category_name", anchorId));
      SetText(anchor, row.categoryName);
      if (model) model->categories.push_back(VolumeCategory{row.categoryId, row.categoryName, anchorId, {}});
      newsTemplate = SecondElement(block);
      if (!newsTemplate) return TemplateError(__LINE__);
    }

    pugi::xml_node item = block.append_copy(newsTemplate);
    VolumeNews* news = nullptr;
    if (model) {
      model->categories.back().news.emplace_back();
      news = &model->categories.back().news.back();
      news->title = row.title;
      news->srcUrl = row.srcUrl;
    }
    pugi::xml_node source = item.select_node(".//a[@href=\"$sourceURL\"]").node();
    if (!source) return TemplateError(__LINE__);
    SetAttribute(source, "href", Replaced(source.attribute("href").value(), "$sourceURL", row.srcUrl));
    SetText(source, row.srcUrl);
    pugi::xml_node textDiv = item.select_node(".//div[@class=\"news_text\"]").node();
    if (!textDiv) return TemplateError(__LINE__);

    // Cut the body at each picture's placeholder and put the picture there.
    std::string remaining = row.body;
    int rc = 0;
    pictures = ItemPictures(db, row.id, &rc);
    if (rc != 0)
      WriteEventLog("Can not read the pictures of news " + std::to_string(row.id) + ": error " + HexCode(rc));
    // In the order they were stored: a placeholder that comes twice takes the first.
    std::sort(pictures.begin(), pictures.end(), [](const PictureRow& a, const PictureRow& b) { return a.id < b.id; });
    for (PictureRow& pic : pictures) {
      pic.path = FitBuffer(pic.path, kImagePathColumn);
      pic.caption = FitBuffer(pic.caption, kImageTextColumn);
      std::string placeholder = "[[{" + std::to_string(pic.position) + "}]]";
      size_t at = remaining.find(placeholder);
      // A picture the volume cannot carry goes, and so does its placeholder.
      StagedPicture staged;
      std::string why;
      const std::string base = "Images/pic" + std::to_string(pic.id);
      const std::string scratch = files.tempDir + base + ".stored";
      std::string source = PictureFromDatabase(db, pic.id, scratch, &why);
      const bool fromDatabase = !source.empty();
      if (!fromDatabase && why.empty() && !pic.path.empty()) source = PictureSource(pic.path, imagesFolder, &why);
      const bool placed = !source.empty() && StagePicture(source, files.tempDir, base, &staged, &why);
      if (fromDatabase) std::filesystem::remove(scratch, ignored);
      if (!placed) {
        if (!why.empty())
          WriteEventLog("The picture " + (pic.path.empty() ? "#" + std::to_string(pic.id) : pic.path) + " of news " +
                        std::to_string(row.id) + " " + why + "; the volume goes without it");
        if (at != std::string::npos) remaining.erase(at, placeholder.size());
        continue;
      }
      const std::string& href = staged.href;
      const std::string& mediaType = staged.mediaType;
      std::string picId = "Pic_" + std::to_string(pic.id);
      pugi::xml_node entry = manifest.append_copy(pictureRow);
      SetAttribute(entry, "id", picId);
      SetAttribute(entry, "href", href);
      SetAttribute(entry, "media-type", mediaType);
      if (model) model->pictures.push_back(VolumePicture{picId, files.tempDir + href, href, mediaType});

      if (at == std::string::npos) continue;
      SetText(textDiv, std::string_view(remaining).substr(0, at));
      if (news) news->segments.push_back(VolumeSegment{remaining.substr(0, at), -1, {}});
      remaining.erase(0, at + placeholder.size());
      pugi::xml_node frame = item.append_child("div");
      SetAttribute(frame, "class", "picture");
      pugi::xml_node img = frame.append_child("img");
      SetAttribute(img, "id", picId);
      SetAttribute(img, "src", href);
      SetAttribute(img, "align", "bottom");
      SetText(img, pic.caption);
      // No reader shows an img's own text: the caption also goes under it.
      if (!pic.caption.empty()) {
        pugi::xml_node caption = frame.append_child("div");
        SetAttribute(caption, "class", "caption");
        SetText(caption, pic.caption);
      }
      if (news)
        news->segments.push_back(
            VolumeSegment{{}, static_cast<int>(model->pictures.size()) - 1, pic.caption});
      textDiv = item.append_copy(textDiv);
    }
    SetText(textDiv, remaining);
    if (news) news->segments.push_back(VolumeSegment{remaining, -1, {}});

    pugi::xml_node header = item.select_node(".//div[@class=\"header\"]").node();
    if (!header) return TemplateError(__LINE__);
    std::string published = row.publicationDate ? FormatLocal(*row.publicationDate, "%d.%m.%Y %H:%M") : "";
    SetText(header, row.categoryName + "  " + published);
    if (news) news->header = row.categoryName + "  " + published;
    pugi::xml_node titleDiv = item.select_node(".//div[@class=\"title\"]").node();
    if (!titleDiv) return TemplateError(__LINE__);
    SetText(titleDiv, Replaced(titleDiv.text().get(), "$news_header", row.title));

    if (!query.Fetch()) *endOfRows = true;
  }
  if (*items == 0 || !request.writeFiles) return 0;

  block.remove_child(newsTemplate);
  contentBody.remove_child(categoryTemplate);
  tocBody.remove_child(tocRow);
  manifest.remove_child(pictureRow);

  // A file that cannot be written fails the volume: the writer would
  // otherwise compile what an earlier volume left in the folder.
  const unsigned html = pugi::format_raw | pugi::format_no_declaration;
  if (!toc.save_file(files.toc.c_str(), "", html, pugi::encoding_utf8)) {
    WriteEventLog("Can not write " + files.toc);
    return 1;
  }
  std::ostringstream text;
  content.save(text, "", html, pugi::encoding_utf8);
  std::string xml = text.str();
  // Setting text escapes markup; the line breaks and entities that bodies
  // carry must take effect. Everything else stays escaped.
  ReplaceAll(xml, "&lt;br /&gt;", "<br />");
  ReplaceAll(xml, "&lt;br clear=\"left\" /&gt;", "<br clear=\"left\" />");
  ReplaceAll(xml, "&amp;#160;", "&#160;");
  ReplaceAll(xml, "&amp;#39;", "&#39;");
  // The gatherer escapes the page's own markup characters when it stores
  // them: those references take effect too, or "R&D" would read "R&amp;D".
  ReplaceAll(xml, "&amp;amp;", "&amp;");
  ReplaceAll(xml, "&amp;lt;", "&lt;");
  ReplaceAll(xml, "&amp;gt;", "&gt;");
  if (!WriteWholeFile(files.content, xml)) {
    WriteEventLog("Can not write " + files.content);
    return 1;
  }
  if (!package.save_file(files.package.c_str(), "", pugi::format_raw, pugi::encoding_utf8)) {
    WriteEventLog("Can not write " + files.package);
    return 1;
  }
  return 0;
}

}  // namespace orvo
