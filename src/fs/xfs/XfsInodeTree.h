#pragma once
// The free inodes of an allocation group, from its inode B+tree (the AGI's
// "IABT"/"IAB3" tree): each record covers 64 inodes with a bit for each that
// is free (and, with sparse inodes, a hole mask for those never allocated). A
// freed inode keeps the block map of the file it was, where removed files
// that no folder names any more are found.
#include "fs/xfs/XfsBlockMap.h"

#include <functional>
#include <string>

namespace ondrel {

// Calls onFree with each free inode number of group ag that lies in an
// allocated chunk; false with a message when the tree cannot be walked whole.
// A version 5 node whose checksum fails is read all the same and, when
// checksums is given, named there.
bool xfsFreeInodes(const XfsSuperblock& sb, const XfsBlockReader& read, Bytes agi, std::uint32_t ag,
                   const std::function<void(std::uint64_t inode)>& onFree, std::string& message, std::string* checksums = nullptr);

}  // namespace ondrel
