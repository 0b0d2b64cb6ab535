#pragma once
// The MBR and its chain of extended boot records. On the disk itself a volume
// whose boot record starts the disk (a partition image, a "superfloppy") is
// listed when no table is there.
#include "volumes/VolumeSystem.h"

namespace ondrel {

class MbrVolumeSystem : public VolumeSystem {
public:
    std::string name() const override { return "MBR"; }
    bool recognises(const ByteSource& source, const std::vector<FileSystemProbe>& probes) const override;
    void list(const ByteSource& source, DiscoveryContext& context) const override;

private:
    void scanExtendedChain(const ByteSource& source, DiscoveryContext& context, std::uint32_t extBase) const;
    void addRecord(const ByteSource& source, DiscoveryContext& context, std::uint8_t type, std::uint64_t start,
                   std::uint32_t sectors, bool logical) const;
    bool bareVolumeAtStart(const ByteSource& source, DiscoveryContext& context, bool superblocks) const;
};

}  // namespace ondrel
