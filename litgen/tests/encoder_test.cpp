// Binary HTML/OPF rules beyond the published vectors: white space, record
// shapes, attribute values, style-driven flags, links and broken input.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "binary_ml.h"
#include "book.h"
#include "css.h"

namespace orvo::litgen {
namespace {

std::string External(const std::string& v) { return "\x03" + v; }

struct Encoded {
    bool ok = false;
    std::string error;
    std::string bytes;  // the output as a string, for readable comparisons
    std::vector<Anchor> anchors;
    std::vector<PageBreak> breaks;
};

bool Feed(BinaryEncoder& enc, const pugi::xml_node& node) {
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) return enc.Text(node.value());
    if (node.type() != pugi::node_element) return true;
    Attributes attrs;
    for (const auto& a : node.attributes()) attrs.emplace_back(a.name(), a.value());
    bool kids = static_cast<bool>(node.first_child());
    if (!enc.Start(node.name(), attrs, kids)) return false;
    for (const auto& c : node.children())
        if (!Feed(enc, c)) return false;
    return !kids || enc.End();
}

Encoded Encode(const std::string& xml, Dialect dialect = Dialect::Html, const StyleSheet* css = nullptr) {
    pugi::xml_document doc;
    Encoded r;
    if (!doc.load_string(xml.c_str(), pugi::parse_default | pugi::parse_ws_pcdata)) {
        r.error = "test input does not parse";
        return r;
    }
    BinaryEncoder enc(dialect, External, css);
    r.ok = Feed(enc, doc.document_element()) && enc.Finish();
    r.error = enc.Error();
    r.bytes.assign(enc.Output().begin(), enc.Output().end());
    r.anchors = enc.Anchors();
    r.breaks = enc.PageBreaks();
    return r;
}

// Text records only, in order, as the reader would print them.
std::string TextOf(const std::string& xml) {
    Encoded e = Encode(xml);
    EXPECT_TRUE(e.ok) << e.error;
    std::string text;
    const std::string& b = e.bytes;
    std::size_t i = 0;
    while (i < b.size()) {
        if (b[i] != 0) {
            text.push_back(b[i++]);
            continue;
        }
        // A record: 00 flags tag... 00 (start) or 00 flags 00 (end).
        std::uint8_t flags = static_cast<std::uint8_t>(b[i + 1]);
        text.push_back('|');
        if (!(flags & 1)) {
            i += 3;
            continue;
        }
        i += 3;  // one-byte tag code in these tests
        while (i < b.size() && b[i] != 0) ++i;  // attributes (none with zero bytes here)
        ++i;
    }
    return text;
}

TEST(BinaryHtmlText, WhiteSpaceCollapsesAndBlockEdgesSwallowIt) {
    EXPECT_EQ(TextOf("<body>\n  <p>  one \n\t two  </p>\n  <p>three</p>\n</body>"), "||one two||three||");
    // Spaces around inline elements are kept, once.
    EXPECT_EQ(TextOf("<p>a  <b> bold </b>  c</p>"), "|a |bold| c|");
    EXPECT_EQ(TextOf("<p>a<br/> b</p>"), "|a|b|");
}

TEST(BinaryHtmlText, PreKeepsItsWhiteSpace) {
    EXPECT_EQ(TextOf("<div><pre>  x\n   y  </pre></div>"), "||  x\n   y  ||");
    EXPECT_EQ(TextOf("<div xml:space=\"preserve\">a  b</div>"), "|a  b|");
}

TEST(BinaryHtmlRecords, EmptyElementHasNoEndRecordAndOthersDo) {
    Encoded e = Encode("<p><img src=\"x\"/></p>");
    ASSERT_TRUE(e.ok);
    // p start (OPEN|BLOCK), img start (OPEN|CLOSE), p end (CLOSE|BLOCK)
    EXPECT_EQ(e.bytes.substr(0, 4), std::string("\0\x05\x4a\0", 4));
    EXPECT_EQ(e.bytes.substr(4, 3), std::string("\0\x03\x35", 3));
    EXPECT_EQ(e.bytes.substr(e.bytes.size() - 3), std::string("\0\x06\0", 3));
}

TEST(BinaryHtmlRecords, HeadContentIsMarkedHead) {
    Encoded e = Encode("<html><head><title>T</title></head><body/></html>");
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(e.bytes[5], 0x0d);   // head: OPEN|BLOCK|HEAD
    EXPECT_EQ(e.bytes[9], 0x0d);   // title
    EXPECT_EQ(e.bytes[14], 0x0e);  // end of title
}

TEST(BinaryHtmlRecords, UnknownTagAndAttributeAreSpelledOut) {
    Encoded e = Encode("<p><news-item data-x=\"1a\">z</news-item></p>");
    ASSERT_TRUE(e.ok);
    std::string tag = std::string("\xe8\x80\x80", 3) + '\x0a' + "news-item";
    std::string attr = std::string("\xe8\x80\x80", 3) + '\x07' + "data-x" + '\x03' + "1a";
    EXPECT_NE(e.bytes.find(tag + attr + '\0'), std::string::npos);
}

TEST(BinaryHtmlRecords, OnlyPlainSmallIntegersUseTheNumberForm) {
    auto valueOf = [](const std::string& v) {
        Encoded e = Encode("<font size=\"" + v + "\"/>");
        EXPECT_TRUE(e.ok);
        return e.bytes.substr(6, e.bytes.size() - 7);  // after 00 flags tag attr-code(3)
    };
    EXPECT_EQ(valueOf("3"), std::string("\xef\xbf\xbf\x04", 4));
    EXPECT_EQ(valueOf("0"), std::string("\xef\xbf\xbf\x01", 4));
    EXPECT_EQ(valueOf("03"), "\x03" "03");
    EXPECT_EQ(valueOf("-1"), "\x03" "-1");
    EXPECT_EQ(valueOf("+2"), "\x03" "+2");
    EXPECT_EQ(valueOf("99999"), "\x06" "99999");  // beyond the one-character range
}

TEST(BinaryHtmlRecords, StylesheetTypeOfLinkBecomesTextCss) {
    Encoded e = Encode("<head><link rel=\"stylesheet\" type=\"text/x-oeb1-css\" href=\"a.css\"/></head>");
    ASSERT_TRUE(e.ok);
    EXPECT_NE(e.bytes.find("\x09text/css"), std::string::npos);
    EXPECT_EQ(e.bytes.find("x-oeb1"), std::string::npos);
}

TEST(BinaryHtmlRecords, NonAsciiTextAndValuesCountCharactersNotBytes) {
    Encoded e = Encode("<p title=\"Ελλάδα\">日本語 и кириллица 🙂</p>");
    ASSERT_TRUE(e.ok);
    EXPECT_NE(e.bytes.find("\x07" "Ελλάδα"), std::string::npos);  // 6 characters + 1
    EXPECT_NE(e.bytes.find("日本語 и кириллица 🙂"), std::string::npos);
}

TEST(BinaryHtmlAnchors, IdAndNameBecomeAnchorsAtTheirRecord) {
    Encoded e = Encode("<body><h1 id=\"top\">x</h1><a name=\"n1\">y</a></body>");
    ASSERT_TRUE(e.ok);
    ASSERT_EQ(e.anchors.size(), 2u);
    EXPECT_EQ(e.anchors[0].name, "top");
    EXPECT_EQ(e.anchors[0].offset, 4u);
    EXPECT_EQ(e.anchors[1].name, "n1");
    EXPECT_EQ(e.bytes[e.anchors[1].offset], '\0');
    EXPECT_EQ(e.bytes[e.anchors[1].offset + 2], 0x03);  // the a tag
}

TEST(BinaryHtmlStyle, StylesheetDecidesBlockAndPageBreaks) {
    StyleSheet css;
    css.Add("/* c */ @media print { p { display: inline } } span.blk { display: block }"
            " .chapter { page-break-before: always } div#end { page-break-after: always }"
            " p.inl { display: inline } body p.x y { display: none }");
    Encoded e = Encode("<body><span class=\"blk\">a</span><p class=\"inl\">b</p>"
                       "<div class=\"chapter other\">c</div><div id=\"end\">d</div></body>",
                       Dialect::Html, &css);
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(e.bytes[5], 0x05);  // span made block
    std::size_t p = e.bytes.find('\x4a');
    ASSERT_NE(p, std::string::npos);
    EXPECT_EQ(e.bytes[p - 1], 0x01);  // p made inline
    ASSERT_EQ(e.breaks.size(), 2u);
    EXPECT_EQ(e.bytes.substr(e.breaks[0].offset, 3), std::string("\0\x05\x1f", 3));
    EXPECT_EQ(e.breaks[0].parents, std::vector<std::uint32_t>{0});
    EXPECT_EQ(e.breaks[1].offset, e.bytes.size() - 3);  // just after the div's end record
}

TEST(BinaryHtmlStyle, InlineStyleBeatsTheStylesheet) {
    StyleSheet css;
    css.Add("div { page-break-before: always; display: block }");
    Encoded e = Encode("<body><div style=\"page-break-before: auto; display: inline\">x</div></body>",
                       Dialect::Html, &css);
    ASSERT_TRUE(e.ok);
    EXPECT_TRUE(e.breaks.empty());
    EXPECT_EQ(e.bytes[5], 0x01);
}

TEST(BinaryOpf, OpfUsesItsOwnTablesAndNoLayoutFlags) {
    Encoded e = Encode("<package><metadata><dc-metadata><dc:title> A  title </dc:title></dc-metadata></metadata>"
                       "<manifest><item id=\"x\" href=\"x.htm\" media-type=\"text/x-oeb1-document\"/></manifest>"
                       "</package>",
                       Dialect::Opf);
    ASSERT_TRUE(e.ok) << e.error;
    EXPECT_EQ(e.bytes.substr(0, 3), std::string("\0\x01\x01", 3));
    // dc:title matches dc:Title regardless of case; its text is trimmed.
    EXPECT_NE(e.bytes.find(std::string("\0\x01\x02\0A title\0\x02\0", 13)), std::string::npos);
    EXPECT_NE(e.bytes.find(std::string("\0\x03\x11\x06\x02x\x07\x07\x03x.htm", 14)), std::string::npos);
}

TEST(BinaryEncoderErrors, BrokenEventStreamsFail) {
    {
        BinaryEncoder enc(Dialect::Html, External);
        EXPECT_FALSE(enc.End());
        EXPECT_NE(enc.Error().find("closing tag"), std::string::npos);
    }
    {
        BinaryEncoder enc(Dialect::Html, External);
        ASSERT_TRUE(enc.Start("html", {}, true));
        ASSERT_TRUE(enc.Start("body", {}, true));
        EXPECT_FALSE(enc.Finish());
        EXPECT_NE(enc.Error().find("2 open"), std::string::npos);
    }
    {
        BinaryEncoder enc(Dialect::Html, External);
        EXPECT_FALSE(enc.Text("stray"));
    }
    {
        BinaryEncoder enc(Dialect::Html, External);
        ASSERT_TRUE(enc.Start("html", {}, false));
        EXPECT_FALSE(enc.Start("html", {}, false));
    }
    {
        BinaryEncoder enc(Dialect::Html, External);
        EXPECT_FALSE(enc.Finish());  // no root at all
    }
}

TEST(BinaryEncoderText, NulCharactersAreDropped) {
    BinaryEncoder enc(Dialect::Html, External);
    ASSERT_TRUE(enc.Start("p", {}, true));
    ASSERT_TRUE(enc.Text(std::string("a\0b", 3)));
    ASSERT_TRUE(enc.End());
    std::string out(enc.Output().begin(), enc.Output().end());
    EXPECT_NE(out.find("ab"), std::string::npos);
}

TEST(Hrefs, NormalizeJoinsAndDecodes) {
    EXPECT_EQ(NormalizeHref("", "a%20b.htm"), "a b.htm");
    EXPECT_EQ(NormalizeHref("text", "../img/./p.jpg"), "img/p.jpg");
    EXPECT_EQ(NormalizeHref("a/b", "c.htm"), "a/b/c.htm");
    EXPECT_EQ(NormalizeHref("", "../up.htm"), "../up.htm");
}

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        pugi::xml_document doc;
        doc.load_string(
            "<package><manifest>"
            "<item id=\"toc\" href=\"TOC.html\" media-type=\"text/x-oeb1-document\"/>"
            "<item id=\"c\" href=\"text/Content.html\" media-type=\"text/x-oeb1-document\"/>"
            "<item id=\"Pic_7\" href=\"Images/p%207.jpg\" media-type=\"image/jpeg\"/>"
            "</manifest><spine><itemref idref=\"toc\"/><itemref idref=\"c\"/></spine></package>");
        std::string error;
        std::vector<std::string> warnings;
        ASSERT_TRUE(book.SetPackage(ToNode(doc.document_element()), error, warnings)) << error;
        book.Items()[2].received = true;
    }
    static XmlNode ToNode(const pugi::xml_node& n) {
        XmlNode x;
        if (n.type() != pugi::node_element) {
            x.text = n.value();
            return x;
        }
        x.name = n.name();
        for (const auto& a : n.attributes()) x.attrs.emplace_back(a.name(), a.value());
        for (const auto& c : n.children()) x.children.push_back(ToNode(c));
        return x;
    }
    Book book;
};

