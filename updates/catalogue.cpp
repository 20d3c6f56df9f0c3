#include "updates/catalogue.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "text.h"

namespace orvo::updates {

size_t Catalogue::PairCount() const {
  size_t n = 0;
  for (const auto& s : sites) n += s.pairs.size();
  return n;
}

namespace {

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string TrimSpaces(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t bar = line.find('|', start);
    fields.push_back(TrimSpaces(line.substr(start, bar == std::string::npos ? std::string::npos : bar - start)));
    if (bar == std::string::npos) return fields;
    start = bar + 1;
  }
}

// Offset of the first byte that does not belong to well-formed UTF-8, or npos.
size_t FirstBadUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len;
    unsigned min;
    unsigned cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2, min = 0x80, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3, min = 0x800, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4, min = 0x10000, cp = c & 0x07;
    } else {
      return i;
    }
    if (i + len > s.size()) return i;
    for (size_t k = 1; k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return i;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return i;
    i += len;
  }
  return std::string::npos;
}

bool ParseWhole(const std::string& text, long long* value) {
  if (text.empty() || text.size() > 12) return false;
  long long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

bool IsMaskFileName(const std::string& name) {
  if (name.empty() || name[0] == '.' || name.size() > 200) return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
              c == '-';
    if (!ok) return false;
  }
  return true;
}

// Reads a whole file; an empty optional-like result is signalled through *error.
bool ReadWholeFile(const std::string& path, std::string* content, std::string* error) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    *error = errno == ENOENT ? "does not exist" : std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = "is not a plain file";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot be read (check its permissions)";
    return false;
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  *content = ss.str();
  return true;
}

class Loader {
 public:
  explicit Loader(std::string folder) : folder_(std::move(folder)), index_(Join(folder_, kIndexFile)) {}

  LoadResult Run() {
    LoadResult result;
    auto catalogue = std::make_shared<Catalogue>();
    if (ReadIndex(*catalogue) && ReadMasks(*catalogue)) {
      CheckVersions(*catalogue);
      ListUnusedMasks(*catalogue);
      result.catalogue = std::move(catalogue);
    } else {
      result.error = error_;
    }
    result.warnings = std::move(warnings_);
    return result;
  }

 private:
  bool Fail(int line, const std::string& what) {
    error_ = index_ + (line > 0 ? ":" + std::to_string(line) : "") + ": " + what;
    return false;
  }

  bool CheckName(int line, const char* kind, const std::string& name) {
    if (name.empty()) return Fail(line, std::string("the ") + kind + " name is empty");
    if (FirstBadUtf8(name) != std::string::npos)
      return Fail(line, std::string("the ") + kind + " name is not UTF-8 text; save " + kIndexFile + " as UTF-8");
    if (CutChars(name, kMaxNameChars).size() != name.size())
      return Fail(line, std::string("the ") + kind + " name is longer than " + std::to_string(kMaxNameChars) +
                            " characters; shorten it");
    for (unsigned char c : name)
      if (c < 0x20 || c == 0x7F) return Fail(line, std::string("the ") + kind + " name holds a control character");
    if (name.find('\'') != std::string::npos)
      warnings_.push_back(index_ + ":" + std::to_string(line) + ": the " + kind + " name \"" + name +
                          "\" holds an apostrophe, which some older clients cannot store");
    return true;
  }

  bool ParseVersion(int line, const char* which, const std::string& text, int* version) {
    long long v = 0;
    if (!ParseWhole(text, &v) || v > INT_MAX)
      return Fail(line, std::string("the ") + which + " version \"" + text +
                            "\" is not a whole number; write a number from 2 to 2147483647");
    if (v < 2)
      return Fail(line, std::string("the ") + which + " version is " + std::to_string(v) +
                            "; versions start at 2, because clients give 1 to a mask they have not fetched yet"
                            " and would never fetch a mask of version 1");
    *version = static_cast<int>(v);
    return true;
  }

  bool CheckMaskName(int line, const char* which, const std::string& name) {
    if (IsMaskFileName(name)) return true;
    return Fail(line, std::string("the ") + which + " mask \"" + name +
                          "\" is not a file name in masks/ (use letters, digits, '.', '_' and '-' only)");
  }

