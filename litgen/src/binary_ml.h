// Encoder for the binary HTML of content documents and the binary OPF of the
// package: element records, attribute codes, link values, plus the anchors
// and page breaks the container needs.
#ifndef LITGEN_BINARY_ML_H
#define LITGEN_BINARY_ML_H

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "bytes.h"
#include "css.h"

namespace orvo::litgen {

enum class Dialect { Html, Opf };

struct Anchor {
    std::string name;
    std::uint32_t offset;
};

struct PageBreak {
    std::uint32_t offset;
    std::vector<std::uint32_t> parents;  // record offsets of the enclosing open elements
};

using Attributes = std::vector<std::pair<std::string, std::string>>;

// Maps an href/src value to its encoded form: U+0002 + manifest id (+ #fragment)
// for a package item, U+0003 + the value otherwise.
using LinkResolver = std::function<std::string(const std::string& value)>;

class BinaryEncoder {
public:
    BinaryEncoder(Dialect dialect, LinkResolver resolver, const StyleSheet* css = nullptr);

    // Texts are UTF-8. Each returns false (see Error()) when the event breaks
    // the document's structure.
    bool Start(const std::string& name, const Attributes& attrs, bool hasChildren);
    bool Text(std::string_view text);
    bool End();
    bool Finish();

    const std::string& Error() const { return error_; }
    const Bytes& Output() const { return out_; }
    Bytes TakeOutput() { return std::move(out_); }
    const std::vector<Anchor>& Anchors() const { return anchors_; }
    const std::vector<PageBreak>& PageBreaks() const { return breaks_; }
    std::vector<std::string> TakeWarnings() { return std::move(warnings_); }

private:
    struct Open {
        std::uint8_t flags;  // BLOCK/HEAD bits of the start record
        std::uint32_t offset;
        bool pre;
        bool breakAfter;
        bool boundary;  // whitespace next to it is dropped
    };

    void WriteSizedString(std::string_view s);
    void WriteAttribute(std::uint32_t tagCode, bool customTag, const std::string& name, const std::string& value,
                        const std::string& tagLower);
    void FlushSpace();
    void Boundary();
    bool Fail(std::string message);

    Dialect dialect_;
    LinkResolver resolver_;
    const StyleSheet* css_;
    Bytes out_;
    std::vector<Open> stack_;
    std::vector<Anchor> anchors_;
    std::vector<PageBreak> breaks_;
    std::vector<std::string> warnings_;
    std::string error_;
    bool pendingSpace_ = false;
    bool suppressSpace_ = true;
    bool finished_ = false;
    bool sawRoot_ = false;
};

}  // namespace orvo::litgen

#endif
