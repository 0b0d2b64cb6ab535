#pragma once
// One folder or file of the catalog, kept in memory with what the list, the
// save and the links between records need, so no node is read twice.
#include "common/Endian.h"
#include "fs/hfsplus/HfsStructures.h"

#include <cstdint>
#include <memory>
#include <string>

namespace ondrel {

struct HfsCatalogRecord {
    std::uint16_t type = 0;          // 1 folder, 2 file
    std::uint32_t parentId = 0;      // from the key
    std::uint32_t ownId = 0;         // folder or file ID
    std::string name;                // UTF-8, as stored (decomposed)
    std::uint32_t createDate = 0, contentModDate = 0, attributeModDate = 0, accessDate = 0;
    std::uint16_t fileMode = 0;
    std::uint8_t ownerFlags = 0;
    std::uint32_t special = 0;       // a hard link's inode number
    std::uint32_t fileType = 0, creator = 0;
    HfsFork dataFork;                // files only
    // Kept only for compressed files, whose data may be in it.
    std::unique_ptr<HfsFork> resourceFork;
    bool deleted = false;            // found only in a node the B-tree no longer uses

    bool isFolder() const { return type == 1; }
    bool isSymlink() const { return (fileMode & 0xF000) == 0xA000; }
    bool isCompressed() const { return (ownerFlags & 0x20) != 0; }
    // A file that stands for another ("iNode<N>" in the private metadata folder).
    bool isHardLink() const { return fileType == 0x686C6E6B && creator == 0x6866732B; }  // 'hlnk' 'hfs+'
};

// Decodes the catalog leaf record whose key starts at off in node. Folder and
// file records only (threads and anything malformed give false); names of 1 to
// 255 units, IDs above 0, and a key that leaves room for the record.
bool decodeCatalogRecord(Bytes node, std::size_t off, HfsCatalogRecord& out);

}  // namespace ondrel
