#pragma once
// A VDI image: a header, a block map of indices into the data area, and blocks;
// unallocated blocks read as zeros, or in a differencing image from its parent,
// the VDI beside it whose creation UUID the child records.
#include "diskimage/BlockMappedReader.h"
#include "diskimage/VdiFormat.h"

namespace ondrel {

class FileReadSeekVdi : public BlockMappedReader {
public:
    using readWriteInterface::open;
    bool open(const std::string& path, const OpenOptions& options) override;
    ReaderDetails details() const override;

    VdiHeader header;
    std::uint32_t sectorsPerBlock = 0;
    std::vector<std::uint32_t> blockMap;
    std::uint64_t mapEntriesRead = 0;
    std::int64_t mapEntries = 0;

protected:
    bool openParentDisk();
    Mapping mapAt(std::uint64_t virtualOffset) const override;
    std::string layerKind() const override { return header.imageType == kVdiDifferencing ? "differencing VDI" : "VDI"; }
};

}  // namespace ondrel
