#include "volumes/FileSystemProbe.h"

#include <array>

namespace ondrel {

std::vector<FileSystemClaim> claimsOnVolume(const ByteSource& source, std::int64_t start,
                                            const std::vector<FileSystemProbe>& probes, bool loose) {
    std::array<std::uint8_t, 1536> head{};
    source.readAt(start, head.data(), head.size());
    auto sectorAt = [&](std::uint32_t at) { return Bytes(head.data() + at, 512); };
    std::vector<FileSystemClaim> out = claimsOf(probes, sectorAt, loose, 0);
    std::vector<FileSystemClaim> deeper = claimsOf(probes, sectorAt, loose, 1024);
    out.insert(out.end(), deeper.begin(), deeper.end());
    return out;
}

}  // namespace ondrel
