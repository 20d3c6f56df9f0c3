#include "writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <new>
#include <string>

#include "book.h"
#include "bytes.h"
#include "platform.h"

namespace orvo::litgen {
namespace {

template <typename F>
HRESULT Guard(F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

std::string FromWide(const char16_t* text) {
    if (!text) return {};
    std::size_t n = 0;
    while (text[n]) ++n;
    return Utf16ToUtf8(std::u16string_view(text, n));
}

std::string FromWide(const char16_t* text, std::uint32_t length) {
    if (!text) return {};
    return Utf16ToUtf8(std::u16string_view(text, length));
}

class WriterImpl;

// A package is a few levels deep; its tree is kept in memory, so nesting is
// bounded.
constexpr std::size_t kMaxPackageDepth = 64;

// The packages were made for a system whose file names ignore case (the
// manifest may say "TOC.html" for toc.html): when the exact name does not
// exist, each missing step is looked up ignoring case.
std::string ResolveCase(const std::string& dir, const std::string& relative) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path exact = fs::path(dir) / relative;
    if (fs::exists(exact, ec)) return exact.string();
    fs::path at = dir;
    for (const fs::path& step : fs::path(relative)) {
        fs::path next = at / step;
        if (!fs::exists(next, ec)) {
            for (const auto& e : fs::directory_iterator(at, ec))
                if (EqualsIgnoreCaseAscii(e.path().filename().string(), step.string())) {
                    next = e.path();
                    break;
                }
        }
        at = next;
    }
    return fs::exists(at, ec) ? at.string() : exact.string();
}

// State of one output between CreateOutput and Finish/Abandon.
struct Session {
    std::string outputPath;
    std::string packagePath;
    std::string packageDir;
    std::uint32_t flags = 0;
    Book book;
    bool packageStarted = false;
    bool packageDone = false;
    std::size_t nextStylesheet = 0, nextDocument = 0, nextPicture = 0;
    std::uint64_t activeToken = 0;  // only the latest host accepts data
    std::uint64_t tokens = 0;
    long openPicture = -1;  // item index of a picture still being written
    bool closed = false;
};

template <typename Interface>
class Object : public Interface {
public:
    std::uint32_t AddRef() override { return ++refs_; }
    std::uint32_t Release() override {
        std::uint32_t left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~Object() = default;
    HRESULT Answer(const Guid& iid, const Guid& own, void** object) {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == own) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

private:
    std::atomic<std::uint32_t> refs_{1};
};

class TagImpl final : public Object<ITag> {
public:
    HRESULT QueryInterface(const Guid& iid, void** object) override { return Answer(iid, IID_ITag, object); }
    HRESULT SetName(const char16_t* name, std::uint32_t length) override {
        return Guard([&] {
            if (!name || length == 0) return E_INVALIDARG;
            name_ = FromWide(name, length);
            return S_OK;
        });
    }
    HRESULT AddAttribute(const char16_t* name, std::uint32_t nameLength, const char16_t* value,
                         std::uint32_t valueLength) override {
        return Guard([&] {
            if (!name || nameLength == 0 || (!value && valueLength)) return E_INVALIDARG;
            attrs_.emplace_back(FromWide(name, nameLength), FromWide(value, valueLength));
            return S_OK;
        });
    }
    const std::string& Name() const { return name_; }
    const Attributes& Attrs() const { return attrs_; }

private:
    std::string name_;
    Attributes attrs_;
};

class WriterImpl final : public Object<ILitWriter> {
public:
    HRESULT QueryInterface(const Guid& iid, void** object) override { return Answer(iid, IID_ILitWriter, object); }
    HRESULT SetCallback(IMessageCallback* callback) override;
    HRESULT CreateOutput(const char16_t* outputPath, const char16_t* packagePath, const char16_t* publisher,
                         std::uint32_t flags) override;
    HRESULT GetPackageHost(std::uint32_t reserved, IUnknown** host) override;
    HRESULT NextStylesheetHost(IUnknown** host) override;
    HRESULT NextContentHost(IUnknown** host) override;
    HRESULT NextPictureHost(IUnknown** host) override;
    HRESULT Finish() override;
    HRESULT Abandon() override;

    HRESULT Report(std::int32_t kind, HRESULT code, const std::string& text) {
        if (callback_) callback_->Message(kind, code, Utf8ToUtf16(text).c_str());
        return code;
    }
    void SetClock(std::uint32_t timestamp, std::string guid) {
        fixedTime_ = timestamp;
        fixedGuid_ = std::move(guid);
    }

private:
    ~WriterImpl() override {
        if (callback_) callback_->Release();
    }
    HRESULT NeedBook(IUnknown** host);
    void ClosePicture();
    HRESULT WriteFile(const Bytes& data);

