#include "container.h"

#include <algorithm>

namespace orvo::litgen {
namespace {

constexpr std::size_t kChunk = 0x2000;
constexpr std::size_t kCountChunk = 0x200;
constexpr std::uint64_t kNone = ~std::uint64_t{0};

void PutGuid(Bytes& out, std::uint32_t a, std::uint16_t b, std::uint16_t c, const std::uint8_t (&d)[8]) {
    PutU32(out, a);
    PutU16(out, b);
    PutU16(out, c);
    out.insert(out.end(), d, d + 8);
}

const std::uint8_t kLitGuidTail[8] = {0x87, 0x89, 0x00, 0x00, 0xF8, 0x10, 0x57, 0x54};

Bytes EncodeEntry(const DirectoryEntry& e) {
    Bytes b;
    PutEncInt(b, e.name.size());
    PutBytes(b, e.name);
    PutEncInt(b, e.section);
    PutEncInt(b, e.offset);
    PutEncInt(b, e.length);
    return b;
}

struct Chunk {
    Bytes entries;
    std::vector<std::uint16_t> quickref;
    std::size_t count = 0;
    std::string firstName;
};

}  // namespace

void Container::AddStream(const std::string& name, const Bytes& data) {
    if (data.empty()) {
        AddEntry(name, 0, 0, 0);
        return;
    }
    AddEntry(name, 0, content_.size(), data.size());
    PutBytes(content_, data);
}

void Container::AddEntry(const std::string& name, std::uint32_t section, std::uint64_t offset,
                         std::uint64_t length) {
    entries_.push_back({name, section, offset, length});
}

bool Container::Build(std::uint32_t timestamp, Bytes& file, std::string& error) const {
    std::vector<DirectoryEntry> sorted = entries_;
    std::stable_sort(sorted.begin(), sorted.end(), [](const DirectoryEntry& a, const DirectoryEntry& b) {
        return ToLowerAscii(a.name) < ToLowerAscii(b.name);
    });

    // Listing chunks: entries back to back, a quick-reference word for
    // every fifth entry counted from the first.
    std::vector<Chunk> chunks(1);
    for (const DirectoryEntry& e : sorted) {
        Bytes enc = EncodeEntry(e);
        if (48 + enc.size() + 2 + 2 + 2 > kChunk) {
            error = "directory entry name too long: " + e.name;
            return false;
        }
        Chunk* c = &chunks.back();
        std::size_t quick = (c->count + 1 + 4) / 5;
        if (48 + c->entries.size() + enc.size() + 2 * quick + 2 > kChunk) {
            chunks.emplace_back();
            c = &chunks.back();
        }
        if (c->count % 5 == 0) c->quickref.push_back(static_cast<std::uint16_t>(c->entries.size()));
        if (c->count == 0) c->firstName = e.name;
        PutBytes(c->entries, enc);
        ++c->count;
    }

    Bytes dir;
    PutBytes(dir, "IFCM");
    PutU32(dir, 1);
    PutU32(dir, kChunk);
    PutU32(dir, 0x100000);
    PutU64(dir, kNone);
    std::size_t numAoll = chunks.size();
    bool withIndex = numAoll > 1;
    PutU64(dir, numAoll + (withIndex ? 1 : 0));
    std::uint64_t before = 0;
    for (std::size_t i = 0; i < numAoll; ++i) {
        const Chunk& c = chunks[i];
        std::size_t start = dir.size();
        PutBytes(dir, "AOLL");
        PutU32(dir, static_cast<std::uint32_t>(kChunk - 48 - c.entries.size() - 2));
        PutU64(dir, i);
        PutU64(dir, i == 0 ? kNone : i - 1);
        PutU64(dir, i + 1 < numAoll ? i + 1 : kNone);
        PutU64(dir, before);
        PutU64(dir, 1);
        PutBytes(dir, c.entries);
        dir.resize(start + kChunk, 0);
        for (std::size_t q = 0; q < c.quickref.size(); ++q) SetU16(dir, start + kChunk - 4 - 2 * q, c.quickref[q]);
        SetU16(dir, start + kChunk - 2, static_cast<std::uint16_t>(c.count));
        before += c.count;
    }
    if (withIndex) {
        Bytes index;
        for (std::size_t i = 0; i < numAoll; ++i) {
            PutEncInt(index, chunks[i].firstName.size());
            PutBytes(index, chunks[i].firstName);
            PutEncInt(index, i);
        }
        if (16 + index.size() + 2 > kChunk) {
            error = "too many directory entries for one index chunk";
            return false;
        }
        std::size_t start = dir.size();
        PutBytes(dir, "AOLI");
        PutU32(dir, static_cast<std::uint32_t>(kChunk - 16 - index.size()));
        PutU64(dir, numAoll);
        PutBytes(dir, index);
        dir.resize(start + kChunk, 0);
        SetU16(dir, start + kChunk - 2, static_cast<std::uint16_t>(numAoll));
    }

    Bytes count;
    PutBytes(count, "IFCM");
    PutU32(count, 1);
    PutU32(count, kCountChunk);
    PutU32(count, 0x20000);
    PutU64(count, kNone);
    PutU64(count, 1);
    Bytes records;
    for (std::size_t i = 0; i < numAoll; ++i) {
        PutEncInt(records, i == 0 ? 0 : chunks[i - 1].count);
        PutEncInt(records, chunks[i].count);
        PutEncInt(records, i);
    }
    if (48 + records.size() + 2 > kCountChunk) {
        error = "too many directory chunks for the count index";
        return false;
    }
    std::size_t cstart = count.size();
    PutBytes(count, "AOLL");
    PutU32(count, static_cast<std::uint32_t>(kCountChunk - 48 - records.size() - 2));
    PutU64(count, 0);
    PutU64(count, kNone);
    PutU64(count, kNone);
    PutU64(count, 0);
    PutU64(count, 1);
    PutBytes(count, records);
    count.resize(cstart + kCountChunk, 0);
    SetU16(count, cstart + kCountChunk - 2, static_cast<std::uint16_t>(numAoll));

    const std::uint64_t piece0At = 40 + 80 + 232;
    const std::uint64_t piece1At = piece0At + 24;
    const std::uint64_t piece2At = piece1At + dir.size();
    const std::uint64_t piece3At = piece2At + count.size();
    const std::uint64_t piece4At = piece3At + 16;
    const std::uint64_t contentAt = piece4At + 16;
    const std::uint64_t fileLength = contentAt + content_.size();

    file.clear();
    file.reserve(fileLength);
    PutBytes(file, "ITOLITLS");
    PutU32(file, 1);
    PutU32(file, 40);
    PutU32(file, 5);
    PutU32(file, 232);
    PutGuid(file, 0x0A9007C1, 0x4076, 0x11D3, kLitGuidTail);

    const std::uint64_t pieces[5][2] = {{piece0At, 24},
                                        {piece1At, dir.size()},
                                        {piece2At, count.size()},
                                        {piece3At, 16},
                                        {piece4At, 16}};
    for (const auto& p : pieces) {
        PutU64(file, p[0]);
        PutU64(file, p[1]);
    }

    // Secondary header.
    PutU32(file, 2);
    PutU32(file, 0x98);
    PutU64(file, withIndex ? numAoll : kNone);
    PutU64(file, 0);
    PutU64(file, numAoll - 1);
    PutU64(file, 0);
    PutU32(file, kChunk);
    PutU32(file, 2);
    PutU32(file, 0);
    PutU32(file, withIndex ? 2 : 1);
    PutU64(file, 0);
    PutU64(file, sorted.size());
    PutU64(file, kNone);
    PutU64(file, 0);
    PutU64(file, 0);
    PutU64(file, 0);
    PutU32(file, kCountChunk);
    PutU32(file, 2);
    PutU32(file, 0);
    PutU32(file, 1);
    PutU64(file, 0);
    PutU64(file, numAoll);
    PutU32(file, 0x100000);
    PutU32(file, 0x20000);
    PutU64(file, 0);
    // CAOL block.
    PutBytes(file, "CAOL");
    PutU32(file, 2);
    PutU32(file, 0x50);
    PutU32(file, 0x31337);
    PutU32(file, 0);
    PutU32(file, kChunk);
    PutU32(file, kCountChunk);
    PutU32(file, 0x100000);
    PutU32(file, 0x20000);
    file.resize(file.size() + 12, 0);
    // ITSF block.
    PutBytes(file, "ITSF");
    PutU32(file, 4);
    PutU32(file, 0x20);
    PutU32(file, 1);
    PutU64(file, contentAt);
    PutU32(file, timestamp);
    PutU32(file, 0x409);

    // Piece 0.
    PutU32(file, 0x1FE);
    PutU32(file, 0);
    PutU64(file, fileLength);
    PutU64(file, 0);

    PutBytes(file, dir);
    PutBytes(file, count);
    PutGuid(file, 0x0A9007C3, 0x4076, 0x11D3, kLitGuidTail);
    PutGuid(file, 0x0A9007C4, 0x4076, 0x11D3, kLitGuidTail);
    PutBytes(file, content_);
    return true;
}

}  // namespace orvo::litgen
