#pragma once
// LVM2: a physical volume (its label in the first sectors) lists the logical
// volumes of its volume group that lie on it, each a volume whose bytes the
// segments map onto the physical volume.
#include "volumes/VolumeSystem.h"

namespace ondrel {

class Lvm2VolumeSystem : public VolumeSystem {
public:
    std::string name() const override { return "LVM2"; }
    bool recognises(const ByteSource& source, const std::vector<FileSystemProbe>& probes) const override;
    void list(const ByteSource& source, DiscoveryContext& context) const override;
};

}  // namespace ondrel