    IMessageCallback* callback_ = nullptr;
    std::shared_ptr<Session> session_;
    std::uint32_t fixedTime_ = 0;
    std::string fixedGuid_;
};

// Common part of the hosts: the item, the session and whether it may still
// take data.
class HostBase {
protected:
    HostBase(WriterImpl* writer, std::shared_ptr<Session> session, long item)
        : writer_(writer), session_(std::move(session)), item_(item), token_(++session_->tokens) {
        writer_->AddRef();
        session_->activeToken = token_;
    }
    ~HostBase() { writer_->Release(); }

    bool Active() const { return !session_->closed && session_->activeToken == token_ && !failed_; }
    HRESULT Inactive() const {
        return failed_ ? E_FAIL : E_UNEXPECTED;
    }
    HRESULT Fail(HRESULT code, const std::string& text) {
        failed_ = true;
        return writer_->Report(0, code, text);
    }
    ManifestItem* Item() { return item_ < 0 ? nullptr : &session_->book.Items()[item_]; }
    std::string FileName() const {
        if (item_ < 0) return session_->packagePath;
        return ResolveCase(session_->packageDir, session_->book.Items()[item_].path);
    }
    HRESULT Give(std::u16string* out, const std::string& text) {
        if (!out) return E_POINTER;
        *out = Utf8ToUtf16(text);
        return S_OK;
    }
    HRESULT GetIdImpl(std::u16string* out) {
        return Give(out, item_ < 0 ? std::string() : session_->book.Items()[item_].originalId);
    }
    HRESULT GetMediaTypeImpl(std::u16string* out) {
        return Give(out, item_ < 0 ? std::string("text/x-oeb1-package") : session_->book.Items()[item_].mediaType);
    }

    WriterImpl* writer_;
    std::shared_ptr<Session> session_;
    long item_;  // -1: the package document
    std::uint64_t token_;
    bool failed_ = false;
};

class ParserHostImpl final : public Object<IParserHost>, private HostBase {
public:
    ParserHostImpl(WriterImpl* writer, std::shared_ptr<Session> session, long item)
        : HostBase(writer, std::move(session), item) {
        if (item_ >= 0) {
            const ManifestItem& it = session_->book.Items()[item_];
            const Book* book = &session_->book;
            std::string path = it.path, id = it.id;
            // Pictures come after the documents: a link to one is written
            // as a link to its item now, and settled at the end.
            bool* pending = &pending_;
            encoder_ = std::make_unique<BinaryEncoder>(
                Dialect::Html,
                [book, path, id, pending](const std::string& v) { return book->ResolveLink(v, path, id, pending); },
                &session_->book.Styles());
        }
    }

    HRESULT QueryInterface(const Guid& iid, void** object) override { return Answer(iid, IID_IParserHost, object); }
    HRESULT GetId(std::u16string* id) override { return Guard([&] { return GetIdImpl(id); }); }
    HRESULT GetFileName(std::u16string* name) override { return Guard([&] { return Give(name, FileName()); }); }
    HRESULT GetMediaType(std::u16string* type) override { return Guard([&] { return GetMediaTypeImpl(type); }); }

    HRESULT NewTag(IUnknown** tag) override {
        return Guard([&] {
            if (!tag) return E_POINTER;
            *tag = nullptr;
            if (!Active()) return Inactive();
            *tag = static_cast<ITag*>(new TagImpl);
            return S_OK;
        });
    }

    HRESULT BeginTag(IUnknown* tag, std::int32_t hasChildren) override {
        return Guard([&] {
            if (!Active()) return Inactive();
            auto* t = dynamic_cast<TagImpl*>(tag);
            if (!t) return Fail(E_INVALIDARG, Where() + ": a tag that did not come from this host");
            if (t->Name().empty()) return Fail(E_INVALIDARG, Where() + ": a tag without a name");
            if (encoder_) {
                if (!encoder_->Start(t->Name(), t->Attrs(), hasChildren != 0)) return Broken();
                DocumentEvent e;
                e.kind = DocumentEvent::Kind::Start;
                e.name = t->Name();
                e.attrs = t->Attrs();
                e.hasChildren = hasChildren != 0;
                events_.push_back(std::move(e));
                return S_OK;
            }
            if (stack_.size() >= kMaxPackageDepth)
                return Fail(E_BADFORMAT, Where() + ": the package document nests deeper than " +
                                             std::to_string(kMaxPackageDepth) + " elements");
            XmlNode node;
            node.name = t->Name();
            node.attrs = t->Attrs();
            if (stack_.empty()) {
                if (!root_.name.empty()) return Fail(E_BADFORMAT, Where() + ": a second root element");
                root_ = std::move(node);
                if (hasChildren) stack_.push_back(&root_);
                sawRoot_ = true;
            } else {
                XmlNode* parent = stack_.back();
                parent->children.push_back(std::move(node));
                if (hasChildren) stack_.push_back(&parent->children.back());
            }
            return S_OK;
        });
    }

