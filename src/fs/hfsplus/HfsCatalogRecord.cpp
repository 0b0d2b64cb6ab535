#include "fs/hfsplus/HfsCatalogRecord.h"

#include "common/Utf16.h"

#include <algorithm>

namespace ondrel {

bool decodeCatalogRecord(Bytes node, std::size_t off, HfsCatalogRecord& out) {
    const std::size_t keyLength = be16(node, off);
    const std::size_t nameLength = be16(node, off + 6);
    // A catalog key: parent ID, then the name's length and units.
    if (keyLength < 6 || keyLength > 516 || nameLength == 0 || nameLength > 255 || 6 + 2 * nameLength > keyLength)
        return false;
    const std::size_t rec = off + 2 + keyLength;
    const std::uint16_t type = be16(node, rec);
    std::size_t needed = type == 1 ? 88 : type == 2 ? 248 : 0;
    if (needed == 0 || rec + needed > node.size()) return false;
    HfsCatalogRecord r;
    r.type = type;
    r.parentId = be32(node, off + 2);
    r.name = utf16beToUtf8(node, off + 8, nameLength);
    // The catalog keeps the Finder's "/" where the POSIX name has ":".
    std::replace(r.name.begin(), r.name.end(), '/', ':');
    r.ownId = be32(node, rec + 8);
    if (r.ownId == 0) return false;
    r.createDate = be32(node, rec + 12);
    r.contentModDate = be32(node, rec + 16);
    r.attributeModDate = be32(node, rec + 20);
    r.accessDate = be32(node, rec + 24);
    r.ownerFlags = le8(node, rec + 41);
    r.fileMode = be16(node, rec + 42);
    r.special = be32(node, rec + 44);
    if (type == 2) {
        r.fileType = be32(node, rec + 48);
        r.creator = be32(node, rec + 52);
        r.dataFork = decodeFork(node, rec + 88);
        if (r.isCompressed()) r.resourceFork = std::make_unique<HfsFork>(decodeFork(node, rec + 168));
    }
    out = std::move(r);
    return true;
}

}  // namespace ondrel
