// LZX compressor: LZ77 matches found through hash chains (with one step of
// lazy evaluation and the three repeated offsets), coded with Huffman trees
// in verbatim blocks. One block per 32 KiB frame; a fresh stream (reset
// offsets, cleared trees, E8 header bit) every 128 KiB window, because the
// reader decodes each window on its own.
#include <algorithm>
#include <array>
#include <queue>

#include "lzx.h"

namespace orvo::litgen {
namespace {

constexpr int kNumChars = 256;
constexpr int kPositionSlots = 34;  // for a 2^17 window
constexpr int kMainSize = kNumChars + kPositionSlots * 8;
constexpr int kLengthSize = 249;
constexpr int kPreSize = 20;
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 257;
constexpr int kHashBits = 15;
constexpr int kMaxChain = 128;
constexpr int kGoodEnough = 128;  // stop searching once a match is this long

struct Slots {
    std::array<std::uint32_t, kPositionSlots> base{};
    std::array<std::uint8_t, kPositionSlots> extra{};
    Slots() {
        std::uint32_t b = 0;
        for (int i = 0; i < kPositionSlots; ++i) {
            extra[i] = static_cast<std::uint8_t>(i < 4 ? 0 : std::min((i - 2) / 2, 17));
            base[i] = b;
            b += 1u << extra[i];
        }
    }
    int SlotOf(std::uint32_t formatted) const {
        int s = static_cast<int>(std::upper_bound(base.begin(), base.end(), formatted) - base.begin()) - 1;
        return s;
    }
};

const Slots& SlotTable() {
    static const Slots s;
    return s;
}

class BitWriter {
public:
    explicit BitWriter(Bytes& out) : out_(out) {}
    void Put(std::uint32_t bits, int count) {
        if (count == 0) return;
        acc_ = (acc_ << count) | (bits & ((1ull << count) - 1));
        n_ += count;
        while (n_ >= 16) {
            auto word = static_cast<std::uint16_t>(acc_ >> (n_ - 16));
            out_.push_back(static_cast<std::uint8_t>(word));
            out_.push_back(static_cast<std::uint8_t>(word >> 8));
            n_ -= 16;
        }
        acc_ &= (1ull << n_) - 1;
    }
    // Zero bits up to the next 16-bit word.
    void Align() {
        if (n_ > 0) Put(0, 16 - n_);
    }

private:
    Bytes& out_;
    std::uint64_t acc_ = 0;
    int n_ = 0;
};

// Huffman code lengths no longer than maxLength; at least two symbols get a
// code so that every tree is complete.
void BuildLengths(std::vector<std::uint32_t> freq, int maxLength, std::vector<std::uint8_t>& lengths) {
    const int n = static_cast<int>(freq.size());
    lengths.assign(static_cast<std::size_t>(n), 0);
    int used = static_cast<int>(std::count_if(freq.begin(), freq.end(), [](std::uint32_t f) { return f != 0; }));
    for (int i = 0; used < 2 && i < n; ++i)
        if (freq[i] == 0) {
            freq[i] = 1;
            ++used;
        }
    for (;;) {
        struct Node {
            std::uint64_t weight;
            int left, right;
        };
        std::vector<Node> nodes;
        using Item = std::pair<std::uint64_t, int>;
        std::priority_queue<Item, std::vector<Item>, std::greater<Item>> heap;
        for (int i = 0; i < n; ++i)
            if (freq[i]) {
                nodes.push_back({freq[i], -1, i});
                heap.push({freq[i], static_cast<int>(nodes.size()) - 1});
            }
        while (heap.size() > 1) {
            Item a = heap.top();
            heap.pop();
            Item b = heap.top();
            heap.pop();
            nodes.push_back({a.first + b.first, a.second, b.second});
            heap.push({a.first + b.first, static_cast<int>(nodes.size()) - 1});
        }
        // Depth of every leaf, walking from the root.
        std::vector<std::pair<int, int>> stack = {{heap.top().second, 0}};
        int deepest = 0;
        while (!stack.empty()) {
            auto [node, depth] = stack.back();
            stack.pop_back();
            if (nodes[node].left < 0) {
                lengths[nodes[node].right] = static_cast<std::uint8_t>(depth);
                deepest = std::max(deepest, depth);
            } else {
                stack.push_back({nodes[node].left, depth + 1});
                stack.push_back({nodes[node].right, depth + 1});
            }
        }
        if (deepest <= maxLength) return;
        // Flatten the distribution and try again.
        for (auto& f : freq)
            if (f) f = (f >> 1) | 1;
    }
}

// Canonical codes: shorter first, then by symbol.
std::vector<std::uint16_t> MakeCodes(const std::vector<std::uint8_t>& lengths) {
    std::vector<std::uint16_t> codes(lengths.size(), 0);
    std::uint32_t code = 0;
    for (int len = 1; len <= 16; ++len) {
        for (std::size_t s = 0; s < lengths.size(); ++s)
            if (lengths[s] == len) codes[s] = static_cast<std::uint16_t>(code++);
        code <<= 1;
    }
    return codes;
}

struct Token {
    std::uint16_t main;
    std::uint16_t lengthFooter;  // 0xFFFF: none
    std::uint32_t extraBits;
    std::uint8_t extraCount;
};

// Writes lengths[first, last) as deltas from previous[] through a pretree.
void WriteTree(BitWriter& bw, const std::vector<std::uint8_t>& lengths, std::vector<std::uint8_t>& previous, int first,
               int last) {
    struct Code {
        std::uint8_t sym;
        std::uint8_t extraCount;
        std::uint8_t extra;
    };
    std::vector<Code> items;
    for (int x = first; x < last;) {
        if (lengths[x] == 0) {
            int run = 0;
            while (x + run < last && lengths[x + run] == 0) ++run;
            if (run >= 20) {
                int take = std::min(run, 51);
                items.push_back({18, 5, static_cast<std::uint8_t>(take - 20)});
                x += take;
                continue;
            }
            if (run >= 4) {
                items.push_back({17, 4, static_cast<std::uint8_t>(run - 4)});
                x += run;
                continue;
            }
        }
        items.push_back({static_cast<std::uint8_t>((previous[x] - lengths[x] + 17) % 17), 0, 0});
        ++x;
    }
    std::vector<std::uint32_t> freq(kPreSize, 0);
    for (const Code& c : items) ++freq[c.sym];
    std::vector<std::uint8_t> preLengths;
    BuildLengths(freq, 15, preLengths);
    std::vector<std::uint16_t> preCodes = MakeCodes(preLengths);
    for (int i = 0; i < kPreSize; ++i) bw.Put(preLengths[i], 4);
    for (const Code& c : items) {
        bw.Put(preCodes[c.sym], preLengths[c.sym]);
        bw.Put(c.extra, c.extraCount);
    }
    std::copy(lengths.begin() + first, lengths.begin() + last, previous.begin() + first);
}

class WindowEncoder {
public:
    WindowEncoder(const std::uint8_t* data, std::size_t size, BitWriter& bw)
        : data_(data), size_(size), bw_(bw), head_(1u << kHashBits, -1), prev_(size, -1),
          mainPrev_(kMainSize, 0), lengthPrev_(kLengthSize, 0) {}

