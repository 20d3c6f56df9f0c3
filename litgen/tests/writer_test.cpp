// The writer as the generator drives it: results, host sequences, failure
// codes for misuse and broken input, and what is left on disk.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <sstream>

#include "pack_driver.h"
#include "test_support.h"
#include "writer.h"

namespace orvo::litgen {
namespace {

using test::PackageSpec;
using test::TempDir;

class Recorder final : public IMessageCallback {
public:
    HRESULT QueryInterface(const Guid& iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IMessageCallback) {
            *object = static_cast<IMessageCallback*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    std::uint32_t AddRef() override { return ++refs; }
    std::uint32_t Release() override { return --refs; }
    HRESULT Message(std::int32_t kind, HRESULT, const char16_t* text) override {
        std::u16string t;
        for (const char16_t* p = text; *p; ++p) t.push_back(*p);
        (kind == 0 ? errors : warnings).push_back(Utf16ToUtf8(t));
        return S_OK;
    }
    std::string All() const {
        std::string s;
        for (const auto& e : errors) s += "E: " + e + "\n";
        for (const auto& w : warnings) s += "W: " + w + "\n";
        return s;
    }
    std::uint32_t refs = 1;
    std::vector<std::string> errors, warnings;
};

// One writer, released at the end of the test.
class WriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        IUnknown* unknown = NewWriter();
        ASSERT_NE(unknown, nullptr);
        void* w = nullptr;
        ASSERT_EQ(unknown->QueryInterface(IID_ILitWriter, &w), S_OK);
        unknown->Release();
        writer = static_cast<ILitWriter*>(w);
        writer->SetCallback(&recorder);
    }
    void TearDown() override {
        if (writer) {
            writer->SetCallback(nullptr);
            writer->Release();
        }
    }

    static PackageSpec ThreeDocuments() {
        PackageSpec spec;
        spec.documents = {
            {"toc.html", test::XhtmlDocument("Contents", "<div><a href=\"Content.html#A\">A</a></div>")},
            {"Content.html", test::XhtmlDocument("News", "<div><a name=\"A\">A</a><div class=\"title\">First</div>"
                                                         "<div class=\"news_text\">Body one</div></div>")},
            {"More.html", test::XhtmlDocument("More", "<p>Body two</p>")}};
        spec.pictures = {{"Images/1.jpg", test::PictureBytes(1)}, {"Images/2.png", test::PictureBytes(2)}};
        return spec;
    }

    int Pack(const std::filesystem::path& opf, const std::filesystem::path& out) {
        std::ostringstream o, e;
        int rc = PackBook(writer, opf.string(), out.string(), o, e);
        errText = e.str();
        return rc;
    }

    // Drives CreateOutput and the package document by hand.
    void OpenWithPackage(const test::PackageFiles& files, const std::filesystem::path& out) {
        std::u16string o = Utf8ToUtf16(out.string()), p = Utf8ToUtf16(files.opf.string());
        ASSERT_EQ(writer->CreateOutput(o.c_str(), p.c_str(), u"DemoPublisher", 0), S_OK);
        IUnknown* raw = nullptr;
        ASSERT_EQ(writer->GetPackageHost(0, &raw), S_OK);
        void* h = nullptr;
        ASSERT_EQ(raw->QueryInterface(IID_IParserHost, &h), S_OK);
        raw->Release();
        auto* host = static_cast<IParserHost*>(h);
        // <package><manifest><item .../></manifest><spine><itemref/></spine></package>
        auto tag = [&](const char16_t* name, std::vector<std::pair<std::u16string, std::u16string>> attrs, bool kids) {
            IUnknown* t = nullptr;
            ASSERT_EQ(host->NewTag(&t), S_OK);
            void* tv = nullptr;
            ASSERT_EQ(t->QueryInterface(IID_ITag, &tv), S_OK);
            auto* it = static_cast<ITag*>(tv);
            std::u16string n = name;
            ASSERT_EQ(it->SetName(n.c_str(), static_cast<std::uint32_t>(n.size())), S_OK);
            for (const auto& [k, v] : attrs)
                ASSERT_EQ(it->AddAttribute(k.c_str(), static_cast<std::uint32_t>(k.size()), v.c_str(),
                                           static_cast<std::uint32_t>(v.size())),
                          S_OK);
            ASSERT_EQ(host->BeginTag(it, kids ? 1 : 0), S_OK);
            it->Release();
            t->Release();
        };
        tag(u"package", {}, true);
        tag(u"manifest", {}, true);
        tag(u"item", {{u"id", u"c"}, {u"href", u"c.html"}, {u"media-type", u"text/x-oeb1-document"}}, false);
        tag(u"item", {{u"id", u"p"}, {u"href", u"p.jpg"}, {u"media-type", u"image/jpeg"}}, false);
        ASSERT_EQ(host->EndTag(), S_OK);
        tag(u"spine", {}, true);
        tag(u"itemref", {{u"idref", u"c"}}, false);
        ASSERT_EQ(host->EndTag(), S_OK);
        ASSERT_EQ(host->EndTag(), S_OK);
        ASSERT_EQ(host->FinishDocument(), S_OK);
        host->Release();
    }

