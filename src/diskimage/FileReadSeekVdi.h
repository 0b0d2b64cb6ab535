#pragma once
// A VDI image: a header, a block map of indices into the data area, and blocks;
// unallocated blocks read as zeros.
#include "diskimage/BlockMappedReader.h"
#include "diskimage/VdiFormat.h"

namespace ondrel {

class FileReadSeekVdi : public BlockMappedReader {
public:
    bool open(const std::string& path) override;

    VdiHeader header;
    std::uint32_t sectorsPerBlock = 0;
    std::vector<std::uint32_t> blockMap;
    std::uint64_t mapEntriesRead = 0;
    std::int64_t mapEntries = 0;

protected:
    Mapping mapAt(std::uint64_t virtualOffset) override;
};

}  // namespace ondrel
