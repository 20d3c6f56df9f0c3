// Just enough CSS for binary HTML: which elements are block-level and where
// page breaks fall. Simple selectors only (tag, .class, #id, *, and their
// compounds); rules with combinators or pseudo-classes are ignored.
#ifndef LITGEN_CSS_H
#define LITGEN_CSS_H

#include <string>
#include <string_view>
#include <vector>

namespace orvo::litgen {

struct Style {
    std::string display;          // empty: not set
    std::string pageBreakBefore;  // empty: not set
    std::string pageBreakAfter;
};

// Parses "a: b; c: d" into the properties of Style; later ones win.
void ApplyDeclarations(std::string_view declarations, Style& style);

class StyleSheet {
public:
    void Add(std::string_view css);
    // Cascaded style for an element (inline style not included).
    Style Compute(std::string_view tag, std::string_view classAttr, std::string_view id) const;
    bool Empty() const { return rules_.empty(); }

private:
    struct Rule {
        std::string tag;  // empty or "*": any
        std::vector<std::string> classes;
        std::string id;
        int specificity = 0;
        std::size_t order = 0;
        Style style;
    };
    std::vector<Rule> rules_;
};

}  // namespace orvo::litgen

#endif
