// Files written by the library, judged by an independent reader (calibre):
// its LIT reader through the oracle script, and its text conversion.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>

#include <fstream>
#include <set>
#include <sstream>

#include "book.h"
#include "pack_driver.h"
#include "test_support.h"
#include "writer.h"

namespace orvo::litgen {
namespace {

using test::PackageSpec;
using test::TempDir;

std::string Str(const QJsonValue& v) { return v.toString().toStdString(); }

// The reader prints every non-ASCII character as a numeric reference.
std::string DecodeReferences(const std::string& html) {
    std::string out;
    for (std::size_t i = 0; i < html.size(); ++i) {
        if (html.compare(i, 2, "&#") == 0) {
            std::size_t semi = html.find(';', i);
            if (semi != std::string::npos && semi - i < 10) {
                AppendUtf8(out, static_cast<std::uint32_t>(std::stoul(html.substr(i + 2, semi - i - 2))));
                i = semi;
                continue;
            }
        }
        out.push_back(html[i]);
    }
    return out;
}

struct Oracle {
    int exitCode = -1;
    QJsonObject report;
    std::string output;
};

class OracleTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::CalibreAvailable())
            GTEST_SKIP() << "calibre is not installed (no calibre-debug / ebook-convert): the checks by the "
                            "independent reader are skipped. Install it with scripts/install-deps.sh.";
        ASSERT_TRUE(std::filesystem::exists(test::LitDir() / "oracle.py"))
            << "oracle.py belongs to the repository: " << test::LitDir();
    }

    Oracle Check(const std::filesystem::path& lit) {
        Oracle o;
        std::filesystem::path json = lit.string() + ".json";
        auto r = test::Run("QT_QPA_PLATFORM=offscreen calibre-debug -e " + test::Quote((test::LitDir() / "oracle.py").string()) +
                               " -- " + test::Quote(lit.string()) + " --strict --html --out " + test::Quote(json.string()),
                           600);
        o.exitCode = r.exitCode;
        o.output = r.output;
        o.report = test::LoadJson(json);
        return o;
    }

    std::string ToText(const std::filesystem::path& lit) {
        std::filesystem::path txt = lit.string() + ".txt";
        auto r = test::Run("QT_QPA_PLATFORM=offscreen ebook-convert " + test::Quote(lit.string()) + " " +
                               test::Quote(txt.string()),
                           600);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        std::ifstream in(txt);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    int Pack(const std::filesystem::path& opf, const std::filesystem::path& out, std::uint32_t flags = 0) {
        auto r = test::Run(std::string(LITGEN_PACK_PROGRAM) + (flags & kStoreUncompressed ? " --stored " : " ") +
                               test::Quote(opf.string()) + " " + test::Quote(out.string()),
                           300);
        packOutput = r.output;
        return r.exitCode;
    }

    static std::string Problems(const Oracle& o) {
        QJsonDocument d(QJsonObject{{"error", o.report["error"]},
                                    {"problems", o.report["problems"]},
                                    {"deviations", o.report["deviations"]}});
        return d.toJson().toStdString() + o.output.substr(0, 2000);
    }

    static std::string DocumentHtml(const Oracle& o, const std::string& id) {
        for (const QJsonValue& d : o.report["documents"].toArray())
            if (Str(d["id"]) == id) return Str(d["html"]);
        return {};
    }

    std::string packOutput;
};

