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
    // Found where live entries belong but no record chain leads: behind a "."
    // that covers the whole block, or past a broken record length. Whether it
    // was live is for its inode to say.
    bool recovered = false;
    // Its place among the block's chained entries (0: the first); -1 for an
    // entry found in slack.
    int position = -1;
};

// What was wrong with a block, for the parser's damage notes.
struct ExtDirBlockDamage {
    bool dotCoversBlock = false;   // the "." record's length swallows the entries after it
    bool brokenChain = false;      // a record length leads nowhere
    std::size_t brokenAt = 0;      // the byte of the block where it does
    bool any() const { return dotCoversBlock || brokenChain; }
};

struct ExtDirOptions {
    bool fileType = true;      // entries carry a file type (else a 16-bit name length)
    bool slack = true;         // look for deleted entries in the slack
    bool indexRoot = false;    // the first block of a hash-indexed folder: ".." covers the index
    std::uint32_t inodeCount = 0;
};

// Calls onEntry for every entry of the block, "." and ".." included. A broken
// chain does not end the block: what follows is searched for entries.
ExtDirBlockDamage parseDirectoryBlock(Bytes block, const ExtDirOptions& options,
                                      const std::function<void(const ExtDirEntry&)>& onEntry);

}  // namespace ondrel
