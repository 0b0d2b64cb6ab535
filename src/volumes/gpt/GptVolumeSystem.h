#pragma once
// The GUID partition table: the header in sector 1 and its entry array. Each
// entry's volume is named by the boot record it starts with, or by the
// structure 1024 bytes in, or else by the entry's own name.
#include "volumes/VolumeSystem.h"

namespace ondrel {

class GptVolumeSystem : public VolumeSystem {
public:
    std::string name() const override { return "GPT"; }
    bool recognises(const ByteSource& source, const std::vector<FileSystemProbe>& probes) const override;
    void list(const ByteSource& source, DiscoveryContext& context) const override;
};

}  // namespace ondrel
