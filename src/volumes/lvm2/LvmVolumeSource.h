#pragma once
// A logical volume's bytes: each of its segments' extents found on the
// physical volumes that hold them (one stripe is linear; several take turns
// every stripe size), or in the hidden logical volumes a mirror or RAID
// segment names (a RAID 0 takes turns over its images; of a mirror's or a
// RAID 1's legs, the first that is whole is read; a thin volume through its
// pool's mapping, blocks never written as zeros; a classic snapshot as its
// origin with the chunks its copy-on-write store kept). What no segment covers,
// or lies on a physical volume that is not at hand, reads as zeros and the
// read reports failure.
#include "diskimage/ByteSource.h"
#include "volumes/lvm2/LvmVolumeGroup.h"

#include <memory>
#include <string>
#include <vector>

namespace ondrel {

class LvmVolumeSource : public ByteSource {
public:
    // pvs[i] is the source of vg.pvs[i] (the whole PV, from its label), or null when missing.
    LvmVolumeSource(const LvmVolumeGroup& vg, const LvmLogicalVolume& lv, std::vector<std::shared_ptr<const ByteSource>> pvs);
    // Each hidden LV is built once however many segments name it (by index in vg.lvs).
    using Built = std::vector<std::shared_ptr<const LvmVolumeSource>>;
    LvmVolumeSource(const LvmVolumeGroup& vg, const LvmLogicalVolume& lv, const std::vector<std::shared_ptr<const ByteSource>>& pvs,
                    int depth, Built& built);

    bool readAt(std::int64_t offset, void* buffer, std::size_t length) const override;
    std::int64_t size() const override { return size_; }

    // Whether every extent lies on a physical volume at hand.
    bool whole() const { return whole_; }
    // Which leg of each mirror or RAID 1 segment is read ("" when none has legs).
    const std::string& legsRead() const { return legsRead_; }
    // Why part of it cannot be read beyond a missing PV (a thin pool's damaged metadata); "" when nothing.
    const std::string& problem() const { return problem_; }
    // What the user should know that is no damage (what a snapshot is read from); "" when nothing.
    const std::string& note() const { return note_; }

private:
    // One stripe's extents as one run of a source: a segment of n stripes is n runs.
    struct Segment {
        std::int64_t start = 0, length = 0;  // in the LV, bytes
        std::int64_t stripeBytes = 0;        // 0: one stripe
        std::vector<std::pair<std::shared_ptr<const ByteSource>, std::int64_t>> stripes;  // source (null: missing), byte offset in it
    };
    // Turns the store built from lv's own segments into the snapshot it keeps.
    template <typename Area>
    void asSnapshot(const LvmVolumeGroup& vg, const LvmLogicalVolume& lv, Area& area);
    bool readSegment(const Segment& s, std::int64_t offset, std::uint8_t* out, std::size_t length) const;

    std::vector<Segment> segments_;
    std::int64_t size_ = 0;
    bool whole_ = true;
    std::string legsRead_;
    std::string problem_;
    std::string note_;
};

}  // namespace ondrel