  bool ReadIndex(Catalogue& catalogue) {
    std::string text, why;
    if (!ReadWholeFile(index_, &text, &why))
      return Fail(0, why + "; a catalogue folder holds " + kIndexFile + " and a " + kMaskFolder + "/ folder");
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);

    std::map<std::pair<std::string, std::string>, int> seen;  // (site, category) -> line
    std::istringstream in(text);
    std::string raw;
    int line = 0;
    while (std::getline(in, raw)) {
      ++line;
      if (!raw.empty() && raw.back() == '\r') raw.pop_back();
      std::string trimmed = TrimSpaces(raw);
      if (trimmed.empty() || trimmed[0] == '#') continue;
      std::vector<std::string> f = SplitFields(trimmed);
      if (f.size() != 6 && f.size() != 7)
        return Fail(line, "found " + std::to_string(f.size()) +
                              " fields; a line reads: site | category | list mask | version | news-page mask | "
                              "version [| refetch]");
      CataloguePair pair;
      pair.line = line;
      pair.category = f[1];
      pair.list_mask = f[2];
      pair.news_mask = f[4];
      if (!CheckName(line, "site", f[0]) || !CheckName(line, "category", f[1])) return false;
      if (!CheckMaskName(line, "list", f[2]) || !ParseVersion(line, "list mask", f[3], &pair.list_version))
        return false;
      if (!CheckMaskName(line, "news-page", f[4]) || !ParseVersion(line, "news-page mask", f[5], &pair.news_version))
        return false;
      if (f.size() == 7) {
        long long v = 0;
        if (!ParseWhole(f[6], &v) || v > INT_MAX)
          return Fail(line, "the refetch flag \"" + f[6] + "\" is not a whole number; write 0 (or leave it out) or 1");
        pair.refetch = static_cast<int>(v);
      }
      auto [it, fresh] = seen.emplace(std::make_pair(f[0], f[1]), line);
      if (!fresh)
        return Fail(line, "the pair " + f[0] + " / " + f[1] + " is listed twice (first on line " +
                              std::to_string(it->second) + "); remove one of the lines");
      auto site = std::find_if(catalogue.sites.begin(), catalogue.sites.end(),
                               [&](const CatalogueSite& s) { return s.name == f[0]; });
      if (site == catalogue.sites.end()) {
        catalogue.sites.push_back(CatalogueSite{f[0], {}});
        site = catalogue.sites.end() - 1;
      }
      site->pairs.push_back(std::move(pair));
    }
    if (catalogue.sites.empty())
      return Fail(0, "lists no site/category pair; clients would withdraw every mask they hold. Add a line: "
                     "site | category | list mask | version | news-page mask | version");
    return true;
  }

  bool ReadMask(Catalogue& catalogue, const std::string& name, int line) {
    if (catalogue.masks.count(name)) return true;
    std::string relative = std::string(kMaskFolder) + "/" + name;
    std::string path = Join(Join(folder_, kMaskFolder), name);
    std::string text, why;
    if (!ReadWholeFile(path, &text, &why))
      return Fail(line, "the mask file " + relative + " " + why + "; create it or correct the name");
    if (text.empty()) {
      error_ = path + ": the mask is empty; clients would store an empty mask and skip the pair";
      return false;
    }
    size_t placeholders = 0;
    for (size_t at = text.find(kServerPlaceholder); at != std::string::npos;
         at = text.find(kServerPlaceholder, at + 1))
      ++placeholders;
    size_t room = placeholders * (kPlaceholderRoom - std::strlen(kServerPlaceholder));
    if (text.size() + room > kMaxMaskBytes) {
      error_ = path + ": " + std::to_string(text.size()) + " bytes" +
               (placeholders ? " (with room for the server address)" : "") + " is more than the " +
               std::to_string(kMaxMaskBytes) + " bytes clients keep of a mask; shorten it";
      return false;
    }
    if (size_t bad = FirstBadUtf8(text); bad != std::string::npos) {
      error_ = path + ": the byte at offset " + std::to_string(bad) + " is not UTF-8; save the mask as UTF-8";
      return false;
    }
    catalogue.masks.emplace(name, std::move(text));
    return true;
  }

  bool ReadMasks(Catalogue& catalogue) {
    for (const auto& site : catalogue.sites)
      for (const auto& pair : site.pairs)
        if (!ReadMask(catalogue, pair.list_mask, pair.line) || !ReadMask(catalogue, pair.news_mask, pair.line))
          return false;
    return true;
  }

  // One file listed with two versions is legal, but a raised version on one
  // line and not the other is a common slip: clients holding the pair with
  // the old number keep the old text.
  void CheckVersions(const Catalogue& catalogue) {
    std::map<std::string, std::pair<int, int>> first;  // mask -> (version, line)
    auto check = [&](const std::string& mask, int version, int line) {
      auto [it, fresh] = first.emplace(mask, std::make_pair(version, line));
      if (!fresh && it->second.first != version)
        warnings_.push_back(index_ + ":" + std::to_string(line) + ": " + mask + " has version " +
                            std::to_string(version) + " here and " + std::to_string(it->second.first) + " on line " +
                            std::to_string(it->second.second) +
                            "; clients fetch a changed mask only for the lines whose version changed");
    };
    for (const auto& site : catalogue.sites)
      for (const auto& pair : site.pairs) {
        check(pair.list_mask, pair.list_version, pair.line);
        check(pair.news_mask, pair.news_version, pair.line);
      }
  }

  void ListUnusedMasks(const Catalogue& catalogue) {
    std::string dir = Join(folder_, kMaskFolder);
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    std::set<std::string> unused;
    while (dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      if (name[0] == '.' || name.back() == '~') continue;
      if (!catalogue.masks.count(name)) unused.insert(name);
    }
    ::closedir(d);
    for (const auto& name : unused)
      warnings_.push_back(Join(dir, name) + ": not named in " + kIndexFile + ", so no client gets it");
  }

  std::string folder_;
  std::string index_;
  std::string error_;
  std::vector<std::string> warnings_;
};