    HRESULT Text(const char16_t* text, std::uint32_t length) override {
        return Guard([&] {
            if (!Active()) return Inactive();
            if (!text && length) return Fail(E_POINTER, Where() + ": text without characters");
            std::string utf8 = FromWide(text, length);
            if (encoder_) {
                if (!encoder_->Text(utf8)) return Broken();
                DocumentEvent e;
                e.text = std::move(utf8);
                events_.push_back(std::move(e));
                return S_OK;
            }
            if (stack_.empty()) {
                if (utf8.find_first_not_of(" \t\r\n") != std::string::npos)
                    return Fail(E_BADFORMAT, Where() + ": text outside the root element");
                return S_OK;
            }
            XmlNode t;
            t.text = std::move(utf8);
            stack_.back()->children.push_back(std::move(t));
            return S_OK;
        });
    }

    HRESULT EndTag() override {
        return Guard([&] {
            if (!Active()) return Inactive();
            if (encoder_) {
                if (!encoder_->End()) return Broken();
                DocumentEvent e;
                e.kind = DocumentEvent::Kind::End;
                events_.push_back(std::move(e));
                return S_OK;
            }
            if (stack_.empty()) return Fail(E_BADFORMAT, Where() + ": a closing tag without an open element");
            stack_.pop_back();
            return S_OK;
        });
    }

    HRESULT Comment(const char16_t*, std::uint32_t) override {
        return Active() ? S_OK : Inactive();  // comments have no place in binary HTML
    }

    HRESULT FinishDocument() override {
        return Guard([&]() -> HRESULT {
            if (!Active()) return Inactive();
            if (encoder_) {
                if (!encoder_->Finish()) return Broken();
                ManifestItem* it = Item();
                it->anchors = encoder_->Anchors();
                it->breaks = encoder_->PageBreaks();
                for (const std::string& w : encoder_->TakeWarnings()) writer_->Report(1, S_OK, Where() + ": " + w);
                it->data = encoder_->TakeOutput();
                it->received = true;
                it->linksPending = pending_;
                if (pending_) it->source = std::move(events_);
                events_.clear();
                session_->activeToken = 0;
                return S_OK;
            }
            if (!sawRoot_) return Fail(E_BADFORMAT, Where() + ": the document has no root element");
            if (!stack_.empty()) return Fail(E_BADFORMAT, Where() + ": the document ends inside an element");
            std::string error;
            std::vector<std::string> warnings;
            bool ok = session_->book.SetPackage(std::move(root_), error, warnings);
            for (const std::string& w : warnings) writer_->Report(1, S_OK, Where() + ": " + w);
            if (!ok) return Fail(E_BADFORMAT, Where() + ": " + error);
            session_->packageDone = true;
            session_->activeToken = 0;
            return S_OK;
        });
    }

private:
    std::string Where() const { return FileName(); }
    HRESULT Broken() { return Fail(E_BADFORMAT, Where() + ": " + encoder_->Error()); }

    std::unique_ptr<BinaryEncoder> encoder_;  // content documents
    std::vector<DocumentEvent> events_;       // what the encoder was given
    bool pending_ = false;                    // a link waits for an item's bytes
    XmlNode root_;                            // the package document
    std::vector<XmlNode*> stack_;
    bool sawRoot_ = false;
};

// Stylesheets and pictures: bytes in, kept whole.
template <typename Interface, const Guid& kIid>
class ByteHostImpl final : public Object<Interface>, private HostBase {
public:
    ByteHostImpl(WriterImpl* writer, std::shared_ptr<Session> session, long item)
        : HostBase(writer, std::move(session), item) {}

