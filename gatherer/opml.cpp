#include "opml.h"

#include <pugixml.hpp>

#include <fstream>
#include <map>
#include <sstream>

#include "database.h"
#include "store/own_sites.h"
#include "store/schema.h"
#include "text.h"

namespace orvo {

namespace {

constexpr int kMaxDepth = 32;
constexpr const char* kTopCategory = "News";

std::string Attr(const pugi::xml_node& n, const char* name) {
  // Readers differ in the letter case of xmlUrl and htmlUrl.
  for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute())
    if (EqualsNoCase(a.name(), name)) return Trim(a.value());
  return {};
}

bool Walk(const pugi::xml_node& node, const std::string& category, int depth, OpmlRead& out) {
  if (depth > kMaxDepth) {
    out.error = "The OPML file nests its outlines more than " + std::to_string(kMaxDepth) + " deep.";
    return false;
  }
  for (pugi::xml_node c = node.child("outline"); c; c = c.next_sibling("outline")) {
    std::string name = Attr(c, "title");
    if (name.empty()) name = Attr(c, "text");
    const std::string xmlUrl = Attr(c, "xmlUrl");
    if (xmlUrl.empty()) {
      if (!Walk(c, name.empty() ? category : name, depth + 1, out)) return false;
      continue;
    }
    if (out.feeds.size() >= kMaxOpmlFeeds) {
      out.error = "The OPML file lists more than " + std::to_string(kMaxOpmlFeeds) +
                  " feeds; split it into smaller files and import them one by one.";
      return false;
    }
    out.feeds.push_back({xmlUrl, Attr(c, "htmlUrl"), name, category});
    // A feed outline holding more outlines is rare; they are read as well.
    if (c.child("outline") && !Walk(c, category, depth + 1, out)) return false;
  }
  return true;
}

std::string HostOf(const std::string& url) {
  size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  size_t end = url.find_first_of("/?#", start);
  return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

OpmlRead ReadOpml(std::string_view bytes) {
  OpmlRead out;
  if (bytes.size() > kMaxOpmlBytes) {
    out.error = "The OPML file is larger than " + std::to_string(kMaxOpmlBytes >> 20) +
                " MB, which no feed reader's export is.";
    return out;
  }
  // Entities a document type declares are never expanded here; a file that
  // relies on them is refused rather than read half.
  if (bytes.find("<!ENTITY") != std::string_view::npos) {
    out.error = "The OPML file declares XML entities, which are not read.";
    return out;
  }
  pugi::xml_document doc;
  pugi::xml_parse_result r = doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default);
  if (!r) {
    out.error = std::string("The file is not OPML: it is not well-formed XML (") + r.description() + " at byte " +
                std::to_string(r.offset) + ").";
    return out;
  }
  pugi::xml_node opml = doc.child("opml");
  pugi::xml_node body = opml.child("body");
  if (!opml || !body) {
    out.error = "The file is XML but not OPML (no <opml> with a <body>).";
    return out;
  }
  if (!Walk(body, kTopCategory, 0, out)) {
    out.feeds.clear();
    return out;
  }
  out.ok = true;
  return out;
}

OpmlImport ImportOpml(Database& db, std::string_view bytes, std::time_t now) {
  OpmlImport result;
  OpmlRead read = ReadOpml(bytes);
  if (!read.ok) {
    result.error = read.error;
    return result;
  }
  UpgradeSchema(db);
  Transaction tx(db);
  if (tx.status() != 0) {
    result.error = "Can not write the news database: " + db.ErrorMessage() + ".";
    return result;
  }
  for (const OpmlFeed& f : read.feeds) {
    const std::string address = Trim(f.xmlUrl);
    if (address.rfind("http://", 0) != 0 && address.rfind("https://", 0) != 0) {
      result.error = "The feed address '" + address + "' is not an http or https address.";
      return result;
    }
    if (IsOwnAddress(db, address)) {
      ++result.skipped;
      continue;
    }
    OwnSite site;
    site.address = address;
    site.pageUrl = f.htmlUrl;
    site.site = f.title.empty() ? HostOf(address) : f.title;
    site.category = f.category.empty() ? kTopCategory : f.category;
    site.feedTitle = f.title;
    // Two feeds of one name in one folder stay two sites.
    const std::string base = FitBuffer(Trim(site.site), kTextColumn - 8);
    for (int n = 2; OwnNameTaken(db, FitBuffer(Trim(site.site), kTextColumn), site.category) && n < 1000; ++n)
      site.site = base + " (" + std::to_string(n) + ")";
    std::string why;
    if (!AddOwnSite(db, site, now, &why)) {
      result.error = "Can not add the feed " + address + ": " + why + ".";
      return result;
    }
    ++result.added;
  }
  if (tx.Commit() != 0) {
    result.error = "Can not write the news database: " + db.ErrorMessage() + ".";
    return result;
  }
  result.ok = true;
  return result;
}

OpmlImport ImportOpmlFile(Database& db, const std::string& path, std::time_t now) {
  OpmlImport result;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    result.error = "Can not open " + path + ".";
    return result;
  }
  std::string bytes(kMaxOpmlBytes + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return ImportOpml(db, bytes, now);
}

std::string ExportOpml(Database& db) {
  pugi::xml_document doc;
  pugi::xml_node decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  pugi::xml_node opml = doc.append_child("opml");
  opml.append_attribute("version") = "2.0";
  pugi::xml_node head = opml.append_child("head");
  head.append_child("title").text() = "ORVO: own sites";
  pugi::xml_node body = opml.append_child("body");
  std::map<std::string, pugi::xml_node> folders;
  for (const OwnSite& s : ListOwnSites(db)) {
    auto [it, added] = folders.try_emplace(s.category);
    if (added) {
      it->second = body.append_child("outline");
      it->second.append_attribute("text") = s.category.c_str();
      it->second.append_attribute("title") = s.category.c_str();
    }
    pugi::xml_node o = it->second.append_child("outline");
    o.append_attribute("type") = "rss";
    o.append_attribute("text") = s.site.c_str();
    o.append_attribute("title") = s.site.c_str();
    o.append_attribute("xmlUrl") = s.address.c_str();
    if (!s.pageUrl.empty()) o.append_attribute("htmlUrl") = s.pageUrl.c_str();
  }
  std::ostringstream out;
  doc.save(out, "  ", pugi::format_default | pugi::format_no_declaration);
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + out.str();
}

}  // namespace orvo
