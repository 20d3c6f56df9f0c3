#include "gatherer/masks/feed.h"

#include <pugixml.hpp>

#include <cstring>

#include "gatherer/masks/auto_extract.h"
#include "gatherer/masks/text_util.h"
#include "gatherer/masks/url.h"

namespace orvo {

namespace {

// Element name without its namespace prefix ("atom:link" -> "link").
std::string_view LocalName(const pugi::xml_node& n) {
  std::string_view name = n.name();
  size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node Child(const pugi::xml_node& parent, std::string_view local) {
  for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && LocalName(c) == local) return c;
  return {};
}

std::string NodeText(const pugi::xml_node& n) { return TrimCopy(n.child_value()); }

// The address of an item: RSS <link>text</link>, Atom <link href> (the
// alternate one first), else a permalink <guid>.
std::string ItemAddress(const pugi::xml_node& item) {
  std::string fallback;
  for (pugi::xml_node c = item.first_child(); c; c = c.next_sibling()) {
    if (c.type() != pugi::node_element || LocalName(c) != "link") continue;
    std::string href = c.attribute("href").value();
    if (href.empty()) {
      std::string text = NodeText(c);
      if (!text.empty()) return text;
      continue;
    }
    std::string rel = c.attribute("rel").value();
    if (rel.empty() || rel == "alternate") return href;
    if (fallback.empty()) fallback = href;
  }
  if (!fallback.empty()) return fallback;
  pugi::xml_node guid = Child(item, "guid");
  if (guid && std::string_view(guid.attribute("isPermaLink").value()) != "false") {
    std::string g = NodeText(guid);
    if (g.rfind("http", 0) == 0) return g;
  }
  return {};
}

DateTime ItemDate(const pugi::xml_node& item) {
  DateTime d;
  for (const char* name : {"pubDate", "date", "published", "issued", "updated", "modified"}) {
    pugi::xml_node n = Child(item, name);
    if (!n) continue;
    std::string text = NodeText(n);
    if (ParseIsoDate(text, d) || ParseFeedDate(text, d)) return d;
  }
  return DateTime{};
}

void Collect(const pugi::xml_node& node, std::string_view base, std::vector<NewsLink>& out, int depth) {
  if (depth > 8) return;
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
    if (c.type() != pugi::node_element) continue;
    std::string_view local = LocalName(c);
    if (local == "item" || local == "entry") {
      std::string address;
      if (!AcceptLink(ResolveUrl(base, ItemAddress(c)), address)) continue;
      bool seen = false;
      for (const NewsLink& l : out) seen = seen || l.address == address;
      if (!seen) out.push_back({address, ItemDate(c)});
    } else if (local == "channel" || local == "rss" || local == "feed" || local == "RDF") {
      Collect(c, base, out, depth + 1);
    }
  }
}

}  // namespace

bool LooksLikeFeed(std::string_view bytes) {
  std::string_view head = bytes.substr(0, 1024);
  size_t start = head.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
  if (start == std::string_view::npos || head[start] != '<') return false;
  std::string lower = AsciiLower(head);
  return lower.find("<rss") != std::string::npos || lower.find("<feed") != std::string::npos ||
         lower.find("<rdf:rdf") != std::string::npos;
}

std::vector<std::string> AdvertisedFeeds(const HtmlDocument& page) {
  std::vector<std::string> out;
  for (int e = 0; e < page.ElementCount(); ++e) {
    if (page.TagName(e) != "LINK") continue;
    std::string rel = AsciiLower(page.Attribute(e, "rel"));
    std::string type = AsciiLower(page.Attribute(e, "type"));
    if (rel.find("alternate") == std::string::npos) continue;
    if (type != "application/rss+xml" && type != "application/atom+xml" && type != "application/rdf+xml")
      continue;
    std::string href = TrimCopy(page.Attribute(e, "href"));
    if (href.empty()) continue;
    std::string address = ResolveUrl(page.BaseUrl(), href);
    bool seen = false;
    for (const std::string& a : out) seen = seen || a == address;
    if (!seen) out.push_back(address);
  }
  return out;
}

std::vector<NewsLink> ReadFeed(std::string_view bytes, std::string_view base) {
  std::vector<NewsLink> out;
  pugi::xml_document doc;
  // No entity expansion beyond XML's own five and no external documents:
  // pugixml reads neither, so a hostile feed cannot make it fetch or grow.
  pugi::xml_parse_result ok = doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default);
  if (!ok) return out;
  Collect(doc, base, out, 0);
  return out;
}

bool ParseFeedDate(std::string_view text, DateTime& out) {
  static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
  std::string s = AsciiLower(TrimCopy(text));
  size_t comma = s.find(',');
  if (comma != std::string::npos && comma < 10) s.erase(0, comma + 1);
  s = TrimCopy(s);
  // day month year hh:mm[:ss]
  int day = LeadingInt(s);
  size_t sp = s.find(' ');
  if (day <= 0 || sp == std::string::npos) return false;
  std::string rest = TrimCopy(s.substr(sp));
  int month = 0;
  for (int m = 0; m < 12; ++m)
    if (rest.compare(0, 3, kMonths[m]) == 0) month = m + 1;
  sp = rest.find(' ');
  if (month == 0 || sp == std::string::npos) return false;
  rest = TrimCopy(rest.substr(sp));
  int year = LeadingInt(rest);
  if (year < 100) year += 2000;
  int hour = 0, minute = 0, second = 0;
  sp = rest.find(' ');
  if (sp != std::string::npos) {
    std::string t = TrimCopy(rest.substr(sp));
    if (t.size() >= 5 && t[2] == ':') {
      hour = LeadingInt(t);
      minute = LeadingInt(t.substr(3));
      if (t.size() >= 8 && t[5] == ':') second = LeadingInt(t.substr(6));
    }
  }
  DateTime d = DateTime::Make(year, month, day, hour, minute, second);
  if (!d.valid()) return false;
  out = d;
  return true;
}

}  // namespace orvo