    HRESULT QueryInterface(const Guid& iid, void** object) override { return this->Answer(iid, kIid, object); }
    HRESULT GetId(std::u16string* id) override { return Guard([&] { return GetIdImpl(id); }); }
    HRESULT GetFileName(std::u16string* name) override { return Guard([&] { return Give(name, FileName()); }); }
    HRESULT GetMediaType(std::u16string* type) override { return Guard([&] { return GetMediaTypeImpl(type); }); }

    HRESULT Write(const void* data, std::uint32_t count, std::uint32_t* written) override {
        return Guard([&] {
            if (written) *written = 0;
            if (!Active()) return Inactive();
            if (!data && count) return Fail(E_POINTER, FileName() + ": write without a buffer");
            const auto* p = static_cast<const std::uint8_t*>(data);
            Item()->data.insert(Item()->data.end(), p, p + count);
            if (written) *written = count;
            return S_OK;
        });
    }

    HRESULT Finish() override {
        return Guard([&] {
            if (!Active()) return Inactive();
            ManifestItem* it = Item();
            session_->activeToken = 0;
            if (it->kind == ItemKind::Picture) {
                session_->openPicture = -1;
                return CommitPicture(*writer_, *session_, item_) ? S_OK : S_FALSE;
            }
            it->received = true;
            session_->book.Styles().Add(std::string(it->data.begin(), it->data.end()));
            return S_OK;
        });
    }