TEST_F(LinkTest, PackageItemsBecomeIdsAndTheRestStaysAsWritten) {
    EXPECT_EQ(book.ResolveLink("text/Content.html#A", "", ""), "\x02" "c#A");
    EXPECT_EQ(book.ResolveLink("toc.html", "", ""), "\x02toc");  // names ignore case
    EXPECT_EQ(book.ResolveLink("../Images/p 7.jpg", "text/Content.html", "c"), "\x02Pic_7");
    EXPECT_EQ(book.ResolveLink("#here", "text/Content.html", "c"), "\x02" "c#here");
    EXPECT_EQ(book.ResolveLink("http://example.com/a.htm", "", ""), "\x03http://example.com/a.htm");
    EXPECT_EQ(book.ResolveLink("missing.htm#x", "", ""), "\x03missing.htm#x");
    EXPECT_EQ(book.ResolveLink("mailto:a@b.c", "", ""), "\x03mailto:a@b.c");
}

TEST_F(LinkTest, PictureThatNeverArrivedIsNotLinkedAsAnItem) {
    book.Items()[2].received = false;
    EXPECT_EQ(book.ResolveLink("Images/p%207.jpg", "", ""), "\x03Images/p%207.jpg");
}

TEST_F(LinkTest, PictureStillToComeIsLinkedAsItsItemAndMarksTheDocument) {
    book.Items()[2].received = false;
    bool pending = false;
    EXPECT_EQ(book.ResolveLink("../Images/p 7.jpg", "text/Content.html", "c", &pending), "\x02Pic_7");
    EXPECT_TRUE(pending);
    pending = false;
    EXPECT_EQ(book.ResolveLink("../toc.html", "text/Content.html", "c", &pending), "\x02toc");
    EXPECT_FALSE(pending);  // documents are always there
}

