#pragma once
// An XFS inode (dinode versions 1 to 3): its type, size, links, times and
// the two forks, the data fork's records as they stand in the inode.
#include "common/Endian.h"
#include "fs/xfs/XfsSuperblock.h"

#include <cstdint>
#include <vector>

namespace ondrel {

struct XfsTime {
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
};

enum class XfsFork : std::uint8_t { Device = 0, Local = 1, Extents = 2, Btree = 3 };

struct XfsInode {
    std::uint64_t number = 0;
    std::uint16_t mode = 0;
    std::uint8_t version = 0;
    XfsFork format = XfsFork::Device;
    std::uint32_t links = 0;
    std::uint64_t size = 0, blocks = 0, extents = 0;
    XfsTime atime, mtime, ctime, crtime;
    bool hasCrtime = false;
    bool checksumOk = true;
    std::vector<std::uint8_t> dataFork;  // the data fork's bytes within the inode

    bool isDirectory() const { return (mode & 0170000) == 0040000; }
    bool isRegular() const { return (mode & 0170000) == 0100000; }
    bool isSymlink() const { return (mode & 0170000) == 0120000; }
    bool inUse() const { return mode != 0; }
};

// Decodes the inode record at raw (inodeSize bytes); false with the reason
// when it is no inode (its magic, version or fork cannot be used). The data
// fork's bytes are kept for folders, and for any inode when withFork.
bool decodeXfsInode(Bytes raw, const XfsSuperblock& sb, std::uint64_t number, XfsInode& out, std::string& why, bool withFork = true);

}  // namespace ondrel
