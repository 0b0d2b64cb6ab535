#pragma once
// NTFS data runs: (length, offset) pairs packed into header bytes; offsets are
// signed and relative to the previous run; no offset means a sparse run.
#include "common/Endian.h"

#include <cstdint>
#include <vector>

namespace ondrel {

struct NtfsRun {
    std::int64_t startCluster = 0;  // absolute cluster number; 0 for a sparse run
    std::uint64_t length = 0;       // clusters
    bool sparse = false;
};

// No volume has more clusters than this; bounding every cluster number and
// length by it keeps the byte arithmetic on them inside 64 bits.
inline constexpr std::int64_t kMaxNtfsClusters = std::int64_t(1) << 40;

// Decodes a run list; runs are kept while their total stays within
// totalClusters (0: no bound). Damaged lists end where they stop making sense.
std::vector<NtfsRun> decodeRunList(Bytes runs, std::uint64_t totalClusters);

}  // namespace ondrel