void AppendStat(std::string& out, const std::string& name, const std::string& path) {
  struct stat st;
  out += name;
  if (::stat(path.c_str(), &st) != 0) {
    out += ":-\n";
    return;
  }
  out += ":" + std::to_string(st.st_size) + ":" + std::to_string(st.st_ino) + ":" +
         std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + ":" +
         std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec) + "\n";
}

std::string EscapeHtml(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

LoadResult LoadCatalogue(const std::string& folder) { return Loader(folder).Run(); }

std::string FolderFingerprint(const std::string& folder) {
  std::string out;
  AppendStat(out, kIndexFile, Join(folder, kIndexFile));
  std::string dir = Join(folder, kMaskFolder);
  AppendStat(out, kMaskFolder, dir);
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  for (const auto& name : names) AppendStat(out, name, Join(dir, name));
  return out;
}

std::string RenderCataloguePage(const Catalogue& catalogue) {
  std::string page =
      "<!DOCTYPE html>\n<html><head>\n"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n"
      "<title>ORVO catalogue</title>\n</head>\n<body>\n<table border=\"1\">\n<tbody>\n";
  for (const auto& site : catalogue.sites) {
    page += "<tr name=\"" + EscapeHtml(site.name) + "\">";
    for (const auto& p : site.pairs) {
      page += "\n <td cat=\"" + EscapeHtml(p.category) + "\" ListMask=\"" + EscapeHtml(p.list_mask) + "\" Vers=\"" +
              std::to_string(p.list_version) + "\">" + EscapeHtml(site.name) + " / " + EscapeHtml(p.category) +
              "</td>";
      page += "<td NPMask=\"" + EscapeHtml(p.news_mask) + "\" Vers=\"" + std::to_string(p.news_version) +
              "\" Fdld=\"" + std::to_string(p.refetch) + "\">" + EscapeHtml(p.list_mask) + " v" +
              std::to_string(p.list_version) + ", " + EscapeHtml(p.news_mask) + " v" +
              std::to_string(p.news_version) + "</td>";
    }
    page += "\n</tr>\n";
  }
  page += "</tbody>\n</table>\n</body></html>\n";
  return page;
}

std::string ExpandMask(const std::string& text, const std::string& origin) {
  std::string out;
  const std::string placeholder = kServerPlaceholder;
  size_t from = 0;
  for (size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, from)) {
    out.append(text, from, at - from);
    out += origin;
    from = at + placeholder.size();
  }
  out.append(text, from, std::string::npos);
  return out;
}

}  // namespace orvo::updates
