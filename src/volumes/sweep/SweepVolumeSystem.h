#pragma once
// The sector sweep: every 512-byte sector of the source (or of the user's
// range) is tested for a boot record or, 1024 bytes into a volume, a
// superblock; each volume is listed the moment it is found and, unless the user
// says otherwise, jumped over.
#include "volumes/VolumeSystem.h"

namespace ondrel {

class SweepVolumeSystem : public VolumeSystem {
public:
    std::string name() const override { return "sweep"; }
    // The sweep runs only when asked for.
    bool recognises(const ByteSource&, const std::vector<FileSystemProbe>&) const override { return false; }
    void list(const ByteSource& source, DiscoveryContext& context) const override;
};

}  // namespace ondrel
