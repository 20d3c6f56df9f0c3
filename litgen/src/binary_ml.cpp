#include "binary_ml.h"

#include <cstring>

#include "tables.h"

namespace orvo::litgen {
namespace {

constexpr std::uint8_t kOpen = 0x01, kClose = 0x02, kBlock = 0x04, kHead = 0x08;
constexpr std::uint32_t kCustom = 0x8000;
constexpr std::uint32_t kNumber = 0xFFFF;
// Sizes are written as one code point; keep them below the surrogate range.
constexpr std::size_t kMaxChars = 0xD7FE;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

bool IsBlockTag(const std::string& t) {
    static const char* const kBlocks[] = {"address", "blockquote", "body", "center", "dd", "dir", "div", "dl",
                                          "dt", "form", "h1", "h2", "h3", "h4", "h5", "h6", "hr", "li", "menu",
                                          "ol", "p", "pre", "table", "tbody", "td", "tfoot", "th", "thead",
                                          "tr", "ul", "br", "head", "title", "meta", "link", "style", "script",
                                          "base"};
    for (const char* b : kBlocks)
        if (t == b) return true;
    return false;
}

// Plain non-negative decimal without sign or leading zeros, small enough.
bool AsNumber(const std::string& v, std::uint32_t& n) {
    if (v.empty() || v.size() > 5) return false;
    if (v.size() > 1 && v[0] == '0') return false;
    std::uint32_t x = 0;
    for (char c : v) {
        if (c < '0' || c > '9') return false;
        x = x * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (x + 1 >= 0xD800) return false;
    n = x;
    return true;
}

// Drops NUL and, past kMaxChars code points, the rest.
std::string Clip(std::string_view s, bool& clipped) {
    std::string out;
    out.reserve(s.size());
    std::size_t chars = 0;
    clipped = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == 0) continue;
        if ((c & 0xC0) != 0x80) {
            if (chars == kMaxChars) {
                clipped = true;
                break;
            }
            ++chars;
        }
        out.push_back(static_cast<char>(c));
    }
    return out;
}

}  // namespace

BinaryEncoder::BinaryEncoder(Dialect dialect, LinkResolver resolver, const StyleSheet* css)
    : dialect_(dialect), resolver_(std::move(resolver)), css_(css) {}

bool BinaryEncoder::Fail(std::string message) {
    if (error_.empty()) error_ = std::move(message);
    return false;
}

void BinaryEncoder::WriteSizedString(std::string_view s) {
    bool clipped = false;
    std::string v = Clip(s, clipped);
    if (clipped) warnings_.push_back("a value longer than 55,000 characters was cut short");
    PutCharInt(out_, static_cast<std::uint32_t>(CountCodePoints(v) + 1));
    PutBytes(out_, v);
}

void BinaryEncoder::WriteAttribute(std::uint32_t tagCode, bool customTag, const std::string& name,
                                   const std::string& value, const std::string& tagLower) {
    const CodeTables& t = Tables();
    std::string key = ToLowerAscii(name);
    std::uint32_t code = 0;
    if (dialect_ == Dialect::Opf) {
        auto it = t.opfAttrs.find(key);
        if (it != t.opfAttrs.end()) code = it->second;
    } else {
        if (!customTag) {
            auto tagIt = t.htmlTagAttrs.find(tagCode);
            if (tagIt != t.htmlTagAttrs.end()) {
                auto it = tagIt->second.find(key);
                if (it != tagIt->second.end()) code = it->second;
            }
        }
        if (code == 0) {
            auto it = t.htmlGlobalAttrs.find(key);
            if (it != t.htmlGlobalAttrs.end()) code = it->second;
        }
    }
    if (code != 0) {
        PutCharInt(out_, code);
    } else {
        PutCharInt(out_, kCustom);
        WriteSizedString(name);
    }

    if ((key == "href" || key == "src") && resolver_) {
        WriteSizedString(resolver_(value));
        return;
    }
    std::string v = value;
    if (dialect_ == Dialect::Html && tagLower == "link" && key == "type" &&
        (v == "text/x-oeb1-css" || v == "text/x-oeb-css"))
        v = "text/css";
    std::uint32_t n = 0;
    if (AsNumber(v, n)) {
        PutCharInt(out_, kNumber);
        PutCharInt(out_, n + 1);
    } else {
        WriteSizedString(v);
    }
}

void BinaryEncoder::FlushSpace() {
    if (pendingSpace_ && !suppressSpace_) {
        out_.push_back(' ');
        suppressSpace_ = true;
    }
    pendingSpace_ = false;
}

void BinaryEncoder::Boundary() {
    pendingSpace_ = false;
    suppressSpace_ = true;
}

