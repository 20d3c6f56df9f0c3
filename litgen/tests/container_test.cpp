// The container's directory read back field by field: sort order, chunk
// splitting, quick-reference words, index chunk and count index.
#include <gtest/gtest.h>

#include <algorithm>

#include "container.h"

namespace orvo::litgen {
namespace {

std::uint64_t U(const Bytes& b, std::size_t at, int size) {
    std::uint64_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}

std::uint64_t EncInt(const Bytes& b, std::size_t& at) {
    std::uint64_t v = 0;
    for (;;) {
        std::uint8_t x = b[at++];
        v = (v << 7) | (x & 0x7F);
        if (!(x & 0x80)) return v;
    }
}

struct Parsed {
    std::vector<DirectoryEntry> entries;
    std::vector<std::size_t> chunkCounts;
    std::vector<std::pair<std::string, std::uint64_t>> index;
    std::vector<std::uint64_t> countRecords;
    std::uint64_t contentOffset = 0;
};

// Reads back what Container::Build wrote; asserts on every bookkeeping word.
Parsed Parse(const Bytes& f) {
    Parsed p;
    EXPECT_EQ(std::string(f.begin(), f.begin() + 8), "ITOLITLS");
    std::uint64_t dirAt = U(f, 40 + 16, 8), dirLen = U(f, 40 + 24, 8);
    std::uint64_t cntAt = U(f, 40 + 32, 8);
    EXPECT_EQ(U(f, 352 + 8, 8), f.size());
    p.contentOffset = U(f, 120 + 200 + 16, 8);
    EXPECT_EQ(p.contentOffset, U(f, 40 + 64, 8) + 16);
    std::uint64_t chunks = U(f, dirAt + 24, 8);
    EXPECT_EQ(dirLen, 32 + chunks * 8192);
    std::uint64_t before = 0;
    for (std::uint64_t c = 0; c < chunks; ++c) {
        std::size_t at = dirAt + 32 + c * 8192;
        std::string tag(f.begin() + static_cast<long>(at), f.begin() + static_cast<long>(at) + 4);
        if (tag == "AOLI") {
            std::size_t pos = at + 16;
            for (std::uint64_t k = 0; k < U(f, at + 8, 8); ++k) {
                std::uint64_t n = EncInt(f, pos);
                std::string name(f.begin() + static_cast<long>(pos), f.begin() + static_cast<long>(pos + n));
                pos += n;
                p.index.push_back({name, EncInt(f, pos)});
            }
            EXPECT_EQ(U(f, at + 4, 4), 8192 - 16 - (pos - at - 16));
            continue;
        }
        EXPECT_EQ(tag, "AOLL");
        std::size_t count = U(f, at + 8190, 2);
        EXPECT_EQ(U(f, at + 8, 8), c);
        EXPECT_EQ(U(f, at + 16, 8), c == 0 ? ~0ull : c - 1);
        EXPECT_EQ(U(f, at + 32, 8), before);
        std::size_t pos = at + 48;
        for (std::size_t k = 0; k < count; ++k) {
            if (k % 5 == 0) {
                EXPECT_EQ(U(f, at + 8192 - 4 - 2 * (k / 5), 2), pos - at - 48) << "quick reference " << k;
            }
            DirectoryEntry e;
            std::uint64_t n = EncInt(f, pos);
            e.name.assign(f.begin() + static_cast<long>(pos), f.begin() + static_cast<long>(pos + n));
            pos += n;
            e.section = static_cast<std::uint32_t>(EncInt(f, pos));
            e.offset = EncInt(f, pos);
            e.length = EncInt(f, pos);
            p.entries.push_back(e);
        }
        EXPECT_EQ(U(f, at + 4, 4), 8192 - 48 - 2 - (pos - at - 48)) << "free space of chunk " << c;
        EXPECT_LE(pos - at + 2 * ((count + 4) / 5) + 2, 8192u);
        p.chunkCounts.push_back(count);
        before += count;
    }
    std::size_t cat = cntAt + 32;
    std::size_t pos = cat + 48;
    for (std::uint64_t k = 0; k < U(f, cat + 510, 2) * 3; ++k) p.countRecords.push_back(EncInt(f, pos));
    // Secondary header bookkeeping.
    EXPECT_EQ(U(f, 120 + 64, 8), p.entries.size());
    EXPECT_EQ(U(f, 120 + 128, 8), p.chunkCounts.size());
    EXPECT_EQ(U(f, 120 + 24, 8), p.chunkCounts.size() - 1);
    return p;
}

TEST(Container, DirectorySortsIgnoringCaseAndSplitsIntoIndexedChunks) {
    Container c;
    for (int i = 0; i < 1500; ++i) {
        std::string name = "/data/" + std::string(i % 2 ? "Pic_" : "pic_") + std::to_string(i * 7919 % 1500);
        c.AddStream(name, Bytes(static_cast<std::size_t>(i % 3), static_cast<std::uint8_t>(i)));
    }
    c.AddFolder("/");
    c.AddEntry("::DataSpace/Storage/MSCompressed/Content", 0, 0, 0);
    c.AddEntry("/Version", 0, 0, 0);
    Bytes file;
    std::string error;
    ASSERT_TRUE(c.Build(123, file, error)) << error;
    Parsed p = Parse(file);
    ASSERT_EQ(p.entries.size(), 1503u);
    for (std::size_t i = 1; i < p.entries.size(); ++i)
        EXPECT_LT(ToLowerAscii(p.entries[i - 1].name), ToLowerAscii(p.entries[i].name)) << i;
    EXPECT_EQ(p.entries.front().name, "/");
    EXPECT_EQ(p.entries.back().name, "::DataSpace/Storage/MSCompressed/Content");
    ASSERT_GE(p.chunkCounts.size(), 3u);
    ASSERT_EQ(p.index.size(), p.chunkCounts.size());
    std::size_t first = 0;
    for (std::size_t k = 0; k < p.index.size(); ++k) {
        EXPECT_EQ(p.index[k].first, p.entries[first].name);
        EXPECT_EQ(p.index[k].second, k);
        EXPECT_EQ(p.countRecords[3 * k], k ? p.chunkCounts[k - 1] : 0);
        EXPECT_EQ(p.countRecords[3 * k + 1], p.chunkCounts[k]);
        first += p.chunkCounts[k];
    }
    EXPECT_EQ(U(file, 120 + 8, 8), p.chunkCounts.size());  // the index chunk's number
    EXPECT_EQ(U(file, 120 + 52, 4), 2u);
}

TEST(Container, StreamsLandInTheContentAreaAndEmptyOnesPointNowhere) {
    Container c;
    c.AddStream("/b", Bytes{1, 2, 3});
    c.AddStream("/empty", Bytes());
    c.AddStream("/A", Bytes{9});
    c.AddEntry("/data/x/content", 1, 77, 5);
    Bytes file;
    std::string error;
    ASSERT_TRUE(c.Build(0, file, error));
    Parsed p = Parse(file);
    ASSERT_EQ(p.chunkCounts.size(), 1u);
    EXPECT_TRUE(p.index.empty());
    EXPECT_EQ(U(file, 120 + 8, 8), ~0ull);
    EXPECT_EQ(U(file, 120 + 52, 4), 1u);
    std::vector<std::string> names;
    for (const auto& e : p.entries) {
        names.push_back(e.name);
        auto at = file.begin() + static_cast<long>(p.contentOffset + e.offset);
        if (e.name == "/b") {
            EXPECT_EQ(Bytes(at, at + 3), (Bytes{1, 2, 3}));
        } else if (e.name == "/empty") {
            EXPECT_EQ(e.offset + e.length, 0u);
        } else if (e.name == "/data/x/content") {
            EXPECT_EQ(e.section, 1u);
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"/A", "/b", "/data/x/content", "/empty"}));
    EXPECT_EQ(file.size(), p.contentOffset + 4);
}

TEST(Container, NameTooLongForAChunkIsRefused) {
    Container c;
    c.AddStream("/" + std::string(9000, 'n'), Bytes{1});
    Bytes file;
    std::string error;
    EXPECT_FALSE(c.Build(0, file, error));
    EXPECT_NE(error.find("too long"), std::string::npos);
}

}  // namespace
}  // namespace orvo::litgen
