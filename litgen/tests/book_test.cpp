// What the book assembly writes that the independent reader ignores: the
// anchor tables, page-break tables and the manifest's document offsets.
#include <gtest/gtest.h>

#include "book.h"
#include "test_support.h"

namespace orvo::litgen {
namespace {

std::uint32_t U32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24));
}

XmlNode Item(const std::string& id, const std::string& href, const std::string& type) {
    return XmlNode{"item", {{"id", id}, {"href", href}, {"media-type", type}}, "", {}};
}

class BookTest : public ::testing::Test {
protected:
    void SetUp() override {
        XmlNode pkg{"package", {{"unique-identifier", "u"}}, "", {}};
        pkg.children.push_back({"manifest", {}, "", {Item("a", "a.html", "text/x-oeb1-document"),
                                                    Item("b", "b.html", "text/x-oeb1-document"),
                                                    Item("n", "notes.html", "text/x-oeb1-document"),
                                                    Item("p", "p.jpg", "image/jpeg")}});
        pkg.children.push_back({"spine", {}, "", {XmlNode{"itemref", {{"idref", "b"}}, "", {}},
                                                 XmlNode{"itemref", {{"idref", "a"}}, "", {}}}});
        std::string error;
        std::vector<std::string> warnings;
        ASSERT_TRUE(book.SetPackage(pkg, error, warnings)) << error;
        book.Styles().Add(".chapter { page-break-before: always }");
        Encode(0, "<html><body><p id=\"x\">a</p><div class=\"chapter\"><p>b</p></div></body></html>");
        Encode(1, "<html><body><h1 name=\"top\">B</h1></body></html>");
        Encode(2, "<html><body><p>note</p></body></html>");
    }
    void Encode(std::size_t index, const std::string& xml) {
        // A hand-made walk of tiny documents: elements with one text child.
        BinaryEncoder enc(Dialect::Html, nullptr, &book.Styles());
        std::size_t i = 0;
        while (i < xml.size()) {
            if (xml[i] != '<') {
                std::size_t end = xml.find('<', i);
                enc.Text(xml.substr(i, end - i));
                i = end;
            } else if (xml[i + 1] == '/') {
                enc.End();
                i = xml.find('>', i) + 1;
            } else {
                std::size_t end = xml.find('>', i);
                std::string tag = xml.substr(i + 1, end - i - 1);
                Attributes attrs;
                std::size_t sp = tag.find(' ');
                if (sp != std::string::npos) {
                    std::string a = tag.substr(sp + 1);
                    std::size_t eq = a.find('=');
                    attrs.emplace_back(a.substr(0, eq), a.substr(eq + 2, a.size() - eq - 3));
                    tag = tag.substr(0, sp);
                }
                enc.Start(tag, attrs, true);
                i = end + 1;
            }
        }
        ASSERT_TRUE(enc.Finish()) << enc.Error();
        ManifestItem& it = book.Items()[index];
        it.anchors = enc.Anchors();
        it.breaks = enc.PageBreaks();
        it.data = enc.TakeOutput();
        it.received = true;
    }
    Bytes Build() {
        Bytes file;
        std::string error;
        std::vector<std::string> warnings;
        BookOptions options;
        options.guid = "{00000000-0000-4000-8000-000000000000}";
        EXPECT_TRUE(book.Assemble(options, file, error, warnings)) << error;
        return file;
    }
    Book book;
};

TEST_F(BookTest, DocumentsFollowTheSpineAndOffsetsRunInThatOrder) {
    EXPECT_EQ(book.Documents(), (std::vector<std::size_t>{1, 0, 2}));  // spine first, then the rest
    Bytes file = Build();
    std::uint64_t content = 0;
    std::map<std::string, test::LitEntry> dir;
    for (const auto& e : test::ReadDirectory(file, content)) dir[e.name] = e;
    const auto& a = book.Items()[0].data;
    const auto& b = book.Items()[1].data;
    EXPECT_EQ(dir["/data/b/content"].offset, 0u);
    EXPECT_EQ(dir["/data/a/content"].offset, b.size());
    EXPECT_EQ(dir["/data/n/content"].offset, b.size() + a.size());
    EXPECT_EQ(dir["/data/p"].name, "");  // the picture never arrived
    Bytes manifest = test::Stream0(file, "/manifest");
    // 01 5C, then the linear group: count 2, b at 0, a at len(b).
    EXPECT_EQ(U32(manifest, 2), 2u);
    EXPECT_EQ(U32(manifest, 6), 0u);
    // offset, sized "b", sized "b.html", sized "application/xhtml+xml", 00
    std::size_t second = 6 + 4 + 2 + 7 + 22 + 1;
    EXPECT_EQ(U32(manifest, second), b.size());
}

TEST_F(BookTest, AnchorTablesPointAtTheirRecords) {
    Bytes file = Build();
    Bytes ahcA = test::Stream0(file, "/data/a/ahc");
    ASSERT_EQ(ahcA.size(), 1u + 1 + 1 + 4);
    EXPECT_EQ(ahcA[0], 1);
    EXPECT_EQ(ahcA[1], 1);
    EXPECT_EQ(ahcA[2], 'x');
    std::uint32_t at = U32(ahcA, 3);
    EXPECT_EQ(book.Items()[0].data[at], 0);
    EXPECT_EQ(book.Items()[0].data[at + 2], 0x4a);  // the p element
    EXPECT_EQ(test::Stream0(file, "/data/b/ahc")[2], 't');
    EXPECT_EQ(test::Stream0(file, "/data/a/aht"), Bytes(4, 0));
}

TEST_F(BookTest, PageBreakTablesListEveryBreakInReadingOrder) {
    Bytes file = Build();
    Bytes pb1 = test::Stream0(file, "/pb1"), pb2 = test::Stream0(file, "/pb2"), pb3 = test::Stream0(file, "/pb3");
    // Breaks: the chapter div of a (second in reading order), and offset 0
    // of the non-linear notes document.
    ASSERT_EQ(pb1.size(), 16u);
    std::uint32_t bLen = static_cast<std::uint32_t>(book.Items()[1].data.size());
    std::uint32_t aLen = static_cast<std::uint32_t>(book.Items()[0].data.size());
    const PageBreak& div = book.Items()[0].breaks.at(0);
    EXPECT_EQ(U32(pb1, 0), bLen + div.offset);
    EXPECT_EQ(U32(pb1, 4), 0u);
    EXPECT_EQ(U32(pb1, 8), bLen + aLen);
    EXPECT_EQ(U32(pb1, 12), 4u + 4 * 2);
    EXPECT_EQ(U32(pb2, 0), 2u);  // html and body enclose the div
    EXPECT_EQ(U32(pb2, 4), 0u);
    EXPECT_EQ(U32(pb2, 12), 0u);  // nothing encloses offset 0
    ASSERT_EQ(pb3.size(), 1u);
    EXPECT_EQ(pb3[0], 0xD0);  // 11 then 01
}

}  // namespace
}  // namespace orvo::litgen