bool BinaryEncoder::Start(const std::string& name, const Attributes& attrs, bool hasChildren) {
    if (finished_) return Fail("an element after the document was finished");
    if (stack_.empty() && sawRoot_) return Fail("a second root element <" + name + ">");
    if (name.empty()) return Fail("an element without a name");
    sawRoot_ = true;
    const CodeTables& t = Tables();
    std::string lower = ToLowerAscii(name);

    std::uint8_t flags = 0;
    bool pre = !stack_.empty() && stack_.back().pre;
    bool breakBefore = false, breakAfter = false, boundary = true;
    if (dialect_ == Dialect::Html) {
        bool inHead = !stack_.empty() && (stack_.back().flags & kHead);
        if (lower == "head" || inHead) flags |= kHead | kBlock;
        std::string cls, id, inlineStyle;
        for (const auto& [k, v] : attrs) {
            std::string lk = ToLowerAscii(k);
            if (lk == "class") cls = v;
            else if (lk == "id") id = v;
            else if (lk == "style") inlineStyle = v;
            else if (lk == "xml:space") pre = pre || v == "preserve";
        }
        Style style;
        if (css_ && !css_->Empty()) style = css_->Compute(lower, cls, id);
        if (!inlineStyle.empty()) ApplyDeclarations(inlineStyle, style);
        bool block = IsBlockTag(lower);
        if (!style.display.empty()) block = style.display != "inline" && style.display != "inline-block";
        if (block) flags |= kBlock;
        if (lower == "pre") pre = true;
        breakBefore = style.pageBreakBefore == "always" || style.pageBreakBefore == "left" ||
                      style.pageBreakBefore == "right";
        breakAfter = !style.pageBreakAfter.empty() && style.pageBreakAfter != "auto" &&
                     style.pageBreakAfter != "avoid" && style.pageBreakAfter != "inherit";
        boundary = (flags & kBlock) || lower == "html";
    }

    if (boundary) Boundary();
    else FlushSpace();

    auto offset = static_cast<std::uint32_t>(out_.size());
    if (breakBefore) {
        PageBreak pb{offset, {}};
        for (const Open& o : stack_) pb.parents.push_back(o.offset);
        breaks_.push_back(std::move(pb));
    }
    out_.push_back(0);
    out_.push_back(flags | kOpen | (hasChildren ? 0 : kClose));

    std::uint32_t code = 0;
    bool custom = false;
    const auto& tags = dialect_ == Dialect::Html ? t.htmlTags : t.opfTags;
    auto it = tags.find(lower);
    if (it != tags.end()) {
        code = it->second;
        PutCharInt(out_, code);
    } else {
        custom = true;
        PutCharInt(out_, kCustom);
        WriteSizedString(name);
    }
    for (const auto& [k, v] : attrs) {
        if (k.empty()) continue;
        WriteAttribute(code, custom, k, v, lower);
        std::string lk = ToLowerAscii(k);
        if (dialect_ == Dialect::Html && (lk == "id" || lk == "name") && !v.empty()) {
            if (anchors_.empty() || anchors_.back().name != v || anchors_.back().offset != offset)
                anchors_.push_back({v, offset});
        }
    }
    out_.push_back(0);

    if (hasChildren) {
        stack_.push_back({static_cast<std::uint8_t>(flags & (kBlock | kHead)), offset, pre, breakAfter, boundary});
    } else if (breakAfter) {
        PageBreak pb{static_cast<std::uint32_t>(out_.size()), {}};
        for (const Open& o : stack_) pb.parents.push_back(o.offset);
        breaks_.push_back(std::move(pb));
    }
    if (boundary) Boundary();
    return true;
}

bool BinaryEncoder::Text(std::string_view text) {
    if (finished_) return Fail("text after the document was finished");
    if (stack_.empty()) {
        for (char c : text)
            if (!IsSpace(c)) return Fail("text outside the root element");
        return true;
    }
    if (stack_.back().pre && dialect_ == Dialect::Html) {
        FlushSpace();
        for (char c : text)
            if (c != 0) out_.push_back(static_cast<std::uint8_t>(c));
        suppressSpace_ = false;
        return true;
    }
    // Runs of white space become one space, and none next to a block edge
    // or another space; a space is held until the next character decides.
    for (char c : text) {
        if (IsSpace(c)) {
            pendingSpace_ = true;
            continue;
        }
        if (c == 0) continue;
        FlushSpace();
        out_.push_back(static_cast<std::uint8_t>(c));
        suppressSpace_ = false;
    }
    return true;
}

bool BinaryEncoder::End() {
    if (finished_) return Fail("a closing tag after the document was finished");
    if (stack_.empty()) return Fail("a closing tag without an open element");
    Open o = stack_.back();
    stack_.pop_back();
    // A held space stays pending past an inline end: "<b>x </b>y" puts it
    // between the two words, outside the element.
    if (o.boundary) Boundary();
    out_.push_back(0);
    out_.push_back(static_cast<std::uint8_t>(o.flags | kClose));
    out_.push_back(0);
    if (o.breakAfter) {
        PageBreak pb{static_cast<std::uint32_t>(out_.size()), {}};
        for (const Open& p : stack_) pb.parents.push_back(p.offset);
        breaks_.push_back(std::move(pb));
    }
    if (o.boundary) Boundary();
    return true;
}

bool BinaryEncoder::Finish() {
    if (finished_) return Fail("the document was finished twice");
    if (!sawRoot_) return Fail("the document has no root element");
    if (!stack_.empty()) return Fail("the document ends with " + std::to_string(stack_.size()) + " open element(s)");
    finished_ = true;
    return true;
}

}  // namespace orvo::litgen
