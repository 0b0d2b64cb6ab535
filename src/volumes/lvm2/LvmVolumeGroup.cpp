#include "volumes/lvm2/LvmVolumeGroup.h"

#include <algorithm>

namespace ondrel {

namespace {
// Bounds: no disk holds more extents than this many sectors allow.
constexpr std::uint64_t kMaxSectors = std::uint64_t(1) << 55;
constexpr std::size_t kMaxStripes = 128;

bool hasFlag(const LvmNode& section, const char* key, const char* flag) {
    const LvmNode* a = section.child(key);
    if (!a || a->kind != LvmNode::Kind::Array) return false;
    for (const LvmNode& e : a->items)
        if (e.kind == LvmNode::Kind::String && e.text == flag) return true;
    return false;
}

std::string noDashes(const std::string& id) {
    std::string out;
    for (char c : id)
        if (c != '-') out.push_back(c);
    return out;
}

// A stripe on a physical volume: its name and first extent.
bool pvStripe(const LvmNode& name, const LvmNode& first, const LvmVolumeGroup& vg, std::uint64_t perStripe,
              LvmStripe& stripe, std::string& why) {
    if (name.kind != LvmNode::Kind::String || first.kind != LvmNode::Kind::Number || first.number < 0) {
        why = "a stripe is not a physical volume and an extent";
        return false;
    }
    auto pv = std::find_if(vg.pvs.begin(), vg.pvs.end(), [&](const LvmPhysicalVolumeEntry& p) { return p.key == name.text; });
    if (pv == vg.pvs.end()) {
        why = "a stripe names the physical volume \"" + name.text + "\", which the group does not list";
        return false;
    }
    stripe = {static_cast<std::size_t>(pv - vg.pvs.begin()), static_cast<std::uint64_t>(first.number), false, {}};
    if (stripe.startExtent > pv->peCount || perStripe > pv->peCount - stripe.startExtent) {
        why = "a segment reaches past the extents of " + pv->key;
        return false;
    }
    return true;
}

// The named hidden LVs of a mirror or RAID segment: every step-th item of
// key's array from first, each with the extent after it (withExtents) or at
// extent.
bool lvStripes(const LvmNode& s, const char* key, std::size_t count, std::size_t step, std::size_t first,
               bool withExtents, std::uint64_t extent, LvmSegment& seg, std::string& why) {
    const LvmNode* list = s.child(key);
    if (count < 1 || count > kMaxStripes || !list || list->kind != LvmNode::Kind::Array || list->items.size() != count * step) {
        why = std::string("a segment's ") + key + " are not stated as its count says";
        return false;
    }
    for (std::size_t k = first; k < list->items.size(); k += step) {
        const LvmNode& name = list->items[k];
        LvmStripe stripe{0, extent, true, name.text};
        if (withExtents) {
            const LvmNode& at = list->items[k + 1];
            if (at.kind != LvmNode::Kind::Number || at.number < 0) {
                why = "a mirror leg has no extent";
                return false;
            }
            stripe.startExtent = static_cast<std::uint64_t>(at.number);
        }
        if (name.kind != LvmNode::Kind::String || name.text.empty()) {
            why = std::string("an entry of ") + key + " names no logical volume";
            return false;
        }
        seg.stripes.push_back(std::move(stripe));
    }
    return true;
}

// One segment; false with why it cannot be read (the LV is then listed as unreadable).
bool readSegment(const LvmNode& s, const LvmVolumeGroup& vg, LvmSegment& seg, std::string& why, bool& typeNotRead) {
    const std::int64_t start = s.numberOf("start_extent", -1), count = s.numberOf("extent_count", -1);
    seg.type = s.stringOf("type");
    typeNotRead = false;
    if (start < 0 || count <= 0 || static_cast<std::uint64_t>(start) > kMaxSectors / vg.extentSectors ||
        static_cast<std::uint64_t>(count) > kMaxSectors / vg.extentSectors) {
        why = "a segment has no extents it can hold";
        return false;
    }
    seg.startExtent = static_cast<std::uint64_t>(start);
    seg.extentCount = static_cast<std::uint64_t>(count);
    const bool raid0 = seg.type == "raid0" || seg.type == "raid0_meta";
    if (seg.type == "mirror")
        return lvStripes(s, "mirrors", static_cast<std::size_t>(std::max<std::int64_t>(s.numberOf("mirror_count", 0), 0)), 2,
                         0, true, 0, seg, why);
    if (seg.type == "raid1")
        // Each image holds the LV's extents at their own numbers.
        return lvStripes(s, "raids", static_cast<std::size_t>(std::max<std::int64_t>(s.numberOf("device_count", 0), 0)), 2,
                         1, false, seg.startExtent, seg, why);
    if (seg.type == "thin-pool" || seg.type == "thin") {
        const bool pool = seg.type == "thin-pool";
        static const std::vector<const char*> poolKeys{"metadata", "pool"}, thinKeys{"thin_pool"};
        for (const char* key : pool ? poolKeys : thinKeys) {
            const std::string name = s.stringOf(key);
            if (name.empty()) {
                why = "a " + seg.type + " segment names no " + key;
                return false;
            }
            seg.stripes.push_back({0, 0, true, name});
        }
        const std::int64_t device = s.numberOf("device_id", -1);
        if (!pool && device < 0) {
            why = "a thin segment names no device";
            return false;
        }
        seg.deviceId = static_cast<std::uint64_t>(std::max<std::int64_t>(device, 0));
        return true;
    }
    if (seg.type != "striped" && !raid0) {
        why = "segments of type \"" + seg.type + "\" are not read";
        typeNotRead = true;
        return false;
    }
    const std::int64_t stripes = s.numberOf(raid0 ? "device_count" : "stripe_count", raid0 ? s.numberOf("stripe_count", -1) : -1);
    if (stripes < 1 || static_cast<std::size_t>(stripes) > kMaxStripes) {
        why = "a segment states no stripe count it can hold";
        return false;
    }
    seg.stripeSectors = stripes > 1 ? static_cast<std::uint64_t>(std::max<std::int64_t>(s.numberOf("stripe_size", 0), 0)) : 0;
    if (stripes > 1 && (seg.stripeSectors == 0 || seg.extentCount % static_cast<std::uint64_t>(stripes) != 0)) {
        why = "a striped segment has no stripe size, or extents that do not divide among its stripes";
        return false;
    }
    const std::uint64_t perStripe = seg.extentCount / static_cast<std::uint64_t>(stripes);
    if (raid0) {
        // Each image holds its share of the segment, from its share of the
        // segment's start; raid0 lists the images alone, raid0_meta pairs them.
        const bool meta = seg.type == "raid0_meta";
        return lvStripes(s, meta ? "raids" : "raid0_lvs", static_cast<std::size_t>(stripes), meta ? 2 : 1, meta ? 1 : 0, false,
                         seg.startExtent / static_cast<std::uint64_t>(stripes), seg, why);
    }
    const LvmNode* list = s.child("stripes");
    if (!list || list->kind != LvmNode::Kind::Array || list->items.size() != static_cast<std::size_t>(stripes) * 2) {
        why = "a segment's stripes are not stated as its stripe count says";
        return false;
    }
    for (std::size_t k = 0; k < list->items.size(); k += 2) {
        LvmStripe stripe;
        if (!pvStripe(list->items[k], list->items[k + 1], vg, perStripe, stripe, why)) return false;
        seg.stripes.push_back(stripe);
    }
    return true;
}

// A classic snapshot as its "snapshotN" LV states it.
struct SnapshotTie {
    std::string cow, origin;
    std::uint64_t extents = 0, chunkSectors = 0;
};

// Hidden LVs named by segments are found by name once all are read.
void resolveNames(LvmVolumeGroup& vg, const std::vector<SnapshotTie>& snapshots) {
    for (LvmLogicalVolume& lv : vg.lvs)
        for (LvmSegment& seg : lv.segments)
            for (LvmStripe& st : seg.stripes) {
                if (!st.onLv) continue;
                const int at = vg.lvIndex(st.lvName);
                if (at < 0 || vg.lvs[static_cast<std::size_t>(at)].name == lv.name) {
                    if (lv.unreadable.empty()) lv.unreadable = "a segment names the logical volume \"" + st.lvName + "\", which the group does not list";
                    continue;
                }
                st.pv = static_cast<std::size_t>(at);
            }
    // A thin pool is the store its thin volumes are read from, not a volume of its own.
    for (LvmLogicalVolume& lv : vg.lvs)
        if (!lv.segments.empty() && lv.segments.front().type == "thin-pool" && lv.unreadable.empty()) {
            lv.unreadable = "it is a thin pool; its thin volumes are listed each on its own";
            lv.unreadType = "thin-pool";
        }
    // The store of a snapshot is listed under its own name (LVM hides it in
    // the text and shows it by that name); the "snapshotN" LV that ties it
    // to its origin is not a volume of its own.
    for (const SnapshotTie& tie : snapshots) {
        const int at = vg.lvIndex(tie.cow), origin = vg.lvIndex(tie.origin);
        if (at < 0) continue;
        LvmLogicalVolume& lv = vg.lvs[static_cast<std::size_t>(at)];
        lv.visible = true;
        if (!lv.unreadable.empty()) continue;
        if (origin < 0 || origin == at || vg.lvs[static_cast<std::size_t>(origin)].snapshotOrigin >= 0) {
            lv.unreadable = "it is a snapshot of \"" + tie.origin + "\", which the group does not list as a volume it can read";
            lv.unreadType = "snapshot";
            continue;
        }
        lv.snapshotOrigin = origin;
        lv.snapshotExtents = tie.extents;
        lv.chunkSectors = tie.chunkSectors;
    }
}
}  // namespace

std::uint64_t LvmLogicalVolume::extents() const {
    std::uint64_t n = 0;
    for (const LvmSegment& s : segments) n = std::max(n, s.startExtent + s.extentCount);
    return n;
}

int LvmVolumeGroup::pvIndex(const std::string& uuid) const {
    for (std::size_t i = 0; i < pvs.size(); ++i)
        if (noDashes(pvs[i].id) == uuid) return static_cast<int>(i);
    return -1;
}

int LvmVolumeGroup::lvIndex(const std::string& name) const {
    for (std::size_t i = 0; i < lvs.size(); ++i)
        if (lvs[i].name == name) return static_cast<int>(i);
    return -1;
}

std::string lvmUuidWithoutDashes(const std::string& id) { return noDashes(id); }

bool readVolumeGroup(const LvmNode& root, LvmVolumeGroup& vg, std::string& message) {
    vg = {};
    const LvmNode* group = nullptr;
    for (const LvmNode& n : root.items)
        if (n.kind == LvmNode::Kind::Section && n.child("physical_volumes")) group = &n;
    if (!group) {
        message = "The metadata text describes no volume group.";
        return false;
    }
    vg.name = group->name;
    vg.id = group->stringOf("id");
    vg.seqno = group->numberOf("seqno", 0);
    const std::int64_t extent = group->numberOf("extent_size", 0);
    if (extent <= 0 || static_cast<std::uint64_t>(extent) > kMaxSectors) {
        message = "The volume group " + vg.name + " states no extent size.";
        return false;
    }
    vg.extentSectors = static_cast<std::uint64_t>(extent);
    for (const LvmNode& p : group->child("physical_volumes")->items) {
        if (p.kind != LvmNode::Kind::Section) continue;
        LvmPhysicalVolumeEntry e{p.name, p.stringOf("id"), 0, 0};
        const std::int64_t peStart = p.numberOf("pe_start", -1), peCount = p.numberOf("pe_count", 0);
        if (peStart < 0 || peCount < 0 || static_cast<std::uint64_t>(peCount) > kMaxSectors / vg.extentSectors ||
            static_cast<std::uint64_t>(peStart) > kMaxSectors) {
            message = "The physical volume " + p.name + " of " + vg.name + " states no extents it can hold.";
            return false;
        }
        e.peStartSectors = static_cast<std::uint64_t>(peStart);
        e.peCount = static_cast<std::uint64_t>(peCount);
        vg.pvs.push_back(std::move(e));
    }
    std::vector<SnapshotTie> snapshots;
    if (const LvmNode* lvs = group->child("logical_volumes")) {
        for (const LvmNode& l : lvs->items) {
            if (l.kind != LvmNode::Kind::Section) continue;
            LvmLogicalVolume lv;
            lv.name = l.name;
            lv.id = l.stringOf("id");
            lv.visible = hasFlag(l, "status", "VISIBLE");
            for (const LvmNode& s : l.items) {
                if (s.kind != LvmNode::Kind::Section || s.name.rfind("segment", 0) != 0) continue;
                LvmSegment seg;
                std::string why;
                bool typeNotRead = false;
                if (seg.type = s.stringOf("type"); seg.type == "snapshot") {
                    const std::int64_t count = s.numberOf("extent_count", 0), chunk = s.numberOf("chunk_size", 0);
                    snapshots.push_back({s.stringOf("cow_store"), s.stringOf("origin"),
                                         count > 0 && static_cast<std::uint64_t>(count) <= kMaxSectors / vg.extentSectors
                                             ? static_cast<std::uint64_t>(count)
                                             : 0,
                                         chunk > 0 ? static_cast<std::uint64_t>(chunk) : 0});
                    lv.visible = false;
                    continue;
                }
                const bool ok = readSegment(s, vg, seg, why, typeNotRead);
                if (seg.extentCount > 0) lv.statedExtents = std::max(lv.statedExtents, seg.startExtent + seg.extentCount);
                if (!ok) {
                    if (lv.unreadable.empty()) {
                        lv.unreadable = why;
                        if (typeNotRead) lv.unreadType = seg.type;
                    }
                    continue;
                }
                lv.segments.push_back(std::move(seg));
            }
            std::sort(lv.segments.begin(), lv.segments.end(),
                      [](const LvmSegment& a, const LvmSegment& b) { return a.startExtent < b.startExtent; });
            for (std::size_t k = 1; k < lv.segments.size() && lv.unreadable.empty(); ++k)
                if (lv.segments[k].startExtent < lv.segments[k - 1].startExtent + lv.segments[k - 1].extentCount)
                    lv.unreadable = "its segments overlap";
            if (lv.segments.empty() && lv.unreadable.empty()) lv.unreadable = "it has no segments";
            vg.lvs.push_back(std::move(lv));
        }
    }
    resolveNames(vg, snapshots);
    return true;
}

}  // namespace ondrel
