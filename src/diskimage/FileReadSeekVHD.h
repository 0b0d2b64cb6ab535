#pragma once
// A dynamic or differencing VHD: a footer copy and a dynamic header at the
// start, a block table, and blocks that each begin with a sector bitmap.
// Unallocated blocks read as zeros; in a differencing disk they, and the
// sectors a block's bitmap leaves clear, read from the parent disk.
#include "diskimage/BlockMappedReader.h"
#include "diskimage/VhdFormat.h"

#include <unordered_map>

namespace ondrel {

class FileReadSeekVHD : public BlockMappedReader {
public:
    bool open(const std::string& path) override;

    // The wizard insists on the .vhd extension; the command-line tool, which
    // recognises the container by its content, turns this off.
    bool requireVhdExtension = true;

    VhdFooter footer;
    VhdDynamicHeader header;

protected:
    Mapping mapAt(std::uint64_t virtualOffset) override;
    std::string layerKind() const override { return footer.diskType == 4 ? "differencing VHD" : "dynamic VHD"; }

private:
    bool openParentDisk(Bytes header);
    // The sector bitmap of the block at a table entry; empty when unreadable.
    const std::vector<std::uint8_t>& bitmap(std::uint32_t entry);

    std::uint64_t blockSize_ = 0;
    std::uint64_t bitmapBytes_ = 0;
    bool differencing_ = false;
    std::unordered_map<std::uint32_t, std::vector<std::uint8_t>> bitmaps_;
};

}  // namespace ondrel