    template <typename T>
    T* Next(HRESULT (ILitWriter::*next)(IUnknown**), const Guid& iid) {
        IUnknown* raw = nullptr;
        HRESULT hr = (writer->*next)(&raw);
        EXPECT_EQ(hr, S_OK);
        if (hr != S_OK) return nullptr;
        void* h = nullptr;
        EXPECT_EQ(raw->QueryInterface(iid, &h), S_OK);
        raw->Release();
        return static_cast<T*>(h);
    }

    ILitWriter* writer = nullptr;
    Recorder recorder;
    std::string errText;
};

bool NoFilesBut(const std::filesystem::path& dir, const std::vector<std::string>& names) {
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (std::find(names.begin(), names.end(), e.path().filename().string()) == names.end()) return false;
    return true;
}

TEST_F(WriterTest, PackageBecomesAContainerFile) {
    TempDir dir;
    auto files = test::WritePackage(dir / "pkg", ThreeDocuments());
    ASSERT_EQ(Pack(files.opf, dir / "out.lit"), 0) << errText << recorder.All();
    Bytes lit = test::ReadFile(dir / "out.lit");
    ASSERT_GT(lit.size(), 9000u);
    EXPECT_EQ(std::string(lit.begin(), lit.begin() + 8), "ITOLITLS");
    std::uint64_t recorded = 0;
    for (int i = 0; i < 8; ++i) recorded |= std::uint64_t(lit[352 + 8 + i]) << (8 * i);
    EXPECT_EQ(recorded, lit.size());  // piece 0 carries the file length
    EXPECT_TRUE(recorder.errors.empty()) << recorder.All();
    EXPECT_TRUE(NoFilesBut(dir.path(), {"pkg", "out.lit"}));
}

TEST_F(WriterTest, MissingPictureIsSkippedAndTheBookStillFinished) {
    TempDir dir;
    PackageSpec spec = ThreeDocuments();
    spec.missingPictures = {"Images/1.jpg"};
    auto files = test::WritePackage(dir / "pkg", spec);
    ASSERT_EQ(Pack(files.opf, dir / "out.lit"), 0) << errText << recorder.All();
    EXPECT_NE(errText.find("opening image file"), std::string::npos) << errText;
    // The driver routes the writer's messages to its error stream.
    EXPECT_NE(errText.find("litgen warning: " + (dir / "pkg" / "Images/1.jpg").string()), std::string::npos) << errText;
    EXPECT_EQ(errText.find("litgen error"), std::string::npos) << errText;
    EXPECT_TRUE(std::filesystem::exists(dir / "out.lit"));
}

// Pictures are fed after the documents that show them. A link to one must
// still name its item, and a picture that never comes must leave no link.
TEST_F(WriterTest, PictureLinksNameTheirItemsAndAMissingPictureLeavesNone) {
    TempDir dir;
    PackageSpec spec;
    spec.documents = {{"Content.html", test::XhtmlDocument(
                                           "News", "<div><p>before</p><div><img src=\"Images/1.jpg\" id=\"Pic_1\">"
                                                   "first caption</img></div><p>between</p>"
                                                   "<div><img src=\"Images/2.png\" id=\"Pic_2\">gone caption</img>"
                                                   "</div><p><a href=\"Images/2.png\">see it</a> after</p></div>")}};
    spec.pictures = {{"Images/1.jpg", test::PictureBytes(1)}, {"Images/2.png", test::PictureBytes(2)}};
    spec.missingPictures = {"Images/2.png"};
    auto files = test::WritePackage(dir / "pkg", spec);
    std::ostringstream o, e;
    ASSERT_EQ(PackBook(writer, files.opf.string(), (dir / "out.lit").string(), o, e, kStoreUncompressed), 0)
        << e.str() << recorder.All();
    Bytes lit = test::ReadFile(dir / "out.lit");
    std::string bytes(lit.begin(), lit.end());  // stored blocks: the binary HTML is readable
    // src = U+0002 and the item's id, as links inside the package are written.
    EXPECT_NE(bytes.find(std::string("\x02Pic_1")), std::string::npos);
    EXPECT_EQ(bytes.find("\x03Images/1.jpg"), std::string::npos);
    // The picture that never came: no img, no link, nothing naming it.
    EXPECT_EQ(bytes.find("Images/2.png"), std::string::npos);
    EXPECT_EQ(bytes.find("Pic_2"), std::string::npos);
    EXPECT_EQ(bytes.find("gone caption"), std::string::npos);
    // Everything around it stays, the text of the link included.
    for (const char* text : {"before", "first caption", "between", "see it", "after"})
        EXPECT_NE(bytes.find(text), std::string::npos) << text;
}

TEST_F(WriterTest, ManifestNamesFindFilesWhoseCaseDiffers) {
    // The generator's manifest says "TOC.html" for the file it saves as toc.html.
    TempDir dir;
    auto files = test::WritePackage(dir / "pkg", ThreeDocuments());
    std::filesystem::rename(dir / "pkg" / "toc.html", dir / "pkg" / "TOC.HTML");
    std::filesystem::rename(dir / "pkg" / "Images", dir / "pkg" / "images");
    ASSERT_EQ(Pack(files.opf, dir / "out.lit"), 0) << errText;
    EXPECT_EQ(errText.find("warning"), std::string::npos) << errText;  // both pictures arrived
}

TEST_F(WriterTest, TruncatedOrCorruptDocumentFailsAndLeavesNoFile) {
    for (const std::string& damage : {std::string("truncate"), std::string("garbage")}) {
        SCOPED_TRACE(damage);
        TempDir dir;
        auto files = test::WritePackage(dir / "pkg", ThreeDocuments());
        std::filesystem::path doc = dir / "pkg" / "Content.html";
        Bytes content = test::ReadFile(doc);
        if (damage == "truncate") {
            content.resize(content.size() / 2);
        } else {
            for (std::size_t i = 60; i < content.size(); i += 7) content[i] = static_cast<std::uint8_t>(i * 31);
        }
        test::WriteFile(doc, content);
        EXPECT_EQ(Pack(files.opf, dir / "out.lit"), 1);
        EXPECT_NE(errText.find("Parse error"), std::string::npos) << errText;
        EXPECT_NE(errText.find("Terminating for error 0x80004005."), std::string::npos) << errText;
        EXPECT_TRUE(NoFilesBut(dir.path(), {"pkg"}));
    }
}

TEST_F(WriterTest, DeepNestingNeitherCrashesTheWalkNorTheWriter) {
    TempDir dir;
    PackageSpec spec = ThreeDocuments();
    std::string deep;
    for (int i = 0; i < 200000; ++i) deep += "<span>";
    deep += "bottom";
    for (int i = 0; i < 200000; ++i) deep += "</span>";
    spec.documents[2].second = test::XhtmlDocument("Deep", deep);
    auto files = test::WritePackage(dir / "pkg", spec);
    EXPECT_EQ(Pack(files.opf, dir / "deep.lit"), 0) << errText;

    // The package itself is kept as a tree, so its depth is bounded.
    std::string opf = "<package>";
    for (int i = 0; i < 100; ++i) opf += "<x>";
    for (int i = 0; i < 100; ++i) opf += "</x>";
    opf += "</package>";
    test::WriteFile(files.opf, opf);
    EXPECT_EQ(Pack(files.opf, dir / "bad.lit"), 1);
    EXPECT_NE(errText.find("nests deeper"), std::string::npos) << errText;
    EXPECT_FALSE(std::filesystem::exists(dir / "bad.lit"));
}

TEST_F(WriterTest, AbandonLeavesNoFileAndKeepsAnOlderOne) {
    TempDir dir;
    auto files = test::WritePackage(dir / "pkg", ThreeDocuments());
    OpenWithPackage(files, dir / "new.lit");
    EXPECT_EQ(writer->Abandon(), S_OK);
    EXPECT_TRUE(NoFilesBut(dir.path(), {"pkg"}));

    test::WriteFile(dir / "old.lit", std::string("previous volume"));
    OpenWithPackage(files, dir / "old.lit");
    auto* host = Next<IParserHost>(&ILitWriter::NextContentHost, IID_IParserHost);
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(writer->Abandon(), S_OK);
    EXPECT_EQ(host->EndTag(), E_UNEXPECTED);  // the host died with its output
    host->Release();
    EXPECT_EQ(test::ReadFile(dir / "old.lit").size(), std::string("previous volume").size());
    EXPECT_TRUE(NoFilesBut(dir.path(), {"pkg", "old.lit"}));
}

TEST_F(WriterTest, SequencesEndWithNothingFurther) {
    TempDir dir;
    auto files = test::WritePackage(dir / "pkg", ThreeDocuments());
    OpenWithPackage(files, dir / "out.lit");
    IUnknown* raw = reinterpret_cast<IUnknown*>(0x1);
    EXPECT_EQ(writer->NextStylesheetHost(&raw), S_FALSE);  // this package has none
    EXPECT_EQ(raw, nullptr);
    auto* doc = Next<IParserHost>(&ILitWriter::NextContentHost, IID_IParserHost);
    ASSERT_NE(doc, nullptr);
    std::u16string name;
    EXPECT_EQ(doc->GetFileName(&name), S_OK);
    EXPECT_EQ(Utf16ToUtf8(name), (dir / "pkg" / "c.html").string());
    doc->Release();
    EXPECT_EQ(writer->NextContentHost(&raw), S_FALSE);
    auto* pic = Next<IPictureHost>(&ILitWriter::NextPictureHost, IID_IPictureHost);
    ASSERT_NE(pic, nullptr);
    pic->Release();
    EXPECT_EQ(writer->NextPictureHost(&raw), S_FALSE);
    // The document never arrived, so there is no book to finish.
    EXPECT_LT(writer->Finish(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.lit"));
}

TEST_F(WriterTest, BrokenEventStreamGivesFailureCodes) {
    TempDir dir;
    auto files = test::WritePackage(dir / "pkg", ThreeDocuments());
    OpenWithPackage(files, dir / "out.lit");
    auto* doc = Next<IParserHost>(&ILitWriter::NextContentHost, IID_IParserHost);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->EndTag(), E_BADFORMAT);
    EXPECT_EQ(doc->Text(u"x", 1), E_FAIL);  // the host stays failed
    EXPECT_EQ(doc->FinishDocument(), E_FAIL);
    EXPECT_FALSE(recorder.errors.empty());
    doc->Release();

    Recorder foreign;  // not a tag of this writer
    doc = nullptr;
    writer->Abandon();
    OpenWithPackage(files, dir / "out.lit");
    doc = Next<IParserHost>(&ILitWriter::NextContentHost, IID_IParserHost);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->BeginTag(&foreign, 0), E_INVALIDARG);
    EXPECT_EQ(doc->NewTag(nullptr), E_POINTER);
    doc->Release();
    writer->Abandon();

    // A document that ends with open elements.
    OpenWithPackage(files, dir / "out.lit");
    doc = Next<IParserHost>(&ILitWriter::NextContentHost, IID_IParserHost);
    IUnknown* t = nullptr;
    ASSERT_EQ(doc->NewTag(&t), S_OK);
    void* tv = nullptr;
    ASSERT_EQ(t->QueryInterface(IID_ITag, &tv), S_OK);
    auto* tag = static_cast<ITag*>(tv);
    EXPECT_EQ(tag->SetName(nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(doc->BeginTag(tag, 1), E_INVALIDARG);  // no name yet
    tag->Release();
    t->Release();
    doc->Release();
    writer->Abandon();
    EXPECT_TRUE(NoFilesBut(dir.path(), {"pkg"}));
}

TEST_F(WriterTest, CallsOutOfOrderAreRefused) {
    IUnknown* raw = nullptr;
    EXPECT_EQ(writer->NextContentHost(&raw), E_UNEXPECTED);
    EXPECT_EQ(writer->GetPackageHost(0, &raw), E_UNEXPECTED);
    EXPECT_EQ(writer->Finish(), E_UNEXPECTED);
    EXPECT_EQ(writer->NextPictureHost(nullptr), E_POINTER);
    EXPECT_EQ(writer->Abandon(), S_OK);  // nothing to abandon is fine
    void* other = nullptr;
    EXPECT_EQ(writer->QueryInterface(IID_IParserHost, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);

    TempDir dir;
    std::u16string out = Utf8ToUtf16((dir / "a.lit").string());
    ASSERT_EQ(writer->CreateOutput(out.c_str(), u"/nowhere/p.opf", u"DemoPublisher", 0), S_OK);
    EXPECT_EQ(writer->CreateOutput(out.c_str(), u"/nowhere/p.opf", u"DemoPublisher", 0), E_UNEXPECTED);
    EXPECT_EQ(writer->NextStylesheetHost(&raw), E_UNEXPECTED);  // package not read yet
    writer->Abandon();
}

TEST_F(WriterTest, MissingOutputFolderIsReportedAtOnce) {
    TempDir dir;
    std::u16string out = Utf8ToUtf16((dir / "no" / "such" / "a.lit").string());
    EXPECT_EQ(writer->CreateOutput(out.c_str(), u"p.opf", u"DemoPublisher", 0), E_ACCESSDENIED);
    ASSERT_EQ(recorder.errors.size(), 1u);
    EXPECT_NE(recorder.errors[0].find("does not exist"), std::string::npos);
    EXPECT_EQ(writer->CreateOutput(u"", u"p.opf", u"DemoPublisher", 0), E_INVALIDARG);
}

TEST_F(WriterTest, PictureThatArrivesShortIsLeftOut) {
    TempDir dir;
    auto files = test::WritePackage(dir / "pkg", ThreeDocuments());
    test::WriteFile(dir / "pkg" / "p.jpg", test::PictureBytes(5, 2000));
    OpenWithPackage(files, dir / "out.lit");
    auto* doc = Next<IParserHost>(&ILitWriter::NextContentHost, IID_IParserHost);
    IUnknown* t = nullptr;
    doc->NewTag(&t);
    static_cast<ITag*>(static_cast<void*>(t))->SetName(u"p", 1);  // NewTag hands out the tag object itself
    ASSERT_EQ(doc->BeginTag(t, 0), S_OK);
    t->Release();
    ASSERT_EQ(doc->FinishDocument(), S_OK);
    doc->Release();
    auto* pic = Next<IPictureHost>(&ILitWriter::NextPictureHost, IID_IPictureHost);
    Bytes part = test::PictureBytes(5, 2000);
    std::uint32_t written = 0;
    ASSERT_EQ(pic->Write(part.data(), 512, &written), S_OK);
    EXPECT_EQ(written, 512u);
    EXPECT_EQ(pic->Finish(), S_FALSE);
    pic->Release();
    EXPECT_EQ(writer->Finish(), S_OK) << recorder.All();
    ASSERT_EQ(recorder.warnings.size(), 1u);
    EXPECT_NE(recorder.warnings[0].find("512 of 2000 bytes"), std::string::npos);
}

TEST_F(WriterTest, OneWriterWritesVolumeAfterVolume) {
    TempDir dir;
    auto files = test::WritePackage(dir / "pkg", ThreeDocuments());
    ASSERT_EQ(Pack(files.opf, dir / "v_0.lit"), 0) << errText;
    ASSERT_EQ(Pack(files.opf, dir / "v_1.lit"), 0) << errText;
    EXPECT_TRUE(std::filesystem::exists(dir / "v_0.lit"));
    EXPECT_TRUE(std::filesystem::exists(dir / "v_1.lit"));
}

TEST_F(WriterTest, SameInputAndClockGiveTheSameBytes) {
    TempDir dir;
    auto files = test::WritePackage(dir / "pkg", ThreeDocuments());
    SetWriterTestClock(writer, 1700000000, "{00000000-0000-4000-8000-000000000001}");
    ASSERT_EQ(Pack(files.opf, dir / "a.lit"), 0);
    ASSERT_EQ(Pack(files.opf, dir / "b.lit"), 0);
    EXPECT_EQ(test::ReadFile(dir / "a.lit"), test::ReadFile(dir / "b.lit"));
}

TEST(LibraryExports, OnlyTheFactoryIsVisible) {
    void* lib = ::dlopen(LITGEN_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << ::dlerror();
    auto create = reinterpret_cast<CreateWriterFunction>(::dlsym(lib, "CreateWriter"));
    ASSERT_NE(create, nullptr);
    EXPECT_EQ(::dlsym(lib, "_ZN4orvo6litgen9NewWriterEv"), nullptr);
    EXPECT_EQ(::dlsym(lib, "_ZN4orvo6litgen6MsSha1EPKhm"), nullptr);
    IUnknown* unknown = create();
    ASSERT_NE(unknown, nullptr);
    void* w = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_ILitWriter, &w), S_OK);
    static_cast<ILitWriter*>(w)->Release();
    EXPECT_EQ(unknown->Release(), 0u);
    ::dlclose(lib);
}

TEST(PackCommand, HelpAndBadArguments) {
    auto help = test::Run(std::string(LITGEN_PACK_PROGRAM) + " --help", 30);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("Usage: litgen-pack"), std::string::npos);
    auto bad = test::Run(std::string(LITGEN_PACK_PROGRAM) + " only-one.opf", 30);
    EXPECT_EQ(bad.exitCode, 2);
    auto missing = test::Run(std::string(LITGEN_PACK_PROGRAM) + " /nonexistent/p.opf /tmp/x.lit", 30);
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.output.find("Parse error"), std::string::npos) << missing.output;
}

}  // namespace
}  // namespace orvo::litgen