TEST(Package, UnusableManifestEntriesAreLeftOutWithWarnings) {
    XmlNode pkg{"package", {}, "", {}};
    XmlNode manifest{"manifest", {}, "", {}};
    auto item = [](const std::string& id, const std::string& href, const std::string& type) {
        return XmlNode{"item", {{"id", id}, {"href", href}, {"media-type", type}}, "", {}};
    };
    manifest.children = {item("a", "a.htm", "text/x-oeb1-document"), item("a", "b.htm", "text/x-oeb1-document"),
                         item("f", "font.ttf", "application/x-font"), item("A", "c.htm", "text/html"),
                         item("bad id", "d.htm", "text/x-oeb1-document")};
    pkg.children.push_back(manifest);
    Book book;
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(book.SetPackage(pkg, error, warnings)) << error;
    EXPECT_EQ(warnings.size(), 2u);  // the duplicate and the font
    ASSERT_EQ(book.Items().size(), 3u);
    // Ids must stay unique ignoring case and safe as stream names.
    EXPECT_EQ(book.Items()[0].id, "a");
    EXPECT_NE(book.Items()[1].id, "A");
    EXPECT_NE(book.Items()[2].id, "bad id");
    EXPECT_EQ(book.Documents().size(), 3u);  // none in a spine: all non-linear
}