PackageSpec NewsPackage(const Bytes& jpeg) {
    PackageSpec spec;
    spec.documents = {
        {"toc.html", test::XhtmlDocument("Contents",
                                         "<div><a href=\"Content.html#World\">World</a></div>\n"
                                         "<div><a href=\"More.html#m2\">More news</a></div>\n"
                                         "<p>TOC-MARKER contents page</p>")},
        {"Content.html",
         test::XhtmlDocument("News",
                             "<div><a name=\"World\">World</a>\n"
                             "<div class=\"header\">World  08.12.2026 14:00</div>\n"
                             "<div class=\"title\">Widgets rise</div>\n"
                             "<div class=\"source\"><a alt=\"http://example.org/1\" href=\"http://example.org/1\">"
                             "http://example.org/1</a></div>\n"
                             "<div class=\"news_text\">ALPHA-MARKER first paragraph &amp; more<br />next line</div>\n"
                             "<div><img id=\"Pic_1\" src=\"Images/1.jpg\" align=\"bottom\">caption one</img></div>\n"
                             "<div class=\"news_text\">BETA-MARKER after the picture &#160;ok</div>\n"
                             "<div><img id=\"Pic_2\" src=\"Images/2.png\" align=\"bottom\">caption two</img></div>\n"
                             "<div class=\"news_text\">GAMMA-MARKER closing words <a href=\"More.html\">more</a></div>"
                             "</div>")},
        {"More.html", test::XhtmlDocument("More",
                                          "<h2 id=\"m2\">Second page</h2>\n"
                                          "<p style=\"page-break-before: always\">DELTA-MARKER in a new page</p>\n"
                                          "<p><img src=\"Images/3.png\" alt=\"three\"/> EPSILON-MARKER <a href=\"toc.html\">back</a></p>")}};
    spec.pictures = {{"Images/1.jpg", jpeg}, {"Images/2.png", test::PictureBytes(2)}, {"Images/3.png", test::PictureBytes(3)}};
    return spec;
}

Bytes RealJpeg() { return test::ReadFile(test::LitDir() / "vectors" / "pkg" / "pic1.jpg"); }

