// The LZX compressor against a small decoder written here from the
// format's rules (verbatim blocks, window resets, frame realignment). The
// independent reader's verdict is in the oracle tests; this one runs
// everywhere and on many shapes of data.
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "lzx.h"

namespace orvo::litgen {
namespace {

class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint32_t Read(int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = (v << 1) | Bit();
        return v;
    }
    std::uint32_t Bit() {
        if (left_ == 0) {
            if (pos_ + 2 > size_) throw std::runtime_error("read past the end of the stream");
            word_ = static_cast<std::uint32_t>(data_[pos_] | (data_[pos_ + 1] << 8));
            pos_ += 2;
            left_ = 16;
        }
        --left_;
        return (word_ >> left_) & 1;
    }
    void Align() { left_ = 0; }  // drop what is left of the current word

private:
    const std::uint8_t* data_;
    std::size_t size_, pos_ = 0;
    std::uint32_t word_ = 0;
    int left_ = 0;
};

class Huffman {
public:
    explicit Huffman(const std::vector<std::uint8_t>& lengths) {
        std::uint32_t code = 0;
        for (int len = 1; len <= 16; ++len) {
            for (std::size_t s = 0; s < lengths.size(); ++s)
                if (lengths[s] == len) table_.push_back({len, code++, static_cast<int>(s)});
            code <<= 1;
        }
        // A complete code fills the whole 16-bit space.
        std::uint64_t kraft = 0;
        for (const auto& e : table_) kraft += 1ull << (16 - e.len);
        if (kraft != (1ull << 16)) throw std::runtime_error("incomplete Huffman tree");
    }
    int Decode(BitReader& br) const {
        std::uint32_t code = 0;
        for (int len = 1; len <= 16; ++len) {
            code = (code << 1) | br.Bit();
            for (const auto& e : table_)
                if (e.len == len && e.code == code) return e.sym;
        }
        throw std::runtime_error("bad Huffman code");
    }

private:
    struct Entry {
        int len;
        std::uint32_t code;
        int sym;
    };
    std::vector<Entry> table_;
};

void ReadLengths(BitReader& br, std::vector<std::uint8_t>& lens, int first, int last) {
    std::vector<std::uint8_t> pre(20);
    for (auto& l : pre) l = static_cast<std::uint8_t>(br.Read(4));
    Huffman pt(pre);
    for (int x = first; x < last;) {
        int z = pt.Decode(br);
        if (z == 17 || z == 18) {
            int run = z == 17 ? static_cast<int>(br.Read(4)) + 4 : static_cast<int>(br.Read(5)) + 20;
            if (x + run > last) throw std::runtime_error("zero run past the tree");
            while (run--) lens[x++] = 0;
        } else if (z == 19) {
            int run = static_cast<int>(br.Read(1)) + 4;
            int d = pt.Decode(br);
            int v = (lens[x] - d + 17) % 17;
            while (run-- && x < last) lens[x++] = static_cast<std::uint8_t>(v);
        } else {
            lens[x] = static_cast<std::uint8_t>((lens[x] - z + 17) % 17);
            ++x;
        }
    }
}

// Decodes one window (a fresh stream) of expected length from data.
Bytes DecodeWindow(const std::uint8_t* data, std::size_t size, std::size_t expected) {
    static const auto slots = [] {
        std::vector<std::pair<std::uint32_t, int>> s;
        std::uint32_t base = 0;
        for (int i = 0; i < 34; ++i) {
            int extra = i < 4 ? 0 : std::min((i - 2) / 2, 17);
            s.push_back({base, extra});
            base += 1u << extra;
        }
        return s;
    }();
    BitReader br(data, size);
    if (br.Read(1) != 0) throw std::runtime_error("E8 translation switched on");
    std::vector<std::uint8_t> mainLens(256 + 34 * 8, 0), lengthLens(249, 0);
    std::uint32_t r[3] = {1, 1, 1};
    Bytes out;
    std::size_t remaining = 0;
    std::unique_ptr<Huffman> mainTree, lengthTree;
    while (out.size() < expected) {
        std::size_t frameEnd = std::min(expected, (out.size() / kLzxFrame + 1) * kLzxFrame);
        while (out.size() < frameEnd) {
            if (remaining == 0) {
                if (br.Read(3) != 1) throw std::runtime_error("not a verbatim block");
                remaining = br.Read(24);
                if (remaining == 0) throw std::runtime_error("empty block");
                ReadLengths(br, mainLens, 0, 256);
                ReadLengths(br, mainLens, 256, static_cast<int>(mainLens.size()));
                ReadLengths(br, lengthLens, 0, 249);
                mainTree = std::make_unique<Huffman>(mainLens);
                lengthTree = std::make_unique<Huffman>(lengthLens);
            }
            int sym = mainTree->Decode(br);
            std::size_t produced;
            if (sym < 256) {
                out.push_back(static_cast<std::uint8_t>(sym));
                produced = 1;
            } else {
                sym -= 256;
                int len = sym & 7;
                if (len == 7) len += lengthTree->Decode(br);
                len += 2;
                std::uint32_t slot = static_cast<std::uint32_t>(sym >> 3), off;
                if (slot > 2) {
                    off = slot == 3 ? 1 : slots[slot].first - 2 + br.Read(slots[slot].second);
                    r[2] = r[1];
                    r[1] = r[0];
                    r[0] = off;
                } else {
                    off = r[slot];
                    std::swap(r[0], r[slot]);
                }
                if (off == 0 || off > out.size()) throw std::runtime_error("match reaches before the window");
                for (int i = 0; i < len; ++i) out.push_back(out[out.size() - off]);
                produced = static_cast<std::size_t>(len);
            }
            if (produced > remaining) throw std::runtime_error("symbol runs past its block");
            remaining -= produced;
            if (out.size() > frameEnd) throw std::runtime_error("match crosses a frame boundary");
        }
        br.Align();
    }
    return out;
}

// Decodes the whole stream the way the reader does: one window per four
// reset-table entries.
Bytes Decode(const LzxStream& s, std::size_t total) {
    Bytes out;
    for (std::size_t k = 0; k < s.frameOffsets.size(); k += 4) {
        std::size_t from = s.frameOffsets[k];
        std::size_t to = k + 4 < s.frameOffsets.size() ? s.frameOffsets[k + 4] : s.content.size();
        std::size_t want = std::min(kLzxWindow, total - out.size());
        Bytes w = DecodeWindow(s.content.data() + from, to - from, want);
        out.insert(out.end(), w.begin(), w.end());
    }
    return out;
}

Bytes Shape(const std::string& kind, std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    Bytes b(n);
    if (kind == "zeros") return b;
    if (kind == "random") {
        for (auto& x : b) x = static_cast<std::uint8_t>(gen());
    } else if (kind == "periodic") {
        std::size_t period = 1 + gen() % 300;
        for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i % period) * 7 + (i % period) / 3);
    } else {  // text: words from a small vocabulary with markup, like binary HTML
        const char* words[] = {"news", "the ", "market", " rose ", "\x00\x05\x4a\x00", "caf\xc3\xa9 ", "and ",
                               "government ", "\x00\x06\x00", "2026 ", "report", ". "};
        std::size_t i = 0;
        while (i < n) {
            const char* w = words[gen() % 12];
            std::size_t len = (w[0] == 0) ? 4 : std::char_traits<char>::length(w);
            for (std::size_t k = 0; k < len && i < n; ++k) b[i++] = static_cast<std::uint8_t>(w[k]);
        }
    }
    return b;
}

