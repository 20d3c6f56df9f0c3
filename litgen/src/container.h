// The ITOLITLS container: headers, the directory of named streams (AOLL
// chunks, AOLI index, count index) and the content area of section 0.
#ifndef LITGEN_CONTAINER_H
#define LITGEN_CONTAINER_H

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"

namespace orvo::litgen {

struct DirectoryEntry {
    std::string name;  // ASCII
    std::uint32_t section = 0;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

class Container {
public:
    // Appends a stream to section 0.
    void AddStream(const std::string& name, const Bytes& data);
    // An entry that points elsewhere (another section, or a folder).
    void AddEntry(const std::string& name, std::uint32_t section, std::uint64_t offset, std::uint64_t length);
    void AddFolder(const std::string& name) { AddEntry(name, 0, 0, 0); }

    // Lays out the whole file. False when the directory cannot be indexed
    // (far more entries than a book needs).
    bool Build(std::uint32_t timestamp, Bytes& file, std::string& error) const;

    const std::vector<DirectoryEntry>& Entries() const { return entries_; }

private:
    std::vector<DirectoryEntry> entries_;
    Bytes content_;
};

}  // namespace orvo::litgen

#endif
