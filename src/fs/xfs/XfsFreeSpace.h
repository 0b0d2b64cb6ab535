#pragma once
// Whether blocks are free, from an allocation group's free-space B+tree by
// block number (the AGF's "ABTB"/"AB3B" tree): a removed file's data can be
// saved only while none of its blocks was given to something else.
#include "fs/xfs/XfsBlockMap.h"

namespace ondrel {

enum class XfsBlocksState { Free, InUse, Unknown };

// The state of fsBlock and the count - 1 blocks after it (in one group).
// agf reads the group's AGF sector (false when it cannot).
XfsBlocksState xfsBlocksState(const XfsSuperblock& sb, const XfsBlockReader& read,
                              const std::function<bool(std::uint32_t ag, std::vector<std::uint8_t>& out)>& agf,
                              std::uint64_t fsBlock, std::uint64_t count);

// Every free extent of group ag in block order, as the same tree lists it
// (onFree gets the group's block and the length); false with a message when
// the tree cannot be walked whole (what was found before was given).
// A version 5 node whose checksum fails is read all the same and, when
// checksums is given, named there.
bool xfsFreeExtents(const XfsSuperblock& sb, const XfsBlockReader& read, Bytes agf, std::uint32_t ag,
                    const std::function<void(std::uint64_t agBlock, std::uint64_t length)>& onFree, std::string& message,
                    std::string* checksums = nullptr);

}  // namespace ondrel
