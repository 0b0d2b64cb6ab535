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
    bool open(const std::string& path) override;
    bool read(void* buffer, std::uint32_t byteCount) override;
    bool seek(std::int64_t offset, int method = 0) override;

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::int64_t position_ = 0;
};

}  // namespace ondrel
