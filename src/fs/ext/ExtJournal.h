#pragma once
// The ext3/ext4 journal (jbd2): which file-system blocks its descriptor blocks
// say it holds copies of, and where in the journal each copy lies. Old
// transactions stay in the log until it wraps round, so copies of inode-table
// and folder blocks from before a file was deleted are often still there.
#include "common/Endian.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ondrel {

struct JournalCopy {
    std::uint64_t fsBlock = 0;       // the block it is a copy of
    std::uint64_t journalBlock = 0;  // where the copy lies, as a block of the journal
    std::uint32_t sequence = 0;      // its transaction
    bool escaped = false;            // its first four bytes were the journal magic
};

// Reads the journal's blocks (journal-relative, blockSize bytes each) through
// readBlock and lists every copy its descriptor blocks describe. False with
// the reason when the first block is no journal superblock.
bool readJournalCopies(std::uint32_t blockSize, std::uint64_t journalBlocks,
                       const std::function<bool(std::uint64_t, std::vector<std::uint8_t>&)>& readBlock,
                       std::vector<JournalCopy>& copies, std::string& reason);

}  // namespace ondrel
