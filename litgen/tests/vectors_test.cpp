// The format's published vectors, reproduced byte for byte.
#include <gtest/gtest.h>

#include <QCryptographicHash>

#include <pugixml.hpp>

#include "binary_ml.h"
#include "book.h"
#include "crypto.h"
#include "lzx.h"
#include "test_support.h"

namespace orvo::litgen {
namespace {

using test::FromHex;
using test::LitDir;
using test::LoadJson;

std::string Hex(const Bytes& b) { return HexOf(b.data(), b.size()); }
std::string Lower(std::string s) { return ToLowerAscii(s); }
std::string Str(const QJsonValue& v) { return v.toString().toStdString(); }

class VectorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(LitDir() / "vectors" / "encint.json"))
            << "the vectors belong to the repository: " << LitDir() / "vectors";
    }
    QJsonObject Vectors(const char* name) { return LoadJson(LitDir() / "vectors" / name); }
};

TEST_F(VectorTest, EncIntMatchesEveryVector) {
    QJsonArray list = Vectors("encint.json")["vectors"].toArray();
    ASSERT_GE(list.size(), 13);
    for (const QJsonValue& v : list) {
        std::uint64_t value = std::stoull(Str(v["value_hex"]), nullptr, 16);
        Bytes out;
        PutEncInt(out, value);
        EXPECT_EQ(Hex(out), Str(v["encoded_hex"])) << "value " << value;
    }
}

TEST_F(VectorTest, Sha1VariantMatchesEveryVector) {
    QJsonArray list = Vectors("sha1_variant.json")["vectors"].toArray();
    ASSERT_EQ(list.size(), 6);
    for (const QJsonValue& v : list) {
        Bytes input;
        if (v["input_hex"].isString()) {
            input = FromHex(Str(v["input_hex"]));
        } else {
            for (int i = 0; i < v["length"].toInt(); ++i) input.push_back(static_cast<std::uint8_t>((7 * i + 3) % 256));
        }
        ASSERT_EQ(input.size(), static_cast<std::size_t>(v["length"].toInt()));
        Digest d = MsSha1(input);
        EXPECT_EQ(HexOf(d.data(), d.size()), Str(v["digest_hex"])) << Str(v["input"]);
    }
}

