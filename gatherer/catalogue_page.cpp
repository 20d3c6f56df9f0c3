#include <cstdlib>

#include "catalogue.h"
#include "gatherer/masks/html_document.h"

namespace orvo {

Catalogue ReadCatalogue(const HtmlDocument& page) {
  Catalogue cat;
  const int body = page.Body();
  if (body < 0) return cat;
  for (int table : page.Children(body)) {
    if (page.TagName(table) != "TABLE") continue;
    auto sections = page.Children(table);
    if (sections.empty()) continue;
    for (int row : page.Children(sections[0])) {
      ++cat.siteRows;
      const std::string site = page.Attribute(row, "name");
      auto cells = page.Children(row);
      for (size_t i = 0; i < cells.size(); i += 2) {
        const int first = cells[i];
        const int second = i + 1 < cells.size() ? cells[i + 1] : first;
        CataloguePair pair;
        pair.site = site;
        pair.category = page.Attribute(first, "cat");
        pair.listMask = page.Attribute(first, "ListMask");
        pair.listVersion = std::atoi(page.Attribute(first, "Vers").c_str());
        pair.newsMask = page.Attribute(second, "NPMask");
        pair.newsVersion = std::atoi(page.Attribute(second, "Vers").c_str());
        pair.forced = std::atoi(page.Attribute(second, "Fdld").c_str());
        cat.pairs.push_back(std::move(pair));
      }
    }
  }
  return cat;
}

}  // namespace orvo
