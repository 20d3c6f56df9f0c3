#include "book.h"

#include <algorithm>
#include <cctype>
#include <random>

#include "container.h"
#include "lzx.h"

namespace orvo::litgen {
namespace {

const char* const kLzxGuidText = "{0A9007C6-4076-11D3-8789-0000F8105754}";
const char* const kDesGuidText = "{67F6E4A2-60BF-11D3-8540-00C04F58C3CF}";

void PutGuid(Bytes& out, std::uint32_t a, std::uint16_t b, std::uint16_t c, std::initializer_list<std::uint8_t> d) {
    PutU32(out, a);
    PutU16(out, b);
    PutU16(out, c);
    out.insert(out.end(), d.begin(), d.end());
}
void PutLzxGuid(Bytes& out) { PutGuid(out, 0x0A9007C6, 0x4076, 0x11D3, {0x87, 0x89, 0x00, 0x00, 0xF8, 0x10, 0x57, 0x54}); }
void PutDesGuid(Bytes& out) { PutGuid(out, 0x67F6E4A2, 0x60BF, 0x11D3, {0x85, 0x40, 0x00, 0xC0, 0x4F, 0x58, 0xC3, 0xCF}); }

Bytes DesControlData() {
    Bytes b;
    PutU32(b, 3);
    PutU32(b, 0x1729);
    PutU32(b, 1);
    PutU32(b, 0xA5A5);
    return b;
}

std::string LocalName(const std::string& name) {
    std::size_t colon = name.find(':');
    return ToLowerAscii(colon == std::string::npos ? name : name.substr(colon + 1));
}

const std::string* Attr(const XmlNode& n, const char* name) {
    for (const auto& [k, v] : n.attrs)
        if (EqualsIgnoreCaseAscii(k, name)) return &v;
    return nullptr;
}

const XmlNode* Child(const XmlNode& n, const char* local) {
    for (const XmlNode& c : n.children)
        if (!c.name.empty() && LocalName(c.name) == local) return &c;
    return nullptr;
}

bool HasScheme(const std::string& v) {
    std::size_t colon = v.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    if (!std::isalpha(static_cast<unsigned char>(v[0]))) return false;
    for (std::size_t i = 0; i < colon; ++i) {
        char c = v[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

std::string PercentDecode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

std::string DirOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool SafeId(const std::string& id) {
    if (id.empty() || id.size() > 64) return false;
    for (char c : id)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.') return false;
    return true;
}

std::string OebMediaType(const ManifestItem& item) {
    switch (item.kind) {
        case ItemKind::Document: return "text/x-oeb1-document";
        case ItemKind::Stylesheet: return "text/x-oeb1-css";
        case ItemKind::Picture: break;
    }
    return item.mediaType;
}

std::string RandomGuid() {
    std::random_device rd;
    std::mt19937_64 gen((std::uint64_t(rd()) << 32) ^ rd());
    std::uint64_t a = gen(), b = gen();
    // Version 4, variant 1.
    a = (a & ~0xF000ull) | 0x4000ull;
    b = (b & ~(0xC000ull << 48)) | (0x8000ull << 48);
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%012llX}", unsigned(a >> 32), unsigned((a >> 16) & 0xFFFF),
                  unsigned(a & 0xFFFF), unsigned(b >> 48), static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
    return text;
}

void PutSizedString(Bytes& out, const std::string& s) {
    PutCharInt(out, static_cast<std::uint32_t>(CountCodePoints(s)));
    PutBytes(out, s);
}

}  // namespace

std::string NormalizeHref(const std::string& baseDir, const std::string& href) {
    std::string path = PercentDecode(href);
    std::vector<std::string> parts;
    auto push = [&parts](const std::string& p) {
        std::size_t start = 0;
        while (start <= p.size()) {
            std::size_t slash = p.find('/', start);
            std::string seg = p.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
            if (seg == "..") {
                if (!parts.empty() && parts.back() != "..") parts.pop_back();
                else parts.push_back(seg);
            } else if (!seg.empty() && seg != ".") {
                parts.push_back(seg);
            }
            if (slash == std::string::npos) break;
            start = slash + 1;
        }
    };
    if (path.empty() || path[0] != '/') push(baseDir);
    push(path);
    std::string out;
    for (const std::string& p : parts) {
        if (!out.empty()) out.push_back('/');
        out += p;
    }
    return out;
}

DesKey SealKeyFor(const Bytes& meta, const Bytes& drmSource) {
    Bytes input = {0, 0};
    PutBytes(input, meta);
    input.resize((input.size() + 63) / 64 * 64, 0);
    std::size_t at = input.size();
    PutBytes(input, drmSource);
    input.resize(at + (drmSource.size() + 63) / 64 * 64, 0);
    Digest d = MsSha1(input);
    DesKey key{};
    for (std::size_t i = 0; i < d.size(); ++i) key[i % 8] ^= d[i];
    return key;
}

bool Book::SetPackage(XmlNode root, std::string& error, std::vector<std::string>& warnings) {
    package_ = std::move(root);
    items_.clear();
    stylesheets_.clear();
    documents_.clear();
    pictures_.clear();
    if (LocalName(package_.name) != "package") {
        error = "the package document's root is <" + package_.name + ">, not <package>";
        return false;
    }
    const XmlNode* manifest = Child(package_, "manifest");
    const XmlNode* spine = Child(package_, "spine");
    if (!manifest) {
        error = "the package has no <manifest>";
        return false;
    }
    std::vector<std::string> usedIds;
    auto idTaken = [&usedIds](const std::string& id) {
        for (const std::string& u : usedIds)
            if (EqualsIgnoreCaseAscii(u, id)) return true;
        return false;
    };
    for (const XmlNode& n : manifest->children) {
        if (n.name.empty() || LocalName(n.name) != "item") continue;
        const std::string* id = Attr(n, "id");
        const std::string* href = Attr(n, "href");
        const std::string* type = Attr(n, "media-type");
        if (!id || !href || id->empty() || href->empty()) {
            warnings.push_back("a manifest item without id or href was left out");
            continue;
        }
        std::string mt = type ? ToLowerAscii(*type) : std::string();
        ManifestItem item;
        if (mt == "text/x-oeb1-document" || mt == "application/xhtml+xml" || mt == "text/html") {
            item.kind = ItemKind::Document;
        } else if (mt == "text/x-oeb1-css" || mt == "text/x-oeb-css" || mt == "text/css") {
            item.kind = ItemKind::Stylesheet;
        } else if (mt.rfind("image/", 0) == 0) {
            item.kind = ItemKind::Picture;
        } else {
            warnings.push_back("manifest item \"" + *id + "\" has media type \"" + mt + "\", which a book cannot hold; left out");
            continue;
        }
        if (FindByOriginalId(*id)) {
            warnings.push_back("manifest id \"" + *id + "\" is used twice; the second item was left out");
            continue;
        }
        item.originalId = *id;
        item.id = *id;
        if (!SafeId(item.id) || idTaken(item.id)) {
            int k = static_cast<int>(items_.size());
            do item.id = "item" + std::to_string(k++);
            while (idTaken(item.id));
        }
        usedIds.push_back(item.id);
        item.path = NormalizeHref("", href->substr(0, href->find('#')));
        item.mediaType = mt;
        items_.push_back(std::move(item));
    }

    std::vector<std::size_t> linear, nonLinear;
    if (spine) {
        for (const XmlNode& n : spine->children) {
            if (n.name.empty() || LocalName(n.name) != "itemref") continue;
            const std::string* idref = Attr(n, "idref");
            const ManifestItem* it = idref ? FindByOriginalId(*idref) : nullptr;
            if (!it || it->kind != ItemKind::Document) {
                warnings.push_back("spine entry \"" + (idref ? *idref : std::string()) + "\" names no document; ignored");
                continue;
            }
            std::size_t index = static_cast<std::size_t>(it - items_.data());
            if (std::find(linear.begin(), linear.end(), index) != linear.end() ||
                std::find(nonLinear.begin(), nonLinear.end(), index) != nonLinear.end())
                continue;
            const std::string* lin = Attr(n, "linear");
            if (lin && EqualsIgnoreCaseAscii(*lin, "no")) {
                nonLinear.push_back(index);
            } else {
                items_[index].linear = true;
                linear.push_back(index);
            }
        }
    }
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const ManifestItem& it = items_[i];
        if (it.kind == ItemKind::Document && !it.linear &&
            std::find(nonLinear.begin(), nonLinear.end(), i) == nonLinear.end())
            nonLinear.push_back(i);
        if (it.kind == ItemKind::Stylesheet) stylesheets_.push_back(i);
        if (it.kind == ItemKind::Picture) pictures_.push_back(i);
    }
    documents_ = linear;
    documents_.insert(documents_.end(), nonLinear.begin(), nonLinear.end());
    if (documents_.empty()) {
        error = "the package lists no content document";
        return false;
    }
    return true;
}

const ManifestItem* Book::FindByPath(const std::string& path) const {
    for (const ManifestItem& it : items_)
        if (it.path == path) return &it;
    // Names are case-insensitive on the system these books were made for.
    for (const ManifestItem& it : items_)
        if (EqualsIgnoreCaseAscii(it.path, path)) return &it;
    return nullptr;
}

const ManifestItem* Book::FindByOriginalId(const std::string& id) const {
    for (const ManifestItem& it : items_)
        if (it.originalId == id) return &it;
    return nullptr;
}

namespace {

std::string Trimmed(const std::string& value) {
    std::string v = value;
    while (!v.empty() && std::isspace(static_cast<unsigned char>(v.front()))) v.erase(v.begin());
    while (!v.empty() && std::isspace(static_cast<unsigned char>(v.back()))) v.pop_back();
    return v;
}

bool LinksOutside(const std::string& v) { return v.empty() || v[0] == '#' || HasScheme(v) || v.rfind("//", 0) == 0; }

}  // namespace

const ManifestItem* Book::LinkTarget(const std::string& value, const std::string& documentPath) const {
    std::string v = Trimmed(value);
    if (LinksOutside(v)) return nullptr;
    return FindByPath(NormalizeHref(DirOf(documentPath), v.substr(0, v.find('#'))));
}

std::string Book::ResolveLink(const std::string& value, const std::string& documentPath,
                              const std::string& selfId, bool* pending) const {
    std::string v = Trimmed(value);
    if (!v.empty() && v[0] == '#' && !selfId.empty()) return "\x02" + selfId + v;
    if (LinksOutside(v)) return "\x03" + value;
    std::size_t hash = v.find('#');
    const ManifestItem* target = LinkTarget(v, documentPath);
    if (!target) return "\x03" + value;
    if (!Included(*target)) {
        if (!pending) return "\x03" + value;
        *pending = true;
    }
    return "\x02" + target->id + (hash == std::string::npos ? std::string() : v.substr(hash));
}

bool Book::SettleLinks(std::string& error, std::vector<std::string>& warnings) {
    for (ManifestItem& it : items_) {
        if (!it.linksPending) continue;
        if (!Reencode(it, error, warnings)) return false;
        it.linksPending = false;
        it.source.clear();
        it.source.shrink_to_fit();
    }
    return true;
}

bool Book::Reencode(ManifestItem& item, std::string& error, std::vector<std::string>& warnings) {
    const std::string path = item.path, id = item.id;
    BinaryEncoder enc(
        Dialect::Html, [this, &path, &id](const std::string& v) { return ResolveLink(v, path, id); }, &styles_);
    auto missing = [this, &path](const std::string& value) {
        const ManifestItem* t = LinkTarget(value, path);
        return t && !Included(*t);
    };
    std::size_t skipDepth = 0;  // >0: inside an element that is left out
    for (const DocumentEvent& e : item.source) {
        bool ok = true;
        switch (e.kind) {
            case DocumentEvent::Kind::Start: {
                if (skipDepth) {
                    if (e.hasChildren) ++skipDepth;
                    break;
                }
                Attributes attrs;
                bool drop = false;
                for (const auto& [k, v] : e.attrs) {
                    std::string lk = ToLowerAscii(k);
                    if (lk == "src" && missing(v)) drop = true;
                    if (lk == "href" && missing(v)) continue;
                    attrs.emplace_back(k, v);
                }
                if (drop) {
                    if (e.hasChildren) skipDepth = 1;
                    break;
                }
                ok = enc.Start(e.name, attrs, e.hasChildren);
                break;
            }
            case DocumentEvent::Kind::Text:
                if (!skipDepth) ok = enc.Text(e.text);
                break;
            case DocumentEvent::Kind::End:
                if (skipDepth) --skipDepth;
                else ok = enc.End();
                break;
        }
        if (!ok) {
            error = "content document \"" + item.path + "\" cannot be encoded again: " + enc.Error();
            return false;
        }
    }
    if (!enc.Finish()) {
        error = "content document \"" + item.path + "\" cannot be encoded again: " + enc.Error();
        return false;
    }
    for (std::string& w : enc.TakeWarnings()) warnings.push_back(item.path + ": " + w);
    item.anchors = enc.Anchors();
    item.breaks = enc.PageBreaks();
    item.data = enc.TakeOutput();
    return true;
}

bool Book::EncodeNode(const XmlNode& node, BinaryEncoder& enc, const std::string& guid, bool root) const {
    if (node.name.empty()) return enc.Text(node.text);
    std::string local = LocalName(node.name);
    Attributes attrs;
    bool isItem = local == "item", isItemref = local == "itemref";
    for (const auto& [k, v] : node.attrs) {
        std::string lk = ToLowerAscii(k);
        if (isItem && lk == "id") {
            const ManifestItem* it = FindByOriginalId(v);
            attrs.emplace_back(k, it ? it->id : v);
        } else if (isItem && lk == "media-type") {
            const std::string* id = Attr(node, "id");
            const ManifestItem* it = id ? FindByOriginalId(*id) : nullptr;
            attrs.emplace_back(k, it ? OebMediaType(*it) : v);
        } else if (isItemref && lk == "idref") {
            const ManifestItem* it = FindByOriginalId(v);
            attrs.emplace_back(k, it ? it->id : v);
        } else if (root && lk.rfind("ms--", 0) == 0) {
            attrs.emplace_back("%" + k.substr(4), v);
        } else {
            attrs.emplace_back(k, v);
        }
    }
    if (root) {
        auto has = [&attrs](const char* n) {
            for (const auto& a : attrs)
                if (a.first == n) return true;
            return false;
        };
        if (!has("%minimum_level")) attrs.emplace_back("%minimum_level", "0");
        if (!has("%attr5")) attrs.emplace_back("%attr5", "1");
        if (!has("%guid")) attrs.emplace_back("%guid", guid);
    }
    std::vector<const XmlNode*> kids;
    for (const XmlNode& c : node.children) {
        if (local == "manifest" && LocalName(c.name) == "item") {
            const std::string* id = Attr(c, "id");
            const ManifestItem* it = id ? FindByOriginalId(*id) : nullptr;
            if (!it || !Included(*it)) continue;  // left out of the book
        }
        if (local == "spine" && LocalName(c.name) == "itemref") {
            const std::string* idref = Attr(c, "idref");
            const ManifestItem* it = idref ? FindByOriginalId(*idref) : nullptr;
            if (!it || it->kind != ItemKind::Document) continue;
        }
        kids.push_back(&c);
    }
    if (!enc.Start(node.name, attrs, !kids.empty())) return false;
    for (const XmlNode* c : kids)
        if (!EncodeNode(*c, enc, guid, false)) return false;
    return kids.empty() || enc.End();
}

bool Book::EncodeMeta(const std::string& guid, Bytes& meta, std::string& error) const {
    BinaryEncoder enc(Dialect::Opf, [this](const std::string& v) { return ResolveLink(v, "", ""); });
    if (!EncodeNode(package_, enc, guid, true) || !enc.Finish()) {
        error = "the package document cannot be encoded: " + enc.Error();
        return false;
    }
    meta = enc.TakeOutput();
    return true;
}

bool Book::Assemble(const BookOptions& options, Bytes& file, std::string& error,
                    std::vector<std::string>& warnings) const {
    for (std::size_t i : documents_)
        if (!items_[i].received) {
            error = "content document \"" + items_[i].path + "\" was not delivered";
            return false;
        }

    Container c;
    // Section 1: document bodies back to back in manifest order.
    Bytes section1;
    std::vector<std::uint64_t> docOffset(items_.size(), 0);
    for (std::size_t i : documents_) {
        docOffset[i] = section1.size();
        PutBytes(section1, items_[i].data);
    }
    // The reader cannot end a section on a whole window.
    if (!section1.empty() && section1.size() % kLzxWindow == 0) {
        section1.push_back(0);
        section1.push_back(0);
    }

    // /manifest: linear spine, non-linear spine, stylesheets, pictures.
    Bytes manifest = {0x01, '\\'};
    std::vector<std::size_t> linear, nonLinear, css, pics;
    for (std::size_t i : documents_) (items_[i].linear ? linear : nonLinear).push_back(i);
    for (std::size_t i : stylesheets_)
        if (items_[i].received) css.push_back(i);
    for (std::size_t i : pictures_)
        if (items_[i].received) pics.push_back(i);
    for (std::size_t i : stylesheets_)
        if (!items_[i].received) warnings.push_back("stylesheet \"" + items_[i].path + "\" was not delivered; left out");
    for (std::size_t i : pictures_)
        if (!items_[i].received && !items_[i].skipped) warnings.push_back("picture \"" + items_[i].path + "\" was not delivered; left out");
    std::uint32_t running = 0;
    for (const auto* group : {&linear, &nonLinear, &css, &pics}) {
        PutU32(manifest, static_cast<std::uint32_t>(group->size()));
        for (std::size_t i : *group) {
            const ManifestItem& it = items_[i];
            bool doc = it.kind == ItemKind::Document;
            PutU32(manifest, doc ? running : 0);
            PutSizedString(manifest, it.id);
            PutSizedString(manifest, it.path);
            PutSizedString(manifest, doc ? "application/xhtml+xml" : it.kind == ItemKind::Stylesheet ? "text/css" : it.mediaType);
            manifest.push_back(0);
            if (doc) running += static_cast<std::uint32_t>(it.data.size());
        }
    }

    // Page-break tables, in the same document order.
    Bytes pb1, pb2, pb3;
    std::size_t breakCount = 0;
    std::uint32_t manifestOffset = 0;
    for (const auto* group : {&linear, &nonLinear}) {
        for (std::size_t i : *group) {
            const ManifestItem& it = items_[i];
            std::vector<PageBreak> breaks = it.breaks;
            if (!it.linear && (breaks.empty() || breaks.front().offset != 0)) breaks.insert(breaks.begin(), PageBreak{0, {}});
            for (const PageBreak& b : breaks) {
                PutU32(pb1, b.offset + manifestOffset);
                PutU32(pb1, static_cast<std::uint32_t>(pb2.size()));
                PutU32(pb2, static_cast<std::uint32_t>(b.parents.size()));
                for (std::uint32_t p : b.parents) PutU32(pb2, p);
                if (breakCount % 4 == 0) pb3.push_back(0);
                std::uint8_t bits = b.parents.size() <= 1 ? 0x1 : 0x3;
                pb3.back() |= static_cast<std::uint8_t>(bits << (6 - 2 * (breakCount % 4)));
                ++breakCount;
            }
            manifestOffset += static_cast<std::uint32_t>(it.data.size());
        }
    }

    std::string guid = options.guid.empty() ? RandomGuid() : options.guid;
    Bytes meta;
    if (!EncodeMeta(guid, meta, error)) return false;

    // Seal (level 1) with an all-zero book key.
    const char16_t kSource[] = u"Sealed by litgen";
    Bytes drmSource;
    for (char16_t ch : kSource) PutU16(drmSource, ch);  // includes the closing NUL
    DesKey sealKey = SealKeyFor(meta, drmSource);
    DesKey bookKey{};
    Bytes sealPlain(16, 0);  // 0x00, book key, 7 zero bytes
    Bytes drmSealed = DesEncrypt(sealKey, sealPlain);
    Bytes validation = DesEncrypt(bookKey, Bytes{'M', 'S', 'R', 'e', 'a', 'd', 'e', 'r'});

    LzxStream lzx = options.storeOnly ? LzxStore(section1.data(), section1.size())
                                      : LzxCompress(section1.data(), section1.size());

    // Section 0 streams.
    c.AddEntry("/", 0, 0x11D37DC0CA67E278ull, 0x39D0724FC0006593ull);
    c.AddFolder("/data/");
    for (const auto* group : {&css, &pics})
        for (std::size_t i : *group) c.AddStream("/data/" + items_[i].id, items_[i].data);
    for (std::size_t i : documents_) {
        const ManifestItem& it = items_[i];
        // Counts are single code points below the surrogate range.
        std::vector<const Anchor*> anchors;
        for (const Anchor& a : it.anchors)
            if (CountCodePoints(a.name) < 0xD800 && anchors.size() < 0xD7FF) anchors.push_back(&a);
        if (anchors.size() < it.anchors.size())
            warnings.push_back("document \"" + it.path + "\": " + std::to_string(it.anchors.size() - anchors.size()) +
                               " anchors do not fit the anchor table and were left out");
        Bytes ahc;
        PutCharInt(ahc, static_cast<std::uint32_t>(anchors.size()));
        for (const Anchor* a : anchors) {
            PutCharInt(ahc, static_cast<std::uint32_t>(CountCodePoints(a->name)));
            PutBytes(ahc, a->name);
            PutU32(ahc, a->offset);
        }
        c.AddFolder("/data/" + it.id + "/");
        c.AddStream("/data/" + it.id + "/ahc", ahc);
        c.AddStream("/data/" + it.id + "/aht", Bytes(4, 0));
        c.AddEntry("/data/" + it.id + "/content", 1, docOffset[i], it.data.size());
    }
    c.AddStream("/manifest", manifest);
    c.AddStream("/pb1", pb1);
    c.AddStream("/pb2", pb2);
    c.AddStream("/pb3", pb3);
    c.AddStream("/meta", meta);
    c.AddStream("/DRMStorage/DRMSource", drmSource);
    c.AddStream("/DRMStorage/DRMSealed", drmSealed);
    c.AddEntry("/DRMStorage/ValidationStream", 3, 0, 8);
    c.AddStream("/Version", Bytes{0x08, 0x00, 0x01, 0x00});

    Bytes nameList;
    PutU16(nameList, 0x3C);
    PutU16(nameList, 4);
    for (const char* name : {"Uncompressed", "MSCompressed", "EbEncryptDS", "EbEncryptOnlyDS"}) {
        std::string n = name;
        PutU16(nameList, static_cast<std::uint16_t>(n.size()));
        for (char ch : n) PutU16(nameList, static_cast<std::uint16_t>(ch));
        PutU16(nameList, 0);
    }
    c.AddStream("::DataSpace/NameList", nameList);

    const std::string ms = "::DataSpace/Storage/MSCompressed/";
    const std::string lzxInstance = std::string("Transform/") + kLzxGuidText + "/InstanceData/";
    const std::string desInstance = std::string("Transform/") + kDesGuidText + "/InstanceData/";
    c.AddStream(ms + "Content", lzx.content);
    c.AddStream(ms + "ControlData", LzxControlData());
    Bytes span;
    PutU64(span, section1.size());
    c.AddStream(ms + "SpanInfo", span);
    Bytes list;
    PutLzxGuid(list);
    c.AddStream(ms + "Transform/List", list);
    c.AddFolder(ms + lzxInstance);
    c.AddStream(ms + lzxInstance + "ResetTable", LzxResetTable(section1.size(), lzx));

    const std::string eds = "::DataSpace/Storage/EbEncryptDS/";
    c.AddStream(eds + "Content", Bytes());
    Bytes control = DesControlData();
    PutBytes(control, LzxControlData());
    c.AddStream(eds + "ControlData", control);
    c.AddStream(eds + "SpanInfo", Bytes(16, 0));
    list.clear();
    PutDesGuid(list);
    PutLzxGuid(list);
    c.AddStream(eds + "Transform/List", list);
    c.AddFolder(eds + lzxInstance);
    c.AddStream(eds + lzxInstance + "ResetTable", Bytes());
    c.AddFolder(eds + desInstance);

    const std::string eos = "::DataSpace/Storage/EbEncryptOnlyDS/";
    c.AddStream(eos + "Content", validation);
    c.AddStream(eos + "ControlData", DesControlData());
    span.clear();
    PutU64(span, 8);
    c.AddStream(eos + "SpanInfo", span);
    list.clear();
    PutDesGuid(list);
    c.AddStream(eos + "Transform/List", list);
    c.AddFolder(eos + desInstance);

    c.AddFolder(std::string("::Transform/") + kLzxGuidText + "/");
    c.AddFolder(std::string("::Transform/") + kDesGuidText + "/");

    return c.Build(options.timestamp, file, error);
}

}  // namespace orvo::litgen
