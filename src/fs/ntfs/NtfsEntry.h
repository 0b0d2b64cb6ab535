#pragma once
// One MFT record slot as the parser keeps it: what the tree, the list, saving
// and search need, decoded once when the record is read.
#include <cstdint>
#include <string>

namespace ondrel {

struct NtfsEntry {
    char magic[4] = {0, 0, 0, 0};
    std::int64_t diskOffset = 0;   // of the record, from the volume start
    std::string name;              // UTF-8; empty when the record has no name
    bool hasName = false;
    std::int64_t parent = -1;      // the parent's record number, as the name states it
    std::int64_t size = 0;         // allocated size from the file name
    std::uint16_t recordFlags = 0; // 0x0001 in use, 0x0002 directory
    char kind = 0;                 // 'D' for a directory
    std::int64_t ownIndex = 0;

    // Decoded for listing.
    std::uint64_t created = 0, modified = 0, accessed = 0;  // FILETIME, $STANDARD_INFORMATION
    bool hasTimes = false;
    std::uint32_t fileAttributes = 0;  // of the $FILE_NAME the name came from
    std::uint64_t dataSize = 0;        // real size of the unnamed $DATA
    bool hasData = false;
    bool hasAttributeList = false;
    std::uint64_t recordNumber = 0;    // from the record header
    std::uint64_t baseRecord = 0;      // non-zero for an extension record

    bool isFile() const { return magic[0] == 'F' && magic[1] == 'I' && magic[2] == 'L' && magic[3] == 'E'; }
    bool inUse() const { return recordFlags & 0x0001; }
};

}  // namespace ondrel
