#include "diskimage/BlockMappedReader.h"

#include <algorithm>
#include <cstring>

namespace ondrel {

bool BlockMappedReader::seek(std::int64_t offset, int method) {
    if (method != 0) return false;
    currentOffset = offset;
    std::int64_t a = 0;
    if (__builtin_add_overflow(offset, baseOffset, &a) || a < 0 || a > kMaxDiskBytes) {
        blockAllocated = false;
        return false;
    }
    Mapping m = mapAt(static_cast<std::uint64_t>(a));
    blockAllocated = m.kind == Kind::Data;
    return m.kind != Kind::Unmapped;
}

bool BlockMappedReader::read(void* buffer, std::uint32_t byteCount) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::int64_t start = currentOffset + baseOffset;
    currentOffset += byteCount;
    if (start < 0) {
        std::memset(out, 0, byteCount);
        return false;
    }
    auto pos = static_cast<std::uint64_t>(start);
    std::uint64_t left = byteCount;
    bool ok = true;
    while (left > 0) {
        Mapping m = mapAt(pos);
        std::uint64_t take = std::min<std::uint64_t>(left, std::max<std::uint64_t>(m.length, 1));
        if (m.kind == Kind::Data) {
            // Extend over following runs that continue in the file.
            while (take < left) {
                Mapping next = mapAt(pos + take);
                if (next.kind != Kind::Data || next.fileOffset != m.fileOffset + static_cast<std::int64_t>(take)) break;
                take += std::min<std::uint64_t>(left - take, std::max<std::uint64_t>(next.length, 1));
            }
            std::int64_t got = file_.readAt(m.fileOffset, out, take);
            if (got < 0) {
                lastErrorCode_ = file_.errorCode();
                got = 0;
            }
            if (static_cast<std::uint64_t>(got) < take) {
                std::memset(out + got, 0, take - static_cast<std::uint64_t>(got));
                ok = false;
            }
        } else {
            std::memset(out, 0, take);
            if (m.kind == Kind::Unmapped) ok = false;
        }
        pos += take;
        out += take;
        left -= take;
    }
    blockAllocated = true;
    return ok;
}

std::optional<DiskExtent> BlockMappedReader::extentAt(std::int64_t offset) {
    std::int64_t a = offset + baseOffset;
    DiskExtent e;
    if (a < 0) return e;
    Mapping m = mapAt(static_cast<std::uint64_t>(a));
    e.length = std::max<std::uint64_t>(m.length, 1);
    e.fileOffset = m.fileOffset;
    e.kind = m.kind == Kind::Data ? DiskExtent::Kind::Data
             : m.kind == Kind::Zero ? DiskExtent::Kind::Zero
                                    : DiskExtent::Kind::Unmapped;
    // Data past the end of a truncated file is not there to copy.
    if (e.kind == DiskExtent::Kind::Data && e.fileOffset + static_cast<std::int64_t>(e.length) > fileLength)
        e.kind = DiskExtent::Kind::Unmapped;
    return e;
}

void BlockMappedReader::checkTruncation(std::int64_t dataEnd, const char* what) {
    if (dataEnd > fileLength)
        warn(std::string("The ") + what + " file is truncated: some of its data lies beyond the end of the file and reads as zeros.");
}

}  // namespace ondrel
