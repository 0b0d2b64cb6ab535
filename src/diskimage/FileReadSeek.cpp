#include "diskimage/FileReadSeek.h"

#include <cstring>

namespace ondrel {

bool FileReadSeek::open(const std::string& path, const OpenOptions& options) {
    if (!handle.open(path)) {
        noteError(handle.errorCode());
        return fail("Invalid handle .");
    }
    fileLength = handle.size();
    if (fileLength <= 0) return fail("The image is empty: it holds no sectors to read.");
    setSectorCount(options.diskSizeOverride != 0 ? options.diskSizeOverride >> 9
                                                 : static_cast<std::uint64_t>(fileLength) / kSectorSize);
    return true;
}

bool FileReadSeek::readAt(std::int64_t offset, void* buffer, std::size_t length) const {
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (offset < 0 || offset > kMaxDiskBytes) {
        std::memset(out, 0, length);
        return false;
    }
    std::int64_t got = handle.readAt(offset, out, length);
    if (got < 0) {
        noteError(handle.errorCode());
        got = 0;
    }
    // Past the end of the image the caller gets zeros, never stale bytes.
    if (static_cast<std::uint64_t>(got) < length) {
        std::memset(out + got, 0, length - static_cast<std::size_t>(got));
        std::int64_t missing = offset + got;
        if (missing < size())
            damage_.note(static_cast<std::uint64_t>(missing),
                         static_cast<std::uint64_t>(std::min<std::int64_t>(size() - missing, static_cast<std::int64_t>(length) - got)),
                         got == 0 && handle.errorCode() ? "the image cannot be read there" : "the image file ends before it");
    }
    return static_cast<std::uint64_t>(got) >= length;
}

std::optional<DiskExtent> FileReadSeek::extentAt(std::int64_t at) const {
    DiskExtent e;
    if (at < 0) return e;
    if (at >= fileLength) {
        // Inside a disk made larger than its file ("Size of HDD"): zeros.
        e.kind = at < size() ? DiskExtent::Kind::ReadThrough : DiskExtent::Kind::Unmapped;
        e.length = at < size() ? static_cast<std::uint64_t>(size() - at) : 1;
        return e;
    }
    e.kind = DiskExtent::Kind::Data;
    e.fileOffset = at;
    e.length = static_cast<std::uint64_t>(fileLength - at);
    e.file = &handle;
    return e;
}

ReaderDetails FileReadSeek::details() const {
    ReaderDetails d;
    d.device = handle.isDevice();
    if (d.device) d.add("Device:", "yes");
    return d;
}

}  // namespace ondrel
