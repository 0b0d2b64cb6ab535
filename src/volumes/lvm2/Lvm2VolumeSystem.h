#pragma once
// LVM2: each physical volume (its label in the first sectors) found on any
// disk of a discovery is kept by UUID; once every physical volume of a volume
// group is at hand, or once all disks are listed, the group's logical
// volumes are listed, each a volume whose bytes its segments map onto the
// physical volumes (a missing one reads as zeros and is named).
#include "volumes/VolumeSystem.h"

namespace ondrel {

class Lvm2VolumeSystem : public VolumeSystem {
public:
    std::string name() const override { return "LVM2"; }
    bool recognises(const ByteSource& source, const std::vector<FileSystemProbe>& probes) const override;
    void list(const ByteSource& source, DiscoveryContext& context) const override;
    void finish(DiscoveryContext& context) const override;
};

}  // namespace ondrel