    // A picture goes into the book only when it arrived whole.
    static bool CommitPicture(WriterImpl& writer, Session& session, long index) {
        ManifestItem& it = session.book.Items()[index];
        std::string file = ResolveCase(session.packageDir, it.path);
        it.skipped = true;
        if (it.data.empty()) {
            writer.Report(1, S_OK, file + ": no picture data arrived; the picture is left out");
            return false;
        }
        struct stat st{};
        if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            static_cast<std::uint64_t>(st.st_size) != it.data.size()) {
            writer.Report(1, S_OK, file + ": " + std::to_string(it.data.size()) + " of " +
                                       std::to_string(st.st_size) + " bytes arrived; the picture is left out");
            it.data.clear();
            return false;
        }
        it.received = true;
        it.skipped = false;
        return true;
    }
};

using StylesheetHostImpl = ByteHostImpl<IStylesheetHost, IID_IStylesheetHost>;
using PictureHostImpl = ByteHostImpl<IPictureHost, IID_IPictureHost>;

HRESULT WriterImpl::SetCallback(IMessageCallback* callback) {
    if (callback) callback->AddRef();
    if (callback_) callback_->Release();
    callback_ = callback;
    return S_OK;
}

HRESULT WriterImpl::CreateOutput(const char16_t* outputPath, const char16_t* packagePath, const char16_t*,
                                 std::uint32_t flags) {
    return Guard([&] {
        if (session_) return Report(0, E_UNEXPECTED, "an output is already open; finish or abandon it first");
        std::string out = FromWide(outputPath), pkg = FromWide(packagePath);
        if (out.empty()) return Report(0, E_INVALIDARG, "no output file name was given");
        if (pkg.empty()) return Report(0, E_INVALIDARG, "no package file name was given");
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::path outPath = fs::absolute(fs::path(out), ec);
        fs::path pkgPath = fs::absolute(fs::path(pkg), ec).lexically_normal();
        fs::path outDir = outPath.parent_path();
        if (!fs::is_directory(outDir, ec))
            return Report(0, E_ACCESSDENIED, "the output folder " + outDir.string() + " does not exist; create it first");
        if (::access(outDir.c_str(), W_OK) != 0)
            return Report(0, E_ACCESSDENIED, "cannot write into " + outDir.string() + ": " + std::strerror(errno));
        if (fs::is_directory(outPath, ec))
            return Report(0, E_INVALIDARG, outPath.string() + " is a folder, not a file name");
        auto s = std::make_shared<Session>();
        s->outputPath = outPath.string();
        s->packagePath = pkgPath.string();
        s->packageDir = pkgPath.parent_path().string();
        s->flags = flags;
        session_ = std::move(s);
        return S_OK;
    });
}

HRESULT WriterImpl::GetPackageHost(std::uint32_t, IUnknown** host) {
    return Guard([&] {
        if (!host) return E_POINTER;
        *host = nullptr;
        if (!session_) return Report(0, E_UNEXPECTED, "no output is open; create one first");
        if (session_->packageStarted) return Report(0, E_UNEXPECTED, "the package document was already requested");
        session_->packageStarted = true;
        *host = static_cast<IParserHost*>(new ParserHostImpl(this, session_, -1));
        return S_OK;
    });
}

HRESULT WriterImpl::NeedBook(IUnknown** host) {
    if (!host) return E_POINTER;
    *host = nullptr;
    if (!session_) return Report(0, E_UNEXPECTED, "no output is open; create one first");
    if (!session_->packageDone) return Report(0, E_UNEXPECTED, "the package document has not been finished yet");
    return S_OK;
}

void WriterImpl::ClosePicture() {
    if (session_ && session_->openPicture >= 0) {
        PictureHostImpl::CommitPicture(*this, *session_, session_->openPicture);
        session_->openPicture = -1;
    }
}

HRESULT WriterImpl::NextStylesheetHost(IUnknown** host) {
    return Guard([&] {
        HRESULT hr = NeedBook(host);
        if (hr != S_OK) return hr;
        ClosePicture();
        const auto& list = session_->book.Stylesheets();
        if (session_->nextStylesheet >= list.size()) return S_FALSE;
        long item = static_cast<long>(list[session_->nextStylesheet++]);
        session_->book.Items()[item].data.clear();
        *host = static_cast<IStylesheetHost*>(new StylesheetHostImpl(this, session_, item));
        return S_OK;
    });
}

HRESULT WriterImpl::NextContentHost(IUnknown** host) {
    return Guard([&] {
        HRESULT hr = NeedBook(host);
        if (hr != S_OK) return hr;
        ClosePicture();
        const auto& list = session_->book.Documents();
        if (session_->nextDocument >= list.size()) return S_FALSE;
        long item = static_cast<long>(list[session_->nextDocument++]);
        *host = static_cast<IParserHost*>(new ParserHostImpl(this, session_, item));
        return S_OK;
    });
}

HRESULT WriterImpl::NextPictureHost(IUnknown** host) {
    return Guard([&] {
        HRESULT hr = NeedBook(host);
        if (hr != S_OK) return hr;
        ClosePicture();
        const auto& list = session_->book.Pictures();
        if (session_->nextPicture >= list.size()) return S_FALSE;
        long item = static_cast<long>(list[session_->nextPicture++]);
        session_->book.Items()[item].data.clear();
        session_->openPicture = item;
        *host = static_cast<IPictureHost*>(new PictureHostImpl(this, session_, item));
        return S_OK;
    });
}

HRESULT WriterImpl::WriteFile(const Bytes& data) {
    // The finished file replaces the output in one rename.
    std::string error;
    if (!orvo::WriteFileAtomically(session_->outputPath,
                                   std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), &error,
                                   0666))
        return Report(0, E_ACCESSDENIED, error);
    return S_OK;
}

HRESULT WriterImpl::Finish() {
    return Guard([&] {
        if (!session_) return Report(0, E_UNEXPECTED, "no output is open; create one first");
        std::shared_ptr<Session> s = session_;
        if (!s->packageDone) {
            Abandon();
            return Report(0, E_UNEXPECTED, "the package document was never finished; nothing was written");
        }
        ClosePicture();
        std::string error;
        std::vector<std::string> warnings;
        if (!s->book.SettleLinks(error, warnings)) {
            for (const std::string& w : warnings) Report(1, S_OK, w);
            s->closed = true;
            session_.reset();
            return Report(0, E_BADFORMAT, s->outputPath + ": " + error);
        }
        BookOptions options;
        options.storeOnly = (s->flags & kStoreUncompressed) != 0;
        options.timestamp = fixedTime_ ? fixedTime_ : static_cast<std::uint32_t>(std::time(nullptr));
        options.guid = fixedGuid_;
        Bytes file;
        bool ok = s->book.Assemble(options, file, error, warnings);
        for (const std::string& w : warnings) Report(1, S_OK, w);
        HRESULT hr = ok ? WriteFile(file) : Report(0, E_BADFORMAT, s->outputPath + ": " + error);
        s->closed = true;
        session_.reset();
        return hr;
    });
}

HRESULT WriterImpl::Abandon() {
    if (session_) {
        session_->closed = true;
        session_.reset();
    }
    return S_OK;
}

}  // namespace

IUnknown* NewWriter() {
    try {
        return static_cast<ILitWriter*>(new WriterImpl);
    } catch (...) {
        return nullptr;
    }
}

void SetWriterTestClock(ILitWriter* writer, std::uint32_t timestamp, const char* guid) {
    if (auto* w = dynamic_cast<WriterImpl*>(writer)) w->SetClock(timestamp, guid ? guid : "");
}

}  // namespace orvo::litgen
