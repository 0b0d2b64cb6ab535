#include "fs/ntfs/NtfsBootSector.h"

namespace ondrel {

bool isNtfsBootSector(Bytes s, bool requireSystemId, std::int64_t& sizeBytes) {
    if (le8(s, 0) != 0xEB || le8(s, 1) != 0x52) return false;
    if (requireSystemId && !hasText(s, 3, "NTFS")) return false;
    if (le16(s, 0x0B) != 512) return false;
    // A sector count no disk can have is no size (the volume is then not listed).
    std::uint64_t sectors = le64(s, 0x28);
    sizeBytes = sectors > (std::uint64_t(1) << 53) ? 0 : static_cast<std::int64_t>(sectors * 512);
    return true;
}

FileSystemProbe ntfsProbe() {
    FileSystemProbe p;
    p.name = "NTFS";
    p.at = 0;
    p.test = [](Bytes s, bool loose, std::int64_t& size) { return isNtfsBootSector(s, !loose, size); };
    p.trailingBytes = 512;  // the backup boot sector
    p.leadBytes = {0xEB};
    return p;
}

}  // namespace ondrel
