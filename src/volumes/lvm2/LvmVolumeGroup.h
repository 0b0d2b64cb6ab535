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

struct LvmStripe {
    std::size_t pv = 0;  // index in LvmVolumeGroup::pvs
    std::uint64_t startExtent = 0;
};

struct LvmSegment {
    std::uint64_t startExtent = 0, extentCount = 0;
    std::string type;  // "striped" (linear is one stripe), "mirror", "raid1", "thin", ...
    std::uint64_t stripeSectors = 0;
    std::vector<LvmStripe> stripes;
};

struct LvmLogicalVolume {
    std::string name, id;
    bool visible = true;  // hidden sub-volumes (mirror legs, pool data) are not listed
    std::vector<LvmSegment> segments;
    // "" when the LV is read through its segments; otherwise why it is not.
    std::string unreadable;
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
};

// The volume group of a parsed metadata text; false with the reason when
// the text names none or states it in a way that cannot be read.
bool readVolumeGroup(const LvmNode& root, LvmVolumeGroup& vg, std::string& message);

}  // namespace ondrel
