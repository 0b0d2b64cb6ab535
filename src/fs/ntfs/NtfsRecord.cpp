#include "fs/ntfs/NtfsRecord.h"

#include <algorithm>

namespace ondrel {

NtfsRecord::NtfsRecord(Bytes raw) : bytes_(raw.begin(), raw.end()) {
    std::uint16_t u = le16(bytes_, 4);
    std::uint16_t n = le16(bytes_, 6);
    if (!isFile() || n <= 1) return;
    for (std::size_t i = 1; i < n; ++i) {
        std::size_t sectorEnd = i * 512;
        std::size_t source = u + 2 * i;
        if (sectorEnd > bytes_.size() || source + 1 >= bytes_.size()) break;
        bytes_[sectorEnd - 2] = bytes_[source];
        bytes_[sectorEnd - 1] = bytes_[source + 1];
    }
}

bool NtfsRecord::plausibleHeader(Bytes s) {
    return hasText(s, 0, "FILE") && le16(s, 4) < 512 && le16(s, 6) < 512 && le16(s, 20) < 512;
}

std::vector<NtfsAttribute> NtfsRecord::attributes() const {
    std::vector<NtfsAttribute> out;
    Bytes b(bytes_);
    std::size_t p = le16(b, 20);
    while (p + 16 <= b.size() && out.size() < 512) {
        NtfsAttribute a;
        a.type = le32(b, p);
        if (a.type == kEndOfAttributes) break;
        a.offset = static_cast<std::uint32_t>(p);
        a.length = le32(b, p + 4);
        if (a.length < 16 || p + a.length > b.size()) break;
        a.nonResident = le8(b, p + 8) != 0;
        a.nameLength = le8(b, p + 9);
        a.flags = le16(b, p + 12);
        if (!a.nonResident) {
            a.contentLength = le32(b, p + 16);
            a.contentOffset = le16(b, p + 20);
        } else {
            a.startVcn = static_cast<std::int64_t>(le64(b, p + 16));
            a.lastVcn = static_cast<std::int64_t>(le64(b, p + 24));
            a.runListOffset = le16(b, p + 32);
            a.compressionUnit = le16(b, p + 34);
            a.allocatedSize = static_cast<std::int64_t>(le64(b, p + 40));
            a.realSize = static_cast<std::int64_t>(le64(b, p + 48));
            a.initializedSize = static_cast<std::int64_t>(le64(b, p + 56));
        }
        out.push_back(a);
        p += a.length;
    }
    return out;
}

Bytes NtfsRecord::content(const NtfsAttribute& a) const {
    Bytes b(bytes_);
    std::size_t start = static_cast<std::size_t>(a.offset) + a.contentOffset;
    if (a.nonResident || start >= b.size()) return {};
    std::size_t end = std::min<std::size_t>({start + a.contentLength, static_cast<std::size_t>(a.offset) + a.length, b.size()});
    return b.subspan(start, end > start ? end - start : 0);
}

Bytes NtfsRecord::runList(const NtfsAttribute& a) const {
    Bytes b(bytes_);
    std::size_t start = static_cast<std::size_t>(a.offset) + a.runListOffset;
    std::size_t end = std::min<std::size_t>(static_cast<std::size_t>(a.offset) + a.length, b.size());
    if (!a.nonResident || start >= end) return {};
    return b.subspan(start, end - start);
}

}  // namespace ondrel
