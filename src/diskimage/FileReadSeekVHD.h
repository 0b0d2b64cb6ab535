#pragma once
// A dynamic or differencing VHD: a footer copy and a dynamic header at the
// start, a block table, and blocks that each begin with a sector bitmap.
// Unallocated blocks read as zeros; in a differencing disk they, and the
// sectors a block's bitmap leaves clear, read from the parent disk.
#include "diskimage/BlockMappedReader.h"
#include "diskimage/SharedCache.h"
#include "diskimage/VhdFormat.h"

namespace ondrel {

class FileReadSeekVHD : public BlockMappedReader {
public:
    using readWriteInterface::open;
    // The wizard insists on the .vhd extension (OpenOptions::requireVhdExtension);
    // the command-line tool recognises the container by its content.
    bool open(const std::string& path, const OpenOptions& options) override;
    ReaderDetails details() const override;

    VhdFooter footer;
    VhdDynamicHeader header;

protected:
    Mapping mapAt(std::uint64_t virtualOffset) const override;
    std::string layerKind() const override { return footer.diskType == 4 ? "differencing VHD" : "dynamic VHD"; }

private:
    bool openParentDisk(Bytes header);
    // The sector bitmap of the block at a table entry; empty when unreadable.
    std::shared_ptr<const std::vector<std::uint8_t>> bitmap(std::uint32_t entry) const;

    std::uint64_t blockSize_ = 0;
    std::uint64_t bitmapBytes_ = 0;
    bool differencing_ = false;
    SharedCache<std::uint32_t, std::vector<std::uint8_t>> bitmaps_{4096};
};

}  // namespace ondrel
