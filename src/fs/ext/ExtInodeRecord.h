#pragma once
// One name found in an ext folder, with what its inode said when it was read.
#include <cstdint>
#include <string>

namespace ondrel {

struct ExtInodeRecord {
    std::string name;             // as stored
    std::uint32_t number = 0;     // inode number - 1
    std::int32_t parentIndex = -1;
    std::int32_t ownIndex = 0;
    std::uint16_t mode = 0;
    std::uint64_t size = 0;
    std::uint32_t atime = 0, ctime = 0, mtime = 0;
    bool deleted = false;         // a name left in a record's slack
    bool fromJournal = false;     // its inode comes from a copy in the journal

    std::uint16_t type() const { return mode & 0xF000; }
    bool isDirectory() const { return type() == 0x4000; }
    bool isSymlink() const { return type() == 0xA000; }
};

}  // namespace ondrel
