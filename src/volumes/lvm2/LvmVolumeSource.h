#pragma once
// A logical volume's bytes: each of its segments' extents found on the
// physical volumes that hold them (one stripe is linear; several take turns
// every stripe size). What no segment covers, or lies on a physical volume
// that is not at hand, reads as zeros and the read reports failure.
#include "diskimage/ByteSource.h"
#include "volumes/lvm2/LvmVolumeGroup.h"

#include <memory>
#include <vector>

namespace ondrel {

class LvmVolumeSource : public ByteSource {
public:
    // pvs[i] is the source of vg.pvs[i] (the whole PV, from its label), or null when missing.
    LvmVolumeSource(const LvmVolumeGroup& vg, const LvmLogicalVolume& lv, std::vector<std::shared_ptr<const ByteSource>> pvs);

    bool readAt(std::int64_t offset, void* buffer, std::size_t length) const override;
    std::int64_t size() const override { return size_; }

private:
    // One stripe's extents as one run of a PV: a segment of n stripes is n runs.
    struct Segment {
        std::int64_t start = 0, length = 0;  // in the LV, bytes
        std::int64_t stripeBytes = 0;        // 0: one stripe
        std::vector<std::pair<std::size_t, std::int64_t>> stripes;  // PV index, byte offset in the PV
    };
    bool readSegment(const Segment& s, std::int64_t offset, std::uint8_t* out, std::size_t length) const;

    std::vector<Segment> segments_;
    std::vector<std::shared_ptr<const ByteSource>> pvs_;
    std::int64_t size_ = 0;
};

}  // namespace ondrel
