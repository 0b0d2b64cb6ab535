#include "diskimage/MemoryReader.h"

#include <algorithm>
#include <cstring>

namespace ondrel {

MemoryReader::MemoryReader(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {
    fileLength = static_cast<std::int64_t>(bytes_.size());
    setSectorCount((bytes_.size() + kSectorSize - 1) / kSectorSize);
}

MemoryReader::MemoryReader(const std::uint8_t* data, std::size_t size)
    : MemoryReader(std::vector<std::uint8_t>(data, data + size)) {}

bool MemoryReader::open(const std::string&, const OpenOptions&) {
    return fail("A disk held in memory is not opened from a file.");
}

bool MemoryReader::readAt(std::int64_t offset, void* buffer, std::size_t length) const {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t got = 0;
    if (offset >= 0 && offset < static_cast<std::int64_t>(bytes_.size())) {
        auto at = static_cast<std::size_t>(offset);
        got = std::min<std::size_t>(length, bytes_.size() - at);
        std::memcpy(out, bytes_.data() + at, got);
    }
    // Past the end the caller gets zeros, as from every reader.
    std::memset(out + got, 0, length - got);
    return got == length;
}

}  // namespace ondrel
