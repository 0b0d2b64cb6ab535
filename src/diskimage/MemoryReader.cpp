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

bool MemoryReader::open(const std::string&) { return fail("A disk held in memory is not opened from a file."); }

bool MemoryReader::seek(std::int64_t offset, int method) {
    if (method != 0) return false;
    std::int64_t target = 0;
    if (__builtin_add_overflow(offset, baseOffset, &target) || target < 0 || target > kMaxDiskBytes) return false;
    position_ = target;
    return true;
}

bool MemoryReader::read(void* buffer, std::uint32_t byteCount) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t got = 0;
    if (position_ < static_cast<std::int64_t>(bytes_.size())) {
        auto at = static_cast<std::size_t>(position_);
        got = std::min<std::size_t>(byteCount, bytes_.size() - at);
        std::memcpy(out, bytes_.data() + at, got);
    }
    // Past the end the caller gets zeros, as from every reader.
    std::memset(out + got, 0, byteCount - got);
    position_ += byteCount;
    return got == byteCount;
}

}  // namespace ondrel
