#pragma once
// A dynamic VHD: a footer copy and a dynamic header at the start, a block table,
// and blocks that each begin with a sector bitmap. Unallocated blocks read as zeros.
#include "diskimage/BlockMappedReader.h"
#include "diskimage/VhdFormat.h"

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

private:
    std::uint64_t blockSize_ = 0;
    std::uint64_t bitmapBytes_ = 0;
};

}  // namespace ondrel
