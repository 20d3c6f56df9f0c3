#include "css.h"

#include <algorithm>
#include <cctype>

#include "bytes.h"

namespace orvo::litgen {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::string StripComments(std::string_view css) {
    std::string out;
    out.reserve(css.size());
    for (std::size_t i = 0; i < css.size(); ++i) {
        if (css[i] == '/' && i + 1 < css.size() && css[i + 1] == '*') {
            std::size_t end = css.find("*/", i + 2);
            if (end == std::string_view::npos) break;
            i = end + 1;
            continue;
        }
        out.push_back(css[i]);
    }
    return out;
}

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// Parses one compound selector; false when it uses anything beyond tag/class/id.
template <typename Rule>
bool ParseSelector(std::string_view sel, Rule& rule) {
    sel = Trim(sel);
    if (sel.empty()) return false;
    std::size_t i = 0;
    auto readName = [&]() {
        std::size_t start = i;
        while (i < sel.size() && IsNameChar(sel[i])) ++i;
        return std::string(sel.substr(start, i - start));
    };
    if (sel[0] == '*') {
        i = 1;
    } else if (IsNameChar(sel[0])) {
        rule.tag = ToLowerAscii(readName());
        rule.specificity += 1;
    }
    while (i < sel.size()) {
        char c = sel[i++];
        std::string name = readName();
        if (name.empty()) return false;
        if (c == '.') {
            rule.classes.push_back(name);
            rule.specificity += 100;
        } else if (c == '#') {
            if (!rule.id.empty()) return false;
            rule.id = name;
            rule.specificity += 10000;
        } else {
            return false;
        }
    }
    return true;
}

bool HasClass(std::string_view classAttr, std::string_view cls) {
    std::size_t i = 0;
    while (i < classAttr.size()) {
        while (i < classAttr.size() && std::isspace(static_cast<unsigned char>(classAttr[i]))) ++i;
        std::size_t start = i;
        while (i < classAttr.size() && !std::isspace(static_cast<unsigned char>(classAttr[i]))) ++i;
        if (i > start && classAttr.substr(start, i - start) == cls) return true;
    }
    return false;
}

void Merge(Style& into, const Style& from) {
    if (!from.display.empty()) into.display = from.display;
    if (!from.pageBreakBefore.empty()) into.pageBreakBefore = from.pageBreakBefore;
    if (!from.pageBreakAfter.empty()) into.pageBreakAfter = from.pageBreakAfter;
}

}  // namespace

void ApplyDeclarations(std::string_view decls, Style& style) {
    std::size_t start = 0;
    while (start <= decls.size()) {
        std::size_t end = decls.find(';', start);
        std::string_view decl = decls.substr(start, end == std::string_view::npos ? end : end - start);
        std::size_t colon = decl.find(':');
        if (colon != std::string_view::npos) {
            std::string prop = ToLowerAscii(Trim(decl.substr(0, colon)));
            std::string value = ToLowerAscii(Trim(decl.substr(colon + 1)));
            std::size_t bang = value.find('!');
            if (bang != std::string::npos) value = std::string(Trim(value.substr(0, bang)));
            if (prop == "display") style.display = value;
            else if (prop == "page-break-before") style.pageBreakBefore = value;
            else if (prop == "page-break-after") style.pageBreakAfter = value;
        }
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
}

void StyleSheet::Add(std::string_view source) {
    std::string css = StripComments(source);
    std::size_t i = 0;
    while (i < css.size()) {
        std::size_t open = css.find('{', i);
        std::size_t semi = css.find(';', i);
        if (open == std::string::npos) break;
        std::string_view prelude = Trim(std::string_view(css).substr(i, open - i));
        if (!prelude.empty() && prelude[0] == '@') {
            if (semi != std::string::npos && semi < open) {  // @import ...; @charset ...;
                i = semi + 1;
                continue;
            }
            // Skip the whole at-rule block, nested braces included.
            int depth = 0;
            std::size_t j = open;
            for (; j < css.size(); ++j) {
                if (css[j] == '{') ++depth;
                else if (css[j] == '}' && --depth == 0) break;
            }
            i = j + 1;
            continue;
        }
        std::size_t close = css.find('}', open);
        if (close == std::string::npos) close = css.size();
        Style style;
        ApplyDeclarations(std::string_view(css).substr(open + 1, close - open - 1), style);
        std::size_t s = 0;
        while (s <= prelude.size()) {
            std::size_t comma = prelude.find(',', s);
            Rule rule;
            if (ParseSelector(prelude.substr(s, comma == std::string_view::npos ? comma : comma - s), rule)) {
                rule.order = rules_.size();
                rule.style = style;
                rules_.push_back(std::move(rule));
            }
            if (comma == std::string_view::npos) break;
            s = comma + 1;
        }
        i = close + 1;
    }
}

Style StyleSheet::Compute(std::string_view tag, std::string_view classAttr, std::string_view id) const {
    std::vector<const Rule*> hits;
    for (const Rule& r : rules_) {
        if (!r.tag.empty() && r.tag != tag) continue;
        if (!r.id.empty() && r.id != id) continue;
        bool all = true;
        for (const std::string& c : r.classes)
            if (!HasClass(classAttr, c)) {
                all = false;
                break;
            }
        if (all) hits.push_back(&r);
    }
    std::stable_sort(hits.begin(), hits.end(), [](const Rule* a, const Rule* b) {
        return a->specificity != b->specificity ? a->specificity < b->specificity : a->order < b->order;
    });
    Style style;
    for (const Rule* r : hits) Merge(style, r->style);
    return style;
}

}  // namespace orvo::litgen
