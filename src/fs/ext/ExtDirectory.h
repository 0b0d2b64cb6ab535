#pragma once
// The entries of one ext directory block: the live ones along the record
// lengths, and the deleted ones left in a record's slack (a removed entry
// widens the record before it and keeps its bytes).
#include "common/Endian.h"

#include <cstdint>
#include <functional>
#include <string>

namespace ondrel {

struct ExtDirEntry {
    std::uint32_t inode = 0;
    std::string name;  // as stored
    std::uint8_t fileType = 0;  // 0 when the volume does not store it
    bool deleted = false;
};

struct ExtDirOptions {
    bool fileType = true;      // entries carry a file type (else a 16-bit name length)
    bool slack = true;         // look for deleted entries in the slack
    bool indexRoot = false;    // the first block of a hash-indexed folder: ".." covers the index
    std::uint32_t inodeCount = 0;
};

// Calls onEntry for every entry of the block, "." and ".." included.
void parseDirectoryBlock(Bytes block, const ExtDirOptions& options, const std::function<void(const ExtDirEntry&)>& onEntry);

}  // namespace ondrel
