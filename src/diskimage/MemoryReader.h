#pragma once
// A virtual disk held in memory: the bytes a caller hands over, read like any
// image. Tests and the fuzz targets use it instead of temporary files.
#include "diskimage/readWriteInterface.h"

#include <cstdint>
#include <vector>

namespace ondrel {

class MemoryReader : public readWriteInterface {
public:
    // The disk is the bytes given; a trailing partial sector reads as zeros.
    explicit MemoryReader(std::vector<std::uint8_t> bytes);
    MemoryReader(const std::uint8_t* data, std::size_t size);

    // There is no file to open: the bytes are already there.
    using readWriteInterface::open;
    bool open(const std::string& path, const OpenOptions& options) override;
    bool readAt(std::int64_t offset, void* buffer, std::size_t length) const override;

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace ondrel
