// Code tables of binary HTML/OPF and the cipher tables, built into the
// library from the format's data files.
#ifndef LITGEN_TABLES_H
#define LITGEN_TABLES_H

#include <cstdint>
#include <string>
#include <unordered_map>

namespace orvo::litgen {

struct CodeTables {
    // Keys are lower-case names.
    std::unordered_map<std::string, std::uint32_t> htmlTags;
    std::unordered_map<std::string, std::uint32_t> htmlGlobalAttrs;
    std::unordered_map<std::uint32_t, std::unordered_map<std::string, std::uint32_t>> htmlTagAttrs;
    std::unordered_map<std::string, std::uint32_t> opfTags;
    std::unordered_map<std::string, std::uint32_t> opfAttrs;
    std::uint8_t desSbox[8][4][16] = {};
    std::uint8_t desVariantP[32] = {};  // output bit i (0-based) takes input bit desVariantP[i] (1-based)
};

const CodeTables& Tables();

}  // namespace orvo::litgen

#endif
