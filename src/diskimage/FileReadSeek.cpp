#include "diskimage/FileReadSeek.h"

#include "diskimage/ReaderState.h"

#include <cstring>

namespace ondrel {

bool FileReadSeek::open(const std::string& path) {
    if (!handle.open(path)) {
        lastErrorCode_ = handle.errorCode();
        return fail("Invalid handle .");
    }
    fileLength = handle.size();
    if (fileLength <= 0) return fail("The image is empty: it holds no sectors to read.");
    setSectorCount(diskSizeOverride != 0 ? diskSizeOverride >> 9 : static_cast<std::uint64_t>(fileLength) / kSectorSize);
    return true;
}

bool FileReadSeek::seek(std::int64_t offset, int method) {
    if (method != 0) return false;
    std::int64_t target = 0;
    if (__builtin_add_overflow(offset, baseOffset, &target) || target < 0 || target > kMaxDiskBytes) return false;
    position_ = target;
    return true;
}

bool FileReadSeek::read(void* buffer, std::uint32_t byteCount) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::int64_t got = handle.readAt(position_, out, byteCount);
    if (got < 0) {
        lastErrorCode_ = handle.errorCode();
        got = 0;
    }
    // Past the end of the image the caller gets zeros, never stale bytes.
    if (static_cast<std::uint64_t>(got) < byteCount) std::memset(out + got, 0, byteCount - static_cast<std::size_t>(got));
    position_ += byteCount;
    return static_cast<std::uint64_t>(got) >= byteCount;
}

std::optional<DiskExtent> FileReadSeek::extentAt(std::int64_t offset) {
    std::int64_t at = offset + baseOffset;
    DiskExtent e;
    if (at < 0 || at >= fileLength) return e;  // past the end: nothing to copy
    e.kind = DiskExtent::Kind::Data;
    e.fileOffset = at;
    e.length = static_cast<std::uint64_t>(fileLength - at);
    return e;
}

}  // namespace ondrel
