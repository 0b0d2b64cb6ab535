#include "fs/ntfs/NtfsRunList.h"

namespace ondrel {

std::vector<NtfsRun> decodeRunList(Bytes runs, std::uint64_t totalClusters) {
    std::vector<NtfsRun> out;
    std::size_t p = 0;
    std::int64_t lcn = 0;
    std::uint64_t sum = 0;
    while (p < runs.size()) {
        std::uint8_t h = runs[p];
        std::size_t lenBytes = h & 0x0F, offBytes = h >> 4;
        if (lenBytes == 0) break;
        if (lenBytes > 8 || offBytes > 8 || p + 1 + lenBytes + offBytes > runs.size()) break;
        std::uint64_t length = 0;
        for (std::size_t i = 0; i < lenBytes; ++i) length |= static_cast<std::uint64_t>(runs[p + 1 + i]) << (8 * i);
        std::int64_t offset = 0;
        if (offBytes > 0) {
            std::uint64_t raw = 0;
            for (std::size_t i = 0; i < offBytes; ++i) raw |= static_cast<std::uint64_t>(runs[p + 1 + lenBytes + i]) << (8 * i);
            if (offBytes < 8 && (runs[p + lenBytes + offBytes] & 0x80)) raw |= ~0ull << (8 * offBytes);  // sign
            offset = static_cast<std::int64_t>(raw);
        }
        p += 1 + lenBytes + offBytes;
        if (length == 0) continue;
        if (length > static_cast<std::uint64_t>(kMaxNtfsClusters)) break;
        sum += length;
        if (sum > static_cast<std::uint64_t>(kMaxNtfsClusters)) break;
        if (totalClusters != 0 && sum > totalClusters) break;
        NtfsRun r;
        r.length = length;
        if (offBytes == 0) {
            r.sparse = true;
        } else {
            // A hostile offset can push the cluster number past what 64 bits hold.
            if (__builtin_add_overflow(lcn, offset, &lcn) || lcn < 0) break;
            if (lcn > kMaxNtfsClusters - static_cast<std::int64_t>(length)) break;
            r.startCluster = lcn;
        }
        out.push_back(r);
    }
    return out;
}

}  // namespace ondrel
