#pragma once
// A volume group as its metadata text describes it: the extent size, the
// physical volumes (by UUID, where their extents start) and the logical
// volumes with their segments. Only what the text states is kept; whether
// a logical volume can be read is decided from it.
#include "volumes/lvm2/LvmText.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ondrel {

// Where one stripe's extents lie: on a physical volume, or in a hidden
// logical volume (a mirror leg, a RAID image).
struct LvmStripe {
    std::size_t pv = 0;  // index in LvmVolumeGroup::pvs, or in ::lvs when onLv
    std::uint64_t startExtent = 0;
    bool onLv = false;
    std::string lvName;  // while the text is read: the LV named, resolved once all are known
};

struct LvmSegment {
    std::uint64_t startExtent = 0, extentCount = 0;
    std::string type;  // "striped" (linear is one stripe), "mirror", "raid1", "raid0", ...
    std::uint64_t stripeSectors = 0;
    // Striped and raid0: the stripes in turn. Mirror and raid1: one entry per
    // leg, each holding the whole segment (one is read).
    // Thin-pool: [its metadata LV, its data LV]. Thin: [its pool LV].
    std::vector<LvmStripe> stripes;
    std::uint64_t deviceId = 0;  // thin: the device in the pool's metadata
    bool legs() const { return type == "mirror" || type == "raid1"; }
};

struct LvmLogicalVolume {
    std::string name, id;
    bool visible = true;  // hidden sub-volumes (mirror legs, pool data) are not listed
    std::vector<LvmSegment> segments;
    // "" when the LV is read through its segments; otherwise why it is not,
    // and the segment type that is not read ("" when the text is at fault).
    std::string unreadable;
    std::string unreadType;
    // Extents the text states, read or not (an unread LV's size).
    std::uint64_t statedExtents = 0;
    // A classic snapshot is its copy-on-write store's LV (the name lvs
    // shows): its segments are the store's, its bytes the origin's as they
    // were, over snapshotExtents (the origin's size when it was taken).
    int snapshotOrigin = -1;  // index in LvmVolumeGroup::lvs
    std::uint64_t snapshotExtents = 0, chunkSectors = 0;
    std::uint64_t extents() const;
};

struct LvmPhysicalVolumeEntry {
    std::string key;  // "pv0"
    std::string id;   // with dashes, as the text writes it
    std::uint64_t peStartSectors = 0, peCount = 0;
};

struct LvmVolumeGroup {
    std::string name, id;
    std::int64_t seqno = 0;
    std::uint64_t extentSectors = 0;
    std::vector<LvmPhysicalVolumeEntry> pvs;
    std::vector<LvmLogicalVolume> lvs;
    // The PV whose id is uuid (the label's, without dashes); -1 when none is.
    int pvIndex(const std::string& uuid) const;
    // The LV named name; -1 when none is.
    int lvIndex(const std::string& name) const;
};

// The volume group of a parsed metadata text; false with the reason when
// the text names none or states it in a way that cannot be read.
bool readVolumeGroup(const LvmNode& root, LvmVolumeGroup& vg, std::string& message);

// A PV's UUID without the dashes the metadata text writes.
std::string lvmUuidWithoutDashes(const std::string& id);

}  // namespace ondrel