    void EncodeFrame(std::size_t start, std::size_t end) {
        tokens_.clear();
        Parse(start, end);
        std::vector<std::uint32_t> mainFreq(kMainSize, 0), lengthFreq(kLengthSize, 0);
        for (const Token& t : tokens_) {
            ++mainFreq[t.main];
            if (t.lengthFooter != 0xFFFF) ++lengthFreq[t.lengthFooter];
        }
        std::vector<std::uint8_t> mainLen, lengthLen;
        BuildLengths(mainFreq, 16, mainLen);
        BuildLengths(lengthFreq, 16, lengthLen);
        std::vector<std::uint16_t> mainCode = MakeCodes(mainLen), lengthCode = MakeCodes(lengthLen);

        bw_.Put(1, 3);  // verbatim block
        bw_.Put(static_cast<std::uint32_t>(end - start), 24);
        WriteTree(bw_, mainLen, mainPrev_, 0, kNumChars);
        WriteTree(bw_, mainLen, mainPrev_, kNumChars, kMainSize);
        WriteTree(bw_, lengthLen, lengthPrev_, 0, kLengthSize);
        for (const Token& t : tokens_) {
            bw_.Put(mainCode[t.main], mainLen[t.main]);
            if (t.lengthFooter != 0xFFFF) bw_.Put(lengthCode[t.lengthFooter], lengthLen[t.lengthFooter]);
            bw_.Put(t.extraBits, t.extraCount);
        }
    }

private:
    std::uint32_t Hash(std::size_t p) const {
        std::uint32_t v = (std::uint32_t(data_[p]) << 16) | (std::uint32_t(data_[p + 1]) << 8) | data_[p + 2];
        return (v * 2654435761u) >> (32 - kHashBits);
    }

    void Insert(std::size_t p, std::size_t end) {
        if (p + kMinMatch > end) return;
        std::uint32_t h = Hash(p);
        prev_[p] = head_[h];
        head_[h] = static_cast<int>(p);
    }

    int MatchLength(std::size_t p, std::size_t q, int limit) const {
        int n = 0;
        while (n < limit && data_[p + n] == data_[q + n]) ++n;
        return n;
    }

