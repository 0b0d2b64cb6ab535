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

// One segment; false with why it cannot be read (the LV is then listed as unreadable).
bool readSegment(const LvmNode& s, const LvmVolumeGroup& vg, LvmSegment& seg, std::string& why) {
    const std::int64_t start = s.numberOf("start_extent", -1), count = s.numberOf("extent_count", -1);
    seg.type = s.stringOf("type");
    if (start < 0 || count <= 0 || static_cast<std::uint64_t>(start) > kMaxSectors / vg.extentSectors ||
        static_cast<std::uint64_t>(count) > kMaxSectors / vg.extentSectors) {
        why = "a segment has no extents it can hold";
        return false;
    }
    seg.startExtent = static_cast<std::uint64_t>(start);
    seg.extentCount = static_cast<std::uint64_t>(count);
    if (seg.type != "striped") {
        why = "segments of type \"" + seg.type + "\" are not read";
        return false;
    }
    const std::int64_t stripes = s.numberOf("stripe_count", -1);
    const LvmNode* list = s.child("stripes");
    if (stripes < 1 || static_cast<std::size_t>(stripes) > kMaxStripes || !list || list->kind != LvmNode::Kind::Array ||
        list->items.size() != static_cast<std::size_t>(stripes) * 2) {
        why = "a segment's stripes are not stated as its stripe count says";
        return false;
    }
    seg.stripeSectors = stripes > 1 ? static_cast<std::uint64_t>(std::max<std::int64_t>(s.numberOf("stripe_size", 0), 0)) : 0;
    if (stripes > 1 && (seg.stripeSectors == 0 || seg.extentCount % static_cast<std::uint64_t>(stripes) != 0)) {
        why = "a striped segment has no stripe size, or extents that do not divide among its stripes";
        return false;
    }
    for (std::size_t k = 0; k < list->items.size(); k += 2) {
        const LvmNode& name = list->items[k];
        const LvmNode& first = list->items[k + 1];
        if (name.kind != LvmNode::Kind::String || first.kind != LvmNode::Kind::Number || first.number < 0) {
            why = "a stripe is not a physical volume and an extent";
            return false;
        }
        auto pv = std::find_if(vg.pvs.begin(), vg.pvs.end(), [&](const LvmPhysicalVolumeEntry& p) { return p.key == name.text; });
        if (pv == vg.pvs.end()) {
            why = "a stripe names the physical volume \"" + name.text + "\", which the group does not list";
            return false;
        }
        LvmStripe stripe{static_cast<std::size_t>(pv - vg.pvs.begin()), static_cast<std::uint64_t>(first.number)};
        const std::uint64_t perStripe = seg.extentCount / static_cast<std::uint64_t>(stripes);
        if (stripe.startExtent > pv->peCount || perStripe > pv->peCount - stripe.startExtent) {
            why = "a segment reaches past the extents of " + pv->key;
            return false;
        }
        seg.stripes.push_back(stripe);
    }
    return true;
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
                if (!readSegment(s, vg, seg, why)) {
                    if (lv.unreadable.empty()) lv.unreadable = why;
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
    return true;
}

}  // namespace ondrel
