#include "gatherer/masks/feed.h"

#include <pugixml.hpp>

#include <cstring>
#include <ctime>

#include "gatherer/masks/date_parse.h"
#include "gatherer/masks/picture_source.h"
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

namespace {

// A feed element's whole text, CDATA and character data alike.
std::string AllText(const pugi::xml_node& n) {
  std::string out;
  for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) out += c.value();
  return out;
}

// Titles and names may carry HTML entities and markup ("&amp;eacute;",
// "<b>"): they are read as a browser shows them.
std::string PlainText(std::string_view text) {
  std::string t = TrimCopy(text);
  if (t.find_first_of("&<") == std::string::npos) return t;
  HtmlDocument doc = HtmlDocument::Parse("<html><body><p>" + t + "</p></body></html>");
  if (doc.Body() < 0) return t;
  std::string shown = doc.InnerText(doc.Body());
  for (char& c : shown)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  return TrimCopy(shown);
}

// xml:base of node and its ancestors applied to base, outermost first.
std::string BaseOf(const pugi::xml_node& node, std::string_view base) {
  std::vector<std::string> chain;
  for (pugi::xml_node n = node; n && n.type() == pugi::node_element; n = n.parent())
    if (pugi::xml_attribute a = n.attribute("xml:base")) chain.push_back(a.value());
  std::string b(base);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) b = ResolveUrl(b, *it);
  return b;
}

std::string EntryAddress(const pugi::xml_node& item, std::string_view base) {
  std::string fallback;
  for (pugi::xml_node c = item.first_child(); c; c = c.next_sibling()) {
    if (c.type() != pugi::node_element || LocalName(c) != "link") continue;
    std::string href = c.attribute("href").value();
    if (href.empty()) {
      std::string text = TrimCopy(AllText(c));
      if (!text.empty()) return ResolveUrl(BaseOf(c, base), text);
      continue;
    }
    std::string rel = c.attribute("rel").value();
    if (rel.empty() || rel == "alternate") return ResolveUrl(BaseOf(c, base), href);
    if (fallback.empty()) fallback = ResolveUrl(BaseOf(c, base), href);
  }
  if (!fallback.empty()) return fallback;
  pugi::xml_node guid = Child(item, "guid");
  if (guid && std::string_view(guid.attribute("isPermaLink").value()) != "false") {
    std::string g = TrimCopy(AllText(guid));
    if (g.rfind("http", 0) == 0) return g;
  }
  // RSS 1.0 names each item by its address.
  std::string about = item.attribute("rdf:about").value();
  if (about.rfind("http", 0) == 0) return about;
  return {};
}

std::string EntryAuthor(const pugi::xml_node& item) {
  if (pugi::xml_node a = Child(item, "author")) {
    // Atom: <author><name>; RSS: an e-mail address, often "mail (Name)".
    if (pugi::xml_node name = Child(a, "name")) return PlainText(AllText(name));
    std::string text = PlainText(AllText(a));
    size_t open = text.find('('), close = text.rfind(')');
    if (open != std::string::npos && close != std::string::npos && close > open)
      return TrimCopy(text.substr(open + 1, close - open - 1));
    return text;
  }
  if (pugi::xml_node c = Child(item, "creator")) return PlainText(AllText(c));
  return {};
}

// Atom text constructs: type="xhtml" holds markup as elements.
std::string ContentOf(const pugi::xml_node& n) {
  if (std::string_view(n.attribute("type").value()) != "xhtml") return AllText(n);
  struct Writer : pugi::xml_writer {
    std::string out;
    void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
  } w;
  for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) c.print(w, "", pugi::format_raw);
  return w.out;
}

FeedEntry ReadEntry(const pugi::xml_node& item, std::string_view base) {
  FeedEntry e;
  e.address = EntryAddress(item, base);
  if (pugi::xml_node t = Child(item, "title")) e.title = PlainText(ContentOf(t));
  e.author = EntryAuthor(item);
  if (pugi::xml_node c = Child(item, "encoded")) {
    e.content = AllText(c);
  } else if (pugi::xml_node c = Child(item, "content"); c && !c.attribute("src")) {
    e.content = ContentOf(c);
  }
  e.fullContent = !TrimCopy(e.content).empty();
  if (!e.fullContent) {
    if (pugi::xml_node d = Child(item, "description"))
      e.content = AllText(d);
    else if (pugi::xml_node d = Child(item, "summary"))
      e.content = ContentOf(d);
  }
  for (const char* name : {"pubDate", "published", "date", "issued", "updated", "modified"}) {
    pugi::xml_node n = Child(item, name);
    if (n && ParseEntryDate(AllText(n), e.date)) break;
  }
  return e;
}

