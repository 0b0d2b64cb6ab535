#pragma once
// Where a fork's data lies: the packed 128-bit extent records of an
// extents-format fork, or those in the leaves of a fork's B+tree (its root in
// the inode, the nodes "BMAP"/"BMA3" blocks). A node met twice, a tree
// deeper than the format allows or a record count beyond a node's room stops
// the walk with a message; what was found stays.
#include "fs/xfs/XfsInode.h"

#include <functional>
#include <string>
#include <vector>

namespace ondrel {

struct XfsExtent {
    std::uint64_t fileBlock = 0, fsBlock = 0, count = 0;
    bool unwritten = false;  // allocated, never written: reads as zeros
};

// Reads one file-system block into out; false when it cannot be read.
using XfsBlockReader = std::function<bool(std::uint64_t fsBlock, std::vector<std::uint8_t>& out)>;

// The data fork's extents sorted by file block; false with a message when
// part of the map could not be read (the extents found stay in out).
// A version 5 node whose checksum fails is read all the same and, when
// checksums is given, named there (the first such one).
bool xfsForkExtents(const XfsInode& inode, const XfsSuperblock& sb, const XfsBlockReader& read, std::vector<XfsExtent>& out,
                    std::string& message, std::string* checksums = nullptr);

// One packed extent record.
XfsExtent xfsExtentAt(Bytes record);

}  // namespace ondrel