TEST(Package, StrayItemsOutsideTheManifestAreEncodedAsTheyStand) {
    XmlNode pkg{"package", {}, "", {}};
    pkg.children.push_back({"manifest", {}, "", {XmlNode{"item", {{"id", "a"}, {"href", "a.htm"}, {"media-type", "text/html"}}, "", {}}}});
    pkg.children.push_back({"guide", {}, "", {XmlNode{"item", {{"media-type", "image/png"}}, "", {}}}});
    Book book;
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(book.SetPackage(pkg, error, warnings)) << error;
    Bytes meta;
    ASSERT_TRUE(book.EncodeMeta("{G}", meta, error)) << error;
    std::string text(meta.begin(), meta.end());
    EXPECT_NE(text.find("image/png"), std::string::npos);
    EXPECT_NE(text.find("text/x-oeb1-document"), std::string::npos);  // the document's type in OEB terms
}

TEST(Package, PackageWithoutDocumentsFails) {
    XmlNode pkg{"package", {}, "", {XmlNode{"manifest", {}, "", {}}}};
    Book book;
    std::string error;
    std::vector<std::string> warnings;
    EXPECT_FALSE(book.SetPackage(pkg, error, warnings));
    EXPECT_NE(error.find("no content document"), std::string::npos);
    XmlNode notPkg{"html", {}, "", {}};
    EXPECT_FALSE(book.SetPackage(notPkg, error, warnings));
}

}  // namespace
}  // namespace orvo::litgen