TEST_F(OracleTest, NewsVolumeOpensWholeWithEveryPartIntact) {
    TempDir dir;
    PackageSpec spec = NewsPackage(RealJpeg());
    auto files = test::WritePackage(dir / "pkg", spec);
    ASSERT_EQ(Pack(files.opf, dir / "news.lit"), 0) << packOutput;
    Oracle o = Check(dir / "news.lit");
    ASSERT_EQ(o.exitCode, 0) << Problems(o);

    QJsonObject reader = o.report["reader"].toObject();
    EXPECT_EQ(reader["drmlevel"].toInt(), 1);
    std::set<std::string> entries;
    for (const QJsonValue& e : reader["entries"].toArray()) entries.insert(Str(e["name"]));
    const std::string lzx = "{0A9007C6-4076-11D3-8789-0000F8105754}", des = "{67F6E4A2-60BF-11D3-8540-00C04F58C3CF}";
    std::set<std::string> expected = {
        "/", "/data/", "/data/css", "/data/Pic_1", "/data/Pic_2", "/data/Pic_3",
        "/DRMStorage/DRMSealed", "/DRMStorage/DRMSource", "/DRMStorage/ValidationStream", "/manifest", "/meta",
        "/pb1", "/pb2", "/pb3", "/Version", "::DataSpace/NameList",
        "::DataSpace/Storage/EbEncryptDS/Content", "::DataSpace/Storage/EbEncryptDS/ControlData",
        "::DataSpace/Storage/EbEncryptDS/SpanInfo", "::DataSpace/Storage/EbEncryptDS/Transform/List",
        "::DataSpace/Storage/EbEncryptDS/Transform/" + lzx + "/InstanceData/",
        "::DataSpace/Storage/EbEncryptDS/Transform/" + lzx + "/InstanceData/ResetTable",
        "::DataSpace/Storage/EbEncryptDS/Transform/" + des + "/InstanceData/",
        "::DataSpace/Storage/EbEncryptOnlyDS/Content", "::DataSpace/Storage/EbEncryptOnlyDS/ControlData",
        "::DataSpace/Storage/EbEncryptOnlyDS/SpanInfo", "::DataSpace/Storage/EbEncryptOnlyDS/Transform/List",
        "::DataSpace/Storage/EbEncryptOnlyDS/Transform/" + des + "/InstanceData/",
        "::DataSpace/Storage/MSCompressed/Content", "::DataSpace/Storage/MSCompressed/ControlData",
        "::DataSpace/Storage/MSCompressed/SpanInfo", "::DataSpace/Storage/MSCompressed/Transform/List",
        "::DataSpace/Storage/MSCompressed/Transform/" + lzx + "/InstanceData/",
        "::DataSpace/Storage/MSCompressed/Transform/" + lzx + "/InstanceData/ResetTable",
        "::Transform/" + lzx + "/", "::Transform/" + des + "/"};
    for (const char* doc : {"toc", "content1", "content2"})
        for (const char* part : {"/", "/ahc", "/aht", "/content"}) expected.insert(std::string("/data/") + doc + part);
    EXPECT_EQ(entries, expected);

    // Manifest: documents in spine order, then the stylesheet, then pictures.
    std::vector<std::string> ids, states;
    for (const QJsonValue& m : reader["manifest"].toArray()) {
        ids.push_back(Str(m["id"]) + "=" + Str(m["path"]));
        states.push_back(Str(m["state"]));
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"toc=toc.html", "content1=Content.html", "content2=More.html",
                                             "css=eBook.css", "Pic_1=Images/1.jpg", "Pic_2=Images/2.png",
                                             "Pic_3=Images/3.png"}));
    EXPECT_EQ(states, (std::vector<std::string>{"spine", "spine", "spine", "css", "images", "images", "images"}));
    EXPECT_NE(Str(o.report["meta_opf"]).find("<dc:Title>" + spec.title + "</dc:Title>"), std::string::npos);

    // Pictures and the stylesheet come back byte for byte.
    std::map<std::string, std::string> sha;
    for (const QJsonValue& x : o.report["others"].toArray()) sha[Str(x["id"])] = Str(x["sha1"]);
    EXPECT_EQ(sha["Pic_1"], test::Sha1Hex(spec.pictures[0].second));
    EXPECT_EQ(sha["Pic_2"], test::Sha1Hex(spec.pictures[1].second));
    EXPECT_EQ(sha["Pic_3"], test::Sha1Hex(spec.pictures[2].second));
    EXPECT_EQ(sha["css"], test::Sha1Hex(Bytes(spec.css.begin(), spec.css.end())));

    // Internal links point at the documents and anchors again.
    std::string toc = DocumentHtml(o, "toc"), content = DocumentHtml(o, "content1"), more = DocumentHtml(o, "content2");
    EXPECT_NE(toc.find("href=\"Content.html#World\""), std::string::npos) << toc;
    EXPECT_NE(toc.find("href=\"More.html#m2\""), std::string::npos) << toc;
    EXPECT_NE(content.find("href=\"More.html\""), std::string::npos) << content;
    EXPECT_NE(content.find("href=\"http://example.org/1\""), std::string::npos) << content;
    EXPECT_NE(content.find("src=\"Images/1.jpg\""), std::string::npos) << content;
    EXPECT_NE(more.find("href=\"toc.html\""), std::string::npos) << more;

    // The end-to-end text holds every paragraph's marker.
    std::string text = ToText(dir / "news.lit");
    for (const char* marker : {"TOC-MARKER", "ALPHA-MARKER first paragraph & more", "next line", "BETA-MARKER",
                               "GAMMA-MARKER", "DELTA-MARKER", "EPSILON-MARKER", "Widgets rise", "caption one"})
        EXPECT_NE(text.find(marker), std::string::npos) << marker << "\n" << text;
}

TEST_F(OracleTest, StoredAndCompressedBooksReadTheSame) {
    TempDir dir;
    std::string body;
    for (int i = 0; i < 3000; ++i) body += "<p class=\"news_text\">Item " + std::to_string(i) + " said the market rose</p>\n";
    PackageSpec spec = NewsPackage(RealJpeg());
    spec.documents.push_back({"Long.html", test::XhtmlDocument("Long", body)});
    auto files = test::WritePackage(dir / "pkg", spec);
    ASSERT_EQ(Pack(files.opf, dir / "stored.lit", kStoreUncompressed), 0) << packOutput;
    ASSERT_EQ(Pack(files.opf, dir / "packed.lit"), 0) << packOutput;
    Oracle stored = Check(dir / "stored.lit"), packed = Check(dir / "packed.lit");
    ASSERT_EQ(stored.exitCode, 0) << Problems(stored);
    ASSERT_EQ(packed.exitCode, 0) << Problems(packed);
    for (const char* id : {"toc", "content1", "content2", "content3"})
        EXPECT_EQ(DocumentHtml(stored, id), DocumentHtml(packed, id)) << id;
    EXPECT_LT(std::filesystem::file_size(dir / "packed.lit") * 2, std::filesystem::file_size(dir / "stored.lit"));
}

