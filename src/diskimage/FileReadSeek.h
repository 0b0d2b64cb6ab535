#pragma once
// A plain sector-by-sector image (raw, .img, .dd, a fixed VHD) or a block device.
#include "diskimage/readWriteInterface.h"
#include "platform/ReadOnlyFile.h"

namespace ondrel {

class FileReadSeek : public readWriteInterface {
public:
    bool open(const std::string& path) override;
    bool read(void* buffer, std::uint32_t byteCount) override;
    bool seek(std::int64_t offset, int method = 0) override;

    bool isDevice() const { return handle.isDevice(); }
    const ReadOnlyFile* imageFile() const override { return &handle; }
    std::optional<DiskExtent> extentAt(std::int64_t offset) override;

    ReadOnlyFile handle;

private:
    std::int64_t position_ = 0;
};

}  // namespace ondrel
