#include "tables.h"

#include <sstream>
#include <vector>

#include "bytes.h"

namespace orvo::litgen {
namespace data {
extern const char* const kHtmlTags;
extern const char* const kHtmlAttrsGlobal;
extern const char* const kHtmlAttrsPerTag;
extern const char* const kOpfTags;
extern const char* const kOpfAttrs;
extern const char* const kDesSboxes;
extern const char* const kDesVariantP;
}  // namespace data

namespace {

std::vector<std::vector<std::string>> Rows(const char* tsv) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(tsv);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cells;
        std::size_t start = 0;
        for (;;) {
            std::size_t tab = line.find('\t', start);
            cells.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        rows.push_back(std::move(cells));
    }
    return rows;
}

std::uint32_t Num(const std::string& s) { return static_cast<std::uint32_t>(std::stoul(s, nullptr, 0)); }

CodeTables Build() {
    CodeTables t;
    for (const auto& r : Rows(data::kHtmlTags)) t.htmlTags[ToLowerAscii(r.at(2))] = Num(r.at(0));
    for (const auto& r : Rows(data::kHtmlAttrsGlobal)) t.htmlGlobalAttrs[ToLowerAscii(r.at(2))] = Num(r.at(0));
    for (const auto& r : Rows(data::kHtmlAttrsPerTag))
        t.htmlTagAttrs[Num(r.at(0))][ToLowerAscii(r.at(4))] = Num(r.at(2));
    for (const auto& r : Rows(data::kOpfTags)) t.opfTags[ToLowerAscii(r.at(2))] = Num(r.at(0));
    // href is listed twice; the later code (7) is the one readers expect.
    for (const auto& r : Rows(data::kOpfAttrs)) t.opfAttrs[ToLowerAscii(r.at(2))] = Num(r.at(0));
    for (const auto& r : Rows(data::kDesSboxes)) {
        std::uint32_t box = Num(r.at(0)) - 1, row = Num(r.at(1));
        for (int c = 0; c < 16; ++c) t.desSbox[box][row][c] = static_cast<std::uint8_t>(Num(r.at(2 + c)));
    }
    for (const auto& r : Rows(data::kDesVariantP))
        t.desVariantP[Num(r.at(0)) - 1] = static_cast<std::uint8_t>(Num(r.at(1)));
    return t;
}

}  // namespace

const CodeTables& Tables() {
    static const CodeTables tables = Build();
    return tables;
}

}  // namespace orvo::litgen