TEST_F(OracleTest, MissingPictureLeavesAReadableBookWithoutIt) {
    TempDir dir;
    PackageSpec spec = NewsPackage(RealJpeg());
    spec.missingPictures = {"Images/2.png"};
    auto files = test::WritePackage(dir / "pkg", spec);
    ASSERT_EQ(Pack(files.opf, dir / "news.lit"), 0) << packOutput;
    Oracle o = Check(dir / "news.lit");
    ASSERT_EQ(o.exitCode, 0) << Problems(o);
    std::vector<std::string> ids;
    for (const QJsonValue& m : o.report["reader"].toObject()["manifest"].toArray()) ids.push_back(Str(m["id"]));
    EXPECT_EQ(std::count(ids.begin(), ids.end(), "Pic_2"), 0);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), "Pic_3"), 1);
    EXPECT_EQ(Str(o.report["meta_opf"]).find("Images/2.png"), std::string::npos);
}

TEST_F(OracleTest, HundredThousandElementsRoundTrip) {
    TempDir dir;
    std::string body;
    body.reserve(2'000'000);
    for (int i = 0; i < 50000; ++i) body += "<p>n" + std::to_string(i) + " <i>x</i></p>\n";
    body += "<p>LAST-MARKER</p>";
    PackageSpec spec;
    spec.documents = {{"toc.html", test::XhtmlDocument("Big", body)}};
    auto files = test::WritePackage(dir / "pkg", spec);
    ASSERT_EQ(Pack(files.opf, dir / "big.lit"), 0) << packOutput;
    Oracle o = Check(dir / "big.lit");
    ASSERT_EQ(o.exitCode, 0) << Problems(o);
    std::string html = DocumentHtml(o, "toc");
    std::size_t paragraphs = 0, italics = 0;
    for (std::size_t at = 0; (at = html.find("<p>", at)) != std::string::npos; ++at) ++paragraphs;
    for (std::size_t at = 0; (at = html.find("<i>x</i>", at)) != std::string::npos; ++at) ++italics;
    EXPECT_EQ(paragraphs, 50001u);
    EXPECT_EQ(italics, 50000u);
    EXPECT_NE(html.find("<p>n49999 <i>x</i></p><p>LAST-MARKER</p>"), std::string::npos);
    QJsonArray sections = o.report["sections"].toArray();
    EXPECT_GT(sections[1].toObject()["decoded_length"].toInt(), 4 * 131072);  // several windows
}

TEST_F(OracleTest, TextInManyScriptsRoundTrips) {
    const std::vector<std::string> samples = {"Ελληνικά κείμενα", "Русский текст ёЁ", "日本語のテキスト",
                                              "中文新闻标题", "العربية نص", "עברית טקסט", "हिन्दी समाचार",
                                              "한국어 뉴스", "Emoji 🙂🚀 and ZWJ 👩‍💻", "Ünïcödé ß œ ø"};
    std::string body;
    for (std::size_t i = 0; i < samples.size(); ++i)
        body += "<p id=\"s" + std::to_string(i) + "\" title=\"" + samples[i] + "\">" + samples[i] + "</p>\n";
    TempDir dir;
    PackageSpec spec;
    spec.title = "Новости 日本 Vol.1";
    spec.documents = {{"toc.html", test::XhtmlDocument("Scripts", body)}};
    auto files = test::WritePackage(dir / "pkg", spec);
    ASSERT_EQ(Pack(files.opf, dir / "scripts.lit"), 0) << packOutput;
    Oracle o = Check(dir / "scripts.lit");
    ASSERT_EQ(o.exitCode, 0) << Problems(o);
    std::string html = DecodeReferences(DocumentHtml(o, "toc"));
    for (const std::string& s : samples) {
        EXPECT_NE(html.find(">" + s + "</p>"), std::string::npos) << s;
        EXPECT_NE(html.find("title=\"" + s + "\""), std::string::npos) << s;
    }
    EXPECT_NE(DecodeReferences(Str(o.report["meta_opf"])).find(spec.title), std::string::npos);
    std::string text = ToText(dir / "scripts.lit");
    for (const std::string& s : samples) EXPECT_NE(text.find(s), std::string::npos) << s;
}