    // Longest match at p within [0, p) that ends by limit; repeated offsets
    // first because they cost almost nothing.
    void Find(std::size_t p, std::size_t end, int& bestLen, std::uint32_t& bestOffset, int& bestRepeat) const {
        bestLen = 0;
        bestOffset = 0;
        bestRepeat = -1;
        int limit = static_cast<int>(std::min<std::size_t>(kMaxMatch, end - p));
        if (limit < 2) return;
        for (int r = 0; r < 3; ++r) {
            std::uint32_t off = r_[r];
            if (off > p) continue;
            int len = MatchLength(p, p - off, limit);
            if (len >= 2 && len > bestLen) {
                bestLen = len;
                bestOffset = off;
                bestRepeat = r;
            }
        }
        if (limit < kMinMatch) return;
        if (bestLen >= limit) return;
        int repeatLen = bestLen;
        int chain = kMaxChain;
        for (int cand = head_[Hash(p)]; cand >= 0 && chain-- > 0; cand = prev_[cand]) {
            std::size_t q = static_cast<std::size_t>(cand);
            if (q >= p) continue;
            if (data_[q + bestLen] != data_[p + bestLen]) continue;
            int len = MatchLength(p, q, limit);
            // A repeated offset is worth about two more bytes of match.
            if (len > bestLen && len > repeatLen + 1) {
                bestLen = len;
                bestOffset = static_cast<std::uint32_t>(p - q);
                bestRepeat = -1;
                if (len >= kGoodEnough || len >= limit) break;
            }
        }
        // Short matches far away cost more than the literals they replace.
        if (bestRepeat < 0 && bestLen == kMinMatch && bestOffset > 16384) bestLen = 0;
        if (bestRepeat < 0 && bestLen < kMinMatch) bestLen = 0;
    }

    void Literal(std::size_t p) { tokens_.push_back({data_[p], 0xFFFF, 0, 0}); }

    void Match(int len, std::uint32_t offset, int repeat) {
        std::uint32_t formatted;
        if (repeat == 0) {
            formatted = 0;
        } else if (repeat == 1) {
            formatted = 1;
            std::swap(r_[0], r_[1]);
        } else if (repeat == 2) {
            formatted = 2;
            std::swap(r_[0], r_[2]);
        } else {
            formatted = offset + 2;
            r_[2] = r_[1];
            r_[1] = r_[0];
            r_[0] = offset;
        }
        const Slots& s = SlotTable();
        int slot = s.SlotOf(formatted);
        int header = std::min(len - 2, 7);
        Token t{static_cast<std::uint16_t>(kNumChars + (slot << 3) + header),
                static_cast<std::uint16_t>(header == 7 ? len - 9 : 0xFFFF), 0, 0};
        if (slot >= 4) {
            t.extraCount = s.extra[slot];
            t.extraBits = formatted - s.base[slot];
        }
        tokens_.push_back(t);
    }

    void Parse(std::size_t start, std::size_t end) {
        std::size_t p = start;
        while (p < end) {
            int len;
            std::uint32_t off;
            int rep;
            Find(p, end, len, off, rep);
            Insert(p, size_);
            if (len == 0) {
                Literal(p);
                ++p;
                continue;
            }
            // One step of lazy evaluation: a longer match next door wins.
            if (len < kGoodEnough && p + 1 < end) {
                int len2;
                std::uint32_t off2;
                int rep2;
                Find(p + 1, end, len2, off2, rep2);
                if (len2 > len + (rep >= 0 ? 1 : 0)) {
                    Literal(p);
                    ++p;
                    Insert(p, size_);
                    len = len2;
                    off = off2;
                    rep = rep2;
                }
            }
            Match(len, off, rep);
            for (std::size_t k = p + 1; k < p + static_cast<std::size_t>(len); ++k) Insert(k, size_);
            p += static_cast<std::size_t>(len);
        }
    }

    const std::uint8_t* data_;
    std::size_t size_;
    BitWriter& bw_;
    std::vector<int> head_;
    std::vector<int> prev_;
    std::vector<std::uint8_t> mainPrev_, lengthPrev_;
    std::uint32_t r_[3] = {1, 1, 1};
    std::vector<Token> tokens_;
};

}  // namespace

LzxStream LzxCompress(const std::uint8_t* data, std::size_t size) {
    LzxStream s;
    BitWriter bw(s.content);
    for (std::size_t w = 0; w < size; w += kLzxWindow) {
        std::size_t wsize = std::min(kLzxWindow, size - w);
        WindowEncoder enc(data + w, wsize, bw);
        for (std::size_t f = 0; f < wsize; f += kLzxFrame) {
            s.frameOffsets.push_back(s.content.size());
            if (f == 0) bw.Put(0, 1);  // no E8 translation
            enc.EncodeFrame(f, std::min(wsize, f + kLzxFrame));
            bw.Align();
        }
    }
    return s;
}

}  // namespace orvo::litgen
