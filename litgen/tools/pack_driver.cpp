#include "pack_driver.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <stdexcept>
#include <vector>

#include <pugixml.hpp>

#include "../src/bytes.h"

namespace orvo::litgen {
namespace {

struct Raised : std::runtime_error {
    Raised(HRESULT hr, const std::string& what) : std::runtime_error(what), code(hr) {}
    HRESULT code;
};

std::string Hex(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(hr));
    return buf;
}

void Check(HRESULT hr, const std::string& message) {
    if (Failed(hr)) throw Raised(hr, "Error " + Hex(hr) + " " + message);
}

// Releases an interface pointer at the end of a scope.
template <typename T>
struct Ref {
    T* p = nullptr;
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() {
        if (p) p->Release();
    }
    T* operator->() const { return p; }
};

template <typename T>
void Ask(IUnknown* from, const Guid& iid, Ref<T>& to, const std::string& what) {
    void* obj = nullptr;
    Check(from->QueryInterface(iid, &obj), what);
    to.p = static_cast<T*>(obj);
}

class ErrorPrinter final : public IMessageCallback {
public:
    explicit ErrorPrinter(std::ostream& err) : err_(err) {}
    HRESULT QueryInterface(const Guid& iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IMessageCallback) {
            *object = static_cast<IMessageCallback*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    std::uint32_t AddRef() override { return ++refs_; }
    std::uint32_t Release() override { return --refs_; }  // lives on the stack of PackBook
    HRESULT Message(std::int32_t kind, HRESULT, const char16_t* text) override {
        std::u16string t;
        for (const char16_t* p = text; p && *p; ++p) t.push_back(*p);
        const char* label = kind == 0 ? "error" : kind == 1 ? "warning" : "note";
        err_ << "litgen " << label << ": " << Utf16ToUtf8(t) << "\n";
        return S_OK;
    }

private:
    std::ostream& err_;
    std::uint32_t refs_ = 1;
};

std::string FileNameOf(IUnknown* host, HRESULT (*get)(IUnknown*, std::u16string*), const std::string& what) {
    std::u16string name;
    Check(get(host, &name), what);
    std::string path = Utf16ToUtf8(name);
    if (path.rfind("file://", 0) == 0) path.erase(0, 7);
    return path;
}

void SendElement(IParserHost* host, const pugi::xml_node& node, const std::string& file) {
    Ref<IUnknown> raw;
    Check(host->NewTag(&raw.p), "creating tag " + file);
    Ref<ITag> tag;
    Ask(raw.p, IID_ITag, tag, "creating tag " + file);
    std::u16string name = Utf8ToUtf16(node.name());
    Check(tag->SetName(name.c_str(), static_cast<std::uint32_t>(name.size())), "setting tag name " + file);
    for (const pugi::xml_attribute& a : node.attributes()) {
        std::u16string n = Utf8ToUtf16(a.name()), v = Utf8ToUtf16(a.value());
        Check(tag->AddAttribute(n.c_str(), static_cast<std::uint32_t>(n.size()), v.c_str(),
                                static_cast<std::uint32_t>(v.size())),
              "setting tag attribute " + file);
    }
    Check(host->BeginTag(tag.p, node.first_child() ? 1 : 0), "setting tag name " + file);
}

// Depth first, without recursion: documents may nest deeper than the stack.
void WalkNode(IParserHost* host, pugi::xml_node root, const std::string& file) {
    pugi::xml_node node = root;
    while (node) {
        bool descend = false;
        switch (node.type()) {
            case pugi::node_element:
                SendElement(host, node, file);
                descend = static_cast<bool>(node.first_child());
                break;
            case pugi::node_pcdata:
            case pugi::node_cdata: {
                std::u16string text = Utf8ToUtf16(node.value());
                if (!text.empty())
                    Check(host->Text(text.c_str(), static_cast<std::uint32_t>(text.size())), "sending text " + file);
                break;
            }
            default:
                break;  // comments, processing instructions, doctype
        }
        if (descend) {
            node = node.first_child();
            continue;
        }
        // Climb until there is a next sibling, closing elements on the way.
        while (node != root && !node.next_sibling()) {
            node = node.parent();
            Check(host->EndTag(), "closing tag " + file);
        }
        if (node == root) break;
        node = node.next_sibling();
    }
}

void WalkDocument(IParserHost* host, const std::string& file) {
    pugi::xml_document doc;
    pugi::xml_parse_result r =
        doc.load_file(file.c_str(), pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_doctype);
    if (!r) {
        int line = 1;
        if (r.status != pugi::status_file_not_found && r.status != pugi::status_io_error) {
            std::ifstream in(file, std::ios::binary);
            char ch;
            for (std::ptrdiff_t i = 0; i < r.offset && in.get(ch); ++i)
                if (ch == '\n') ++line;
        }
        throw Raised(E_FAIL, "Parse error " + std::to_string(static_cast<int>(r.status)) + " at " + file + ":" +
                                 std::to_string(line) + ": " + r.description());
    }
    if (!doc.document_element()) throw Raised(E_FAIL, "Parse error at " + file + ": no root element");
    WalkNode(host, doc.document_element(), file);
}

// Copies a file into a byte host in pieces of at most 512 bytes.
template <typename Host>
void CopyFile(Host* host, const std::string& file, const char* kind) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw Raised(E_FAIL, "Error " + Hex(E_FAIL) + " opening " + kind + " file " + file);
    char buf[512];
    for (;;) {
        in.read(buf, sizeof buf);
        std::streamsize n = in.gcount();
        if (n > 0)
            Check(host->Write(buf, static_cast<std::uint32_t>(n), nullptr), std::string("copying ") + kind + " from " + file);
        if (in.eof()) break;
        if (!in) throw Raised(E_FAIL, "Error " + Hex(E_FAIL) + " reading from " + kind + " file " + file);
    }
}

HRESULT ParserName(IUnknown* h, std::u16string* s) { return static_cast<IParserHost*>(h)->GetFileName(s); }
HRESULT CssName(IUnknown* h, std::u16string* s) { return static_cast<IStylesheetHost*>(h)->GetFileName(s); }
HRESULT PictureName(IUnknown* h, std::u16string* s) { return static_cast<IPictureHost*>(h)->GetFileName(s); }

}  // namespace

