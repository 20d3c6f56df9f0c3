// One book being written: the package model read from the package
// document, the items received so far, and the assembly of the .lit file.
#ifndef LITGEN_BOOK_H
#define LITGEN_BOOK_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "binary_ml.h"
#include "bytes.h"
#include "crypto.h"
#include "css.h"

namespace orvo::litgen {

// The package document as a small tree (it is a few kilobytes).
struct XmlNode {
    std::string name;  // empty for a text node
    Attributes attrs;
    std::string text;
    std::vector<XmlNode> children;
};

enum class ItemKind { Document, Stylesheet, Picture };

// One event of a content document as the host received it, kept while a
// link in it waits for its target's bytes.
struct DocumentEvent {
    enum class Kind { Start, Text, End } kind = Kind::Text;
    std::string name;  // Start
    Attributes attrs;  // Start
    bool hasChildren = false;
    std::string text;  // Text
};

struct ManifestItem {
    std::string originalId;
    std::string id;         // the name inside the .lit file (ASCII, unique ignoring case)
    std::string path;       // relative to the package folder, decoded
    std::string mediaType;  // as declared
    ItemKind kind = ItemKind::Document;
    bool linear = false;    // a linear spine document
    bool received = false;
    bool skipped = false;   // already reported as left out
    Bytes data;             // binary HTML for documents, raw bytes otherwise
    std::vector<Anchor> anchors;
    std::vector<PageBreak> breaks;
    // A document linking to items whose bytes had not arrived when it was
    // encoded: its events, to encode it again once it is known what came.
    bool linksPending = false;
    std::vector<DocumentEvent> source;
};

struct BookOptions {
    bool storeOnly = false;        // LZX stored blocks instead of compression
    std::uint32_t timestamp = 0;   // ITSF; Unix seconds
    std::string guid;              // "{...}" for the package; random when empty
};

class Book {
public:
    // Reads manifest and spine. False with a message when the package cannot
    // make a book.
    bool SetPackage(XmlNode root, std::string& error, std::vector<std::string>& warnings);

    std::vector<ManifestItem>& Items() { return items_; }
    const std::vector<ManifestItem>& Items() const { return items_; }
    // Item indexes in the order hosts are handed out.
    const std::vector<std::size_t>& Stylesheets() const { return stylesheets_; }
    const std::vector<std::size_t>& Documents() const { return documents_; }  // linear first
    const std::vector<std::size_t>& Pictures() const { return pictures_; }

    StyleSheet& Styles() { return styles_; }
    const StyleSheet& Styles() const { return styles_; }

    // href/src resolution for a document at documentPath (empty: the package).
    // A link to a manifest item is written as a link to that item. With
    // `pending`, an item whose bytes have not arrived yet counts as one too
    // and sets *pending; without it, such a link is written as external.
    std::string ResolveLink(const std::string& value, const std::string& documentPath,
                            const std::string& selfId, bool* pending = nullptr) const;

    // The manifest item a link leads to, if any.
    const ManifestItem* LinkTarget(const std::string& value, const std::string& documentPath) const;

    // Encodes again every document whose links waited for pictures or
    // stylesheets, now that it is known which arrived: an element whose src
    // names an item that never came is left out, an href to one is dropped,
    // so no link points at nothing.
    bool SettleLinks(std::string& error, std::vector<std::string>& warnings);

    // Builds the whole file from the items received. Documents must all be
    // there; stylesheets and pictures that did not arrive are left out.
    bool Assemble(const BookOptions& options, Bytes& file, std::string& error,
                  std::vector<std::string>& warnings) const;

    // Exposed for tests: the binary OPF of the package as it will be written.
    bool EncodeMeta(const std::string& guid, Bytes& meta, std::string& error) const;

private:
    bool Included(const ManifestItem& item) const { return item.kind == ItemKind::Document || item.received; }
    bool Reencode(ManifestItem& item, std::string& error, std::vector<std::string>& warnings);
    const ManifestItem* FindByPath(const std::string& path) const;
    const ManifestItem* FindByOriginalId(const std::string& id) const;
    bool EncodeNode(const XmlNode& node, BinaryEncoder& enc, const std::string& guid, bool root) const;

    XmlNode package_;
    std::vector<ManifestItem> items_;
    std::vector<std::size_t> stylesheets_, documents_, pictures_;
    StyleSheet styles_;
};

// Percent-decodes, joins to baseDir and removes "." and ".." steps.
std::string NormalizeHref(const std::string& baseDir, const std::string& href);

// DRM level 1 pieces, exposed for tests.
DesKey SealKeyFor(const Bytes& meta, const Bytes& drmSource);

}  // namespace orvo::litgen

#endif
