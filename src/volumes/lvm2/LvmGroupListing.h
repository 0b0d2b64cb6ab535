#pragma once
// What LVM2 keeps while the disks of one discovery are listed, and the listing
// of a volume group's logical volumes once its physical volumes are known:
// each visible LV (an unread type named, never zeros), and with earlier
// layouts asked for, the LVs older copies of the metadata describe that the
// current one does not (removed or resized), with a note when their extents
// are in use again.
#include "volumes/VolumeSystem.h"
#include "volumes/lvm2/LvmVolumeGroup.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ondrel {

struct LvmSeenVolume {
    std::shared_ptr<const ByteSource> source;  // the whole physical volume
    int record = -1;                           // the record it was listed as (-1: a disk)
    int disk = 0;
    std::uint64_t size = 0;
};

struct LvmSeenGroup {
    LvmVolumeGroup vg;  // the newest copy any of its PVs holds
    std::map<std::int64_t, LvmVolumeGroup> earlier;  // older copies, by sequence number
    bool listed = false;
};

struct LvmDiscoveryState : VolumeSystemState {
    std::map<std::string, LvmSeenVolume> pvs;    // by UUID without dashes
    std::map<std::string, LvmSeenGroup> groups;  // by the group's id
};

// Whether every PV of group is in state.
bool groupComplete(const LvmDiscoveryState& state, const LvmSeenGroup& group);

// Reports the group's volumes through context.reportUnder and marks it listed.
void listGroup(LvmDiscoveryState& state, LvmSeenGroup& group, DiscoveryContext& context);

}  // namespace ondrel