int PackBook(ILitWriter* writer, const std::string& packagePath, const std::string& outputPath, std::ostream& out,
             std::ostream& err, std::uint32_t flags) {
    ErrorPrinter printer(err);
    try {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::path pkg = fs::absolute(packagePath, ec);
        if (ec) throw Raised(E_FAIL, "Error " + Hex(E_FAIL) + " resolving package filename.");
        fs::path lit = fs::absolute(outputPath, ec);
        if (ec) throw Raised(E_FAIL, "Error " + Hex(E_FAIL) + " resolving .lit filename.");

        Check(writer->SetCallback(&printer), "setting message callback on writer.");
        std::u16string litW = Utf8ToUtf16(lit.string()), pkgW = Utf8ToUtf16(pkg.string());
        Check(writer->CreateOutput(litW.c_str(), pkgW.c_str(), u"DemoPublisher", flags),
              "creating output file " + lit.string() + ".");

        {
            Ref<IUnknown> raw;
            Check(writer->GetPackageHost(0, &raw.p), "getting package file host.");
            Ref<IParserHost> host;
            Ask(raw.p, IID_IParserHost, host, "getting package file host.");
            WalkDocument(host.p, pkg.string());
            Check(host->FinishDocument(), "processing package file " + pkg.string() + ".");
        }
        for (;;) {
            Ref<IUnknown> raw;
            HRESULT hr = writer->NextStylesheetHost(&raw.p);
            Check(hr, "getting CSS host.");
            if (hr == S_FALSE) break;
            Ref<IStylesheetHost> host;
            Ask(raw.p, IID_IStylesheetHost, host, "getting CSS host.");
            std::string file = FileNameOf(host.p, CssName, "getting CSS filename.");
            out << "Copying CSS file " << file << "...\n";
            CopyFile(host.p, file, "CSS");
            Check(host->Finish(), "writing CSS file " + file + ".");
        }
        for (;;) {
            Ref<IUnknown> raw;
            HRESULT hr = writer->NextContentHost(&raw.p);
            Check(hr, "getting content host.");
            if (hr == S_FALSE) break;
            Ref<IParserHost> host;
            Ask(raw.p, IID_IParserHost, host, "getting content host.");
            std::string file = FileNameOf(host.p, ParserName, "getting content filename.");
            out << "Processing content file " << file << "...\n";
            WalkDocument(host.p, file);
            Check(host->FinishDocument(), "processing OEB content " + file + ".");
        }
        for (;;) {
            Ref<IUnknown> raw;
            HRESULT hr = writer->NextPictureHost(&raw.p);
            Check(hr, "getting image host.");
            if (hr == S_FALSE) break;
            Ref<IPictureHost> host;
            Ask(raw.p, IID_IPictureHost, host, "getting image host.");
            std::string file = FileNameOf(host.p, PictureName, "getting image filename.");
            out << "Copying image file " << file << "...\n";
            try {
                CopyFile(host.p, file, "image");
            } catch (const Raised& e) {
                err << e.what() << "\n";  // one picture lost, the book goes on
            }
        }
        Check(writer->Finish(), "finishing output file.");
        writer->SetCallback(nullptr);
        return 0;
    } catch (const Raised& e) {
        err << e.what() << "\n";
        char buf[64];
        std::snprintf(buf, sizeof buf, "Terminating for error 0x%x.\n", static_cast<unsigned>(e.code));
        err << buf;
    } catch (const std::exception& e) {
        err << e.what() << "\nTerminating for error 0x" << std::hex << static_cast<unsigned>(E_FAIL) << std::dec << ".\n";
    }
    writer->Abandon();
    writer->SetCallback(nullptr);
    return 1;
}

}  // namespace orvo::litgen
