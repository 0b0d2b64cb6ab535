#pragma once
// Shared read path of the container readers (VHD, VDI, VMDK). A container maps
// each virtual offset to a run of bytes in the file, a run of zeros, or nothing.
// A read walks those runs and merges runs that are contiguous in the file into
// one system call, so reading block by block costs what the container allows,
// not one seek per sector.
#include "diskimage/readWriteInterface.h"
#include "platform/ReadOnlyFile.h"

namespace ondrel {

class BlockMappedReader : public readWriteInterface {
public:
    bool read(void* buffer, std::uint32_t byteCount) override;
    bool seek(std::int64_t offset, int method = 0) override;

    const ReadOnlyFile* imageFile() const override { return &file_; }
    std::optional<DiskExtent> extentAt(std::int64_t offset) override;

    // Offset last passed to seek (relative to baseOffset), advanced by reads.
    std::int64_t currentOffset = 0;

protected:
    enum class Kind { Data, Zero, Unmapped };
    struct Mapping {
        Kind kind = Kind::Unmapped;
        std::int64_t fileOffset = 0;  // for Data: where the byte lies in the file
        std::uint64_t length = 0;     // bytes from here on that map the same way (> 0)
    };
    virtual Mapping mapAt(std::uint64_t virtualOffset) = 0;

    // Warns when allocated data lies beyond the end of the file.
    void checkTruncation(std::int64_t dataEnd, const char* what);

    ReadOnlyFile file_;
};

}  // namespace ondrel