TEST_F(VectorTest, DesVariantMatchesEveryVectorAndDecryptsBack) {
    QJsonObject doc = Vectors("des_variant.json");
    QJsonArray list = doc["vectors"].toArray();
    ASSERT_EQ(list.size(), 7);
    for (const QJsonValue& v : list) {
        Bytes keyBytes = FromHex(Str(v["key_hex"]));
        DesKey key;
        std::copy(keyBytes.begin(), keyBytes.end(), key.begin());
        Bytes plain = FromHex(Str(v["plaintext_hex"]));
        Bytes cipher = DesEncrypt(key, plain);
        EXPECT_EQ(Hex(cipher), Lower(Str(v["ciphertext_hex"])));
        EXPECT_EQ(DesDecrypt(key, cipher), plain);
    }
    DesKey key{0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
    EXPECT_EQ(Hex(DesEncrypt(key, Bytes(16, 0))), Lower(Str(doc["ecb_two_zero_blocks_key_133457799BBCDFF1"])));
}

TEST_F(VectorTest, SharedDesPartsAreTextbookDes) {
    // The variant differs only inside f; textbook DES proves the rest.
    DesKey key{0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
    EXPECT_EQ(Hex(DesEncrypt(key, FromHex("0123456789abcdef"), true)), "85e813540f0ab405");
}

TEST_F(VectorTest, SealOfReferenceFileIsReproduced) {
    QJsonObject seal = Vectors("drm_seal_ref_plain.json");
    QJsonObject ref = Vectors("ref_plain.json");
    Bytes lit = test::ReadFile(LitDir() / "vectors" / "ref_plain.lit");
    std::uint64_t contentOffset = static_cast<std::uint64_t>(ref["reader"].toObject()["content_offset"].toDouble());
    Bytes meta;
    for (const QJsonValue& e : ref["reader"].toObject()["entries"].toArray())
        if (Str(e["name"]) == "/meta") {
            auto at = contentOffset + static_cast<std::uint64_t>(e["offset"].toDouble());
            meta.assign(lit.begin() + static_cast<long>(at), lit.begin() + static_cast<long>(at) + e["size"].toInt());
        }
    ASSERT_EQ(static_cast<int>(meta.size()), seal["meta_length"].toInt());
    DesKey key = SealKeyFor(meta, FromHex(Str(seal["drmsource_hex"])));
    EXPECT_EQ(HexOf(key.data(), key.size()), Str(seal["des_key_hex"]));
    EXPECT_EQ(Hex(DesEncrypt(key, Bytes(16, 0))), Str(seal["drmsealed_hex"]));
    EXPECT_EQ(Hex(DesEncrypt(DesKey{}, Bytes{'M', 'S', 'R', 'e', 'a', 'd', 'e', 'r'})),
              Str(seal["validation_stream_encrypted_with_zero_key_hex"]));
}

TEST_F(VectorTest, StoredLzxStreamsMatch) {
    QJsonArray cases = Vectors("lzx_stored.json")["cases"].toArray();
    ASSERT_EQ(cases.size(), 3);
    for (const QJsonValue& c : cases) {
        int n = c["input_length"].toInt();
        Bytes input(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) input[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((13 * i + (i >> 8)) % 256);
        LzxStream s = LzxStore(input.data(), input.size());
        SCOPED_TRACE("n = " + std::to_string(n));
        EXPECT_EQ(static_cast<int>(s.content.size()), c["compressed_length"].toInt());
        QByteArray sha = QCryptographicHash::hash(
            QByteArray(reinterpret_cast<const char*>(s.content.data()), static_cast<qsizetype>(s.content.size())),
            QCryptographicHash::Sha256);
        EXPECT_EQ(sha.toHex().toStdString(), Str(c["compressed_sha256"]));
        QJsonArray offsets = c["frame_start_offsets"].toArray();
        ASSERT_EQ(s.frameOffsets.size(), static_cast<std::size_t>(offsets.size()));
        for (int k = 0; k < offsets.size(); ++k) {
            EXPECT_EQ(s.frameOffsets[static_cast<std::size_t>(k)], static_cast<std::uint64_t>(offsets[k].toInt()));
            Bytes first(s.content.begin() + static_cast<long>(s.frameOffsets[static_cast<std::size_t>(k)]),
                        s.content.begin() + static_cast<long>(s.frameOffsets[static_cast<std::size_t>(k)]) + 24);
            EXPECT_EQ(Hex(first), Str(c["first_24_bytes_of_each_frame_hex"].toArray()[k]));
        }
        EXPECT_EQ(Hex(LzxResetTable(input.size(), s)), Str(c["reset_table_hex"]));
        EXPECT_EQ(Hex(LzxControlData()), Str(c["control_data_hex"]));
        if (c["compressed_hex"].isString()) {
            EXPECT_EQ(Hex(s.content), Str(c["compressed_hex"]));
        }
    }
}

// Feeds an XML text to the encoder as the generator's document walk would.
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

std::string VectorLink(const std::string& v) {
    if (v.rfind("doc.htm", 0) == 0) return "\x02" "doc" + v.substr(7);
    if (v == "p.jpg") return "\x02p";
    return "\x03" + v;
}

TEST_F(VectorTest, BinaryHtmlOfSmallDocument) {
    QJsonObject html = Vectors("binary_html_opf.json")["html"].toObject();
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(Str(html["input_as_seen_by_writer"]).c_str(), pugi::parse_default | pugi::parse_ws_pcdata));
    BinaryEncoder enc(Dialect::Html, VectorLink);
    ASSERT_TRUE(Feed(enc, doc.document_element())) << enc.Error();
    ASSERT_TRUE(enc.Finish()) << enc.Error();
    EXPECT_EQ(Hex(enc.Output()), Str(html["binary_hex"]));

    Bytes ahc;
    PutCharInt(ahc, static_cast<std::uint32_t>(enc.Anchors().size()));
    for (const Anchor& a : enc.Anchors()) {
        PutCharInt(ahc, static_cast<std::uint32_t>(a.name.size()));
        PutBytes(ahc, a.name);
        PutU32(ahc, a.offset);
    }
    EXPECT_EQ(Hex(ahc), Str(html["ahc_hex"]));

    QJsonArray breaks = html["page_breaks_offset_and_parent_offsets"].toArray();
    ASSERT_EQ(enc.PageBreaks().size(), static_cast<std::size_t>(breaks.size()));
    for (int i = 0; i < breaks.size(); ++i) {
        const PageBreak& pb = enc.PageBreaks()[static_cast<std::size_t>(i)];
        EXPECT_EQ(pb.offset, static_cast<std::uint32_t>(breaks[i][0].toInt()));
        QJsonArray parents = breaks[i][1].toArray();
        ASSERT_EQ(pb.parents.size(), static_cast<std::size_t>(parents.size()));
        for (int k = 0; k < parents.size(); ++k)
            EXPECT_EQ(pb.parents[static_cast<std::size_t>(k)], static_cast<std::uint32_t>(parents[k].toInt()));
    }
}

TEST_F(VectorTest, BinaryOpfOfSmallPackage) {
    QJsonObject opf = Vectors("binary_html_opf.json")["opf"].toObject();
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(Str(opf["input"]).c_str()));
    // The reference encoder saw the hidden attribute after the package's own
    // attributes and the namespace declaration last.
    pugi::xml_node package = doc.document_element();
    std::string ns = package.attribute("xmlns:dc").value();
    package.remove_attribute("xmlns:dc");
    package.append_attribute("%minimum_level") = "0";
    package.append_attribute("xmlns:dc") = ns.c_str();
    BinaryEncoder enc(Dialect::Opf, VectorLink);
    ASSERT_TRUE(Feed(enc, package)) << enc.Error();
    ASSERT_TRUE(enc.Finish()) << enc.Error();
    EXPECT_EQ(Hex(enc.Output()), Str(opf["binary_hex"]));
}

}  // namespace
}  // namespace orvo::litgen