TEST(LzxCompress, RoundTripsEveryShapeAndSize) {
    const std::size_t sizes[] = {1, 2, 3, 17, 1000, 32767, 32768, 32769, 65541, 131071, 131073, 300001, 600000};
    for (const char* kind : {"zeros", "random", "periodic", "text"}) {
        for (std::size_t n : sizes) {
            SCOPED_TRACE(std::string(kind) + " " + std::to_string(n));
            Bytes in = Shape(kind, n, static_cast<unsigned>(n));
            LzxStream s = LzxCompress(in.data(), in.size());
            ASSERT_EQ(s.frameOffsets.size(), (n + kLzxFrame - 1) / kLzxFrame);
            EXPECT_EQ(s.frameOffsets[0], 0u);
            for (std::uint64_t off : s.frameOffsets) EXPECT_EQ(off % 2, 0u);  // frames start on a word
            Bytes out;
            try {
                out = Decode(s, n);
            } catch (const std::exception& e) {
                FAIL() << e.what();
            }
            EXPECT_TRUE(out == in);
        }
    }
}

TEST(LzxCompress, CompressesWhatRepeatsAndBarelyGrowsWhatDoesNot) {
    Bytes text = Shape("text", 400000, 1);
    EXPECT_LT(LzxCompress(text.data(), text.size()).content.size(), text.size() / 4);
    Bytes zeros(200000, 0);
    EXPECT_LT(LzxCompress(zeros.data(), zeros.size()).content.size(), 2000u);
    Bytes noise = Shape("random", 200000, 2);
    EXPECT_LT(LzxCompress(noise.data(), noise.size()).content.size(), noise.size() + noise.size() / 50);
}

}  // namespace
}  // namespace orvo::litgen