void CollectEntries(const pugi::xml_node& node, std::string_view base, ParsedFeed& feed, int depth) {
  if (depth > 8) return;
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
    if (c.type() != pugi::node_element) continue;
    std::string_view local = LocalName(c);
    if (local == "item" || local == "entry") {
      FeedEntry e = ReadEntry(c, base);
      std::string accepted;
      if (e.address.empty() || !AcceptLink(e.address, accepted) || accepted.rfind("http", 0) != 0) {
        ++feed.skipped;
        continue;
      }
      e.address = accepted;
      bool seen = false;
      for (const FeedEntry& f : feed.entries) seen = seen || f.address == e.address;
      if (!seen) feed.entries.push_back(std::move(e));
    } else if (local == "channel") {
      if (feed.title.empty()) {
        if (pugi::xml_node t = Child(c, "title")) feed.title = PlainText(AllText(t));
        if (pugi::xml_node l = Child(c, "link")) feed.siteUrl = ResolveUrl(BaseOf(c, base), TrimCopy(AllText(l)));
      }
      CollectEntries(c, base, feed, depth + 1);
    }
  }
}

// Zone offsets of RFC 822, in minutes east of UTC.
bool ZoneOffset(std::string_view zone, int& minutes) {
  static const struct {
    const char* name;
    int offset;
  } kZones[] = {{"gmt", 0},    {"ut", 0},     {"utc", 0},    {"z", 0},      {"est", -300}, {"edt", -240},
                {"cst", -360}, {"cdt", -300}, {"mst", -420}, {"mdt", -360}, {"pst", -480}, {"pdt", -420}};
  std::string z = AsciiLower(TrimCopy(zone));
  if (z.empty()) return false;
  if ((z[0] == '+' || z[0] == '-') && z.size() >= 3) {
    std::string digits;
    for (char c : z.substr(1))
      if (c >= '0' && c <= '9') digits += c;
    if (digits.size() != 4 && digits.size() != 2) return false;
    int h = std::stoi(digits.substr(0, 2)), m = digits.size() == 4 ? std::stoi(digits.substr(2)) : 0;
    if (h > 14 || m > 59) return false;
    minutes = (z[0] == '-' ? -1 : 1) * (h * 60 + m);
    return true;
  }
  for (const auto& k : kZones)
    if (z == k.name) {
      minutes = k.offset;
      return true;
    }
  return false;
}

// A UTC wall-clock time moved by -offset into local time.
DateTime ToLocal(const DateTime& d, int offsetMinutes) {
  std::tm tm{};
  tm.tm_year = d.year - 1900;
  tm.tm_mon = d.month - 1;
  tm.tm_mday = d.day;
  tm.tm_hour = d.hour;
  tm.tm_min = d.minute;
  tm.tm_sec = d.second;
  std::time_t t = ::timegm(&tm) - std::time_t(offsetMinutes) * 60;
  std::tm local{};
  if (!::localtime_r(&t, &local)) return d;
  return DateTime::Make(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                        local.tm_sec);
}

// "2024-03-05T14:30:00.123+01:00", "2024-03-05 14:30Z", "2024-03-05".
bool ParseW3cDate(std::string_view s, DateTime& out) {
  auto num = [&](size_t at, size_t n, int& v) {
    if (at + n > s.size()) return false;
    v = 0;
    for (size_t i = at; i < at + n; ++i) {
      if (s[i] < '0' || s[i] > '9') return false;
      v = v * 10 + (s[i] - '0');
    }
    return true;
  };
  int y, mo = 1, d = 1, h = 0, mi = 0, se = 0;
  if (!num(0, 4, y)) return false;
  size_t i = 4;
  if (i < s.size() && s[i] == '-') {
    if (!num(i + 1, 2, mo)) return false;
    i += 3;
    if (i < s.size() && s[i] == '-') {
      if (!num(i + 1, 2, d)) return false;
      i += 3;
    }
  }
  bool timed = false;
  if (i < s.size() && (s[i] == 'T' || s[i] == 't' || s[i] == ' ') && num(i + 1, 2, h) && i + 3 < s.size() &&
      s[i + 3] == ':' && num(i + 4, 2, mi)) {
    timed = true;
    i += 6;
    if (i < s.size() && s[i] == ':' && num(i + 1, 2, se)) i += 3;
    if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
      ++i;
      while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    }
  }
  DateTime dt = DateTime::Make(y, mo, d, h, mi, se);
  if (!dt.valid()) return false;
  int offset = 0;
  if (timed && i < s.size() && ZoneOffset(s.substr(i), offset))
    dt = ToLocal(dt, offset);
  else if (i < s.size() && !TrimCopy(s.substr(i)).empty() && !timed)
    return false;
  out = dt;
  return true;
}

}  // namespace

