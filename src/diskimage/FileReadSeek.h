#pragma once
// A plain sector-by-sector image (raw, .img, .dd, a fixed VHD) or a block device.
#include "diskimage/readWriteInterface.h"
#include "platform/ReadOnlyFile.h"

namespace ondrel {

class FileReadSeek : public readWriteInterface {
public:
    using readWriteInterface::open;
    bool open(const std::string& path, const OpenOptions& options) override;
    bool readAt(std::int64_t offset, void* buffer, std::size_t length) const override;

    bool isDevice() const { return handle.isDevice(); }
    const ReadOnlyFile* imageFile() const override { return &handle; }
    std::optional<DiskExtent> extentAt(std::int64_t offset) const override;
    ReaderDetails details() const override;

    ReadOnlyFile handle;
};

}  // namespace ondrel