TEST_F(OracleTest, DirectoryOfSeveralChunksWithIndex) {
    TempDir dir;
    PackageSpec spec;
    std::string body;
    for (int i = 1; i <= 700; ++i) {
        std::string href = "Images/picture_number_" + std::to_string(i) + ".png";
        spec.pictures.push_back({href, test::PictureBytes(i, 64)});
        if (i % 50 == 0) body += "<p><img src=\"" + href + "\"/>P" + std::to_string(i) + "</p>";
    }
    spec.documents = {{"toc.html", test::XhtmlDocument("Many", body)}};
    auto files = test::WritePackage(dir / "pkg", spec);
    ASSERT_EQ(Pack(files.opf, dir / "many.lit"), 0) << packOutput;
    Oracle o = Check(dir / "many.lit");
    ASSERT_EQ(o.exitCode, 0) << Problems(o);
    QJsonArray chunks = o.report["raw"].toObject()["directory_chunks"].toArray();
    ASSERT_GE(chunks.size(), 3);
    EXPECT_EQ(Str(chunks.last()["tag"]), "AOLI");
    EXPECT_EQ(o.report["others"].toArray().size(), 701);  // pictures and the stylesheet
    for (const QJsonValue& x : o.report["others"].toArray()) {
        std::string id = Str(x["id"]);
        if (id == "css") continue;
        int n = std::stoi(id.substr(4));
        EXPECT_EQ(Str(x["sha1"]), test::Sha1Hex(test::PictureBytes(n, 64))) << id;
    }
}

TEST_F(OracleTest, SectionOfWholeWindowsIsPaddedSoTheReaderCanEndIt) {
    // A document whose binary form is exactly one 128 KiB window.
    XmlNode pkg{"package", {}, "", {}};
    pkg.children.push_back({"manifest", {}, "", {XmlNode{"item", {{"id", "d"}, {"href", "d.html"}, {"media-type", "text/x-oeb1-document"}}, "", {}}}});
    pkg.children.push_back({"spine", {}, "", {XmlNode{"itemref", {{"idref", "d"}}, "", {}}}});
    Book book;
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(book.SetPackage(pkg, error, warnings)) << error;
    auto encode = [](std::size_t textLength) {
        BinaryEncoder enc(Dialect::Html, nullptr);
        enc.Start("html", {}, true);
        enc.Start("p", {}, true);
        enc.Text(std::string(textLength, 'w'));
        enc.End();
        enc.End();
        enc.Finish();
        return enc.TakeOutput();
    };
    std::size_t overhead = encode(1).size() - 1;
    ManifestItem& doc = book.Items()[0];
    doc.data = encode(131072 - overhead);
    ASSERT_EQ(doc.data.size(), 131072u);
    doc.received = true;
    Bytes file;
    BookOptions options;
    ASSERT_TRUE(book.Assemble(options, file, error, warnings)) << error;
    TempDir dir;
    test::WriteFile(dir / "window.lit", file);
    Oracle o = Check(dir / "window.lit");
    ASSERT_EQ(o.exitCode, 0) << Problems(o);
    EXPECT_EQ(o.report["sections"].toArray()[1].toObject()["decoded_length"].toInt(), 131074);
    EXPECT_EQ(DocumentHtml(o, "d").size(), 131072u - overhead + std::string("<html><p></p></html>").size());
}

}  // namespace
}  // namespace orvo::litgen