bool ParseEntryDate(std::string_view text, DateTime& out) {
  const std::string s = TrimCopy(text);
  if (s.empty()) return false;
  if (ParseW3cDate(s, out)) return true;
  DateTime d;
  if (!ParseFeedDate(s, d)) return false;
  // The zone is the last word after the time, when there is one.
  std::vector<std::string> words;
  size_t start = 0;
  while (start < s.size()) {
    size_t end = s.find(' ', start);
    if (end == std::string::npos) end = s.size();
    if (end > start) words.push_back(s.substr(start, end - start));
    start = end + 1;
  }
  int offset = 0;
  if (words.size() >= 2 && words[words.size() - 2].find(':') != std::string::npos && ZoneOffset(words.back(), offset))
    d = ToLocal(d, offset);
  out = d;
  return true;
}

ParsedFeed ParseFeed(std::string_view bytes, std::string_view base) {
  ParsedFeed feed;
  pugi::xml_document doc;
  // pugixml expands only XML's own five entities and character references,
  // never a document type's: a hostile feed cannot make it grow or fetch.
  pugi::xml_parse_result r = doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default);
  if (!r) {
    feed.error =
        std::string("the feed is not well-formed XML: ") + r.description() + " at byte " + std::to_string(r.offset);
    return feed;
  }
  pugi::xml_node root = doc.document_element();
  std::string_view local = LocalName(root);
  const std::string rootBase = BaseOf(root, base);
  if (local == "rss") {
    std::string v = root.attribute("version").value();
    feed.format = "RSS " + (v.empty() ? std::string("2.0") : v);
  } else if (local == "RDF") {
    feed.format = "RSS 1.0";
  } else if (local == "feed") {
    feed.format = "Atom 1.0";
    if (pugi::xml_node t = Child(root, "title")) feed.title = PlainText(ContentOf(t));
    for (pugi::xml_node l = root.first_child(); l; l = l.next_sibling())
      if (l.type() == pugi::node_element && LocalName(l) == "link" &&
          (l.attribute("rel").empty() || std::string_view(l.attribute("rel").value()) == "alternate")) {
        feed.siteUrl = ResolveUrl(rootBase, l.attribute("href").value());
        break;
      }
  } else {
    feed.error = "the document is XML but neither RSS nor Atom (its root is <" + std::string(root.name()) + ">)";
    return feed;
  }
  CollectEntries(root, base, feed, 0);
  feed.ok = true;
  return feed;
}

void ComposeFeedContent(std::string_view html, std::string_view base, ExtractionState& state) {
  HtmlDocument doc = HtmlDocument::Parse("<html><body>" + std::string(html) + "</body></html>", std::string(base));
  const int body = doc.Body();
  if (body < 0) return;
  // Only what a reader sees: InnerText leaves scripts, styles and hidden
  // elements out; markup never passes into the body, only escaped text.
  std::string text = doc.InnerText(body);
  size_t start = 0;
  bool first = true;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = TrimCopy(std::string_view(text).substr(start, end - start));
    if (!line.empty()) {
      if (!first) AddParagraph(state, "1");
      AppendEscapedBodyText(state.body, line);
      first = false;
    }
    start = end + 1;
  }
  for (int e = body; e < doc.ElementCount(); ++e) {
    if (doc.TagName(e) != "IMG") continue;
    std::string src = PictureSource(doc, e);
    if (src.empty() || src.rfind("http", 0) != 0) continue;
    AddParagraph(state, "1");
    AddImage(state, src);
  }
}

}  // namespace orvo
