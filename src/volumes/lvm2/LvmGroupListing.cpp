#include "volumes/lvm2/LvmGroupListing.h"

#include "volumes/TableSector.h"
#include "volumes/VolumeRecord.h"
#include "volumes/lvm2/LvmVolumeSource.h"

#include <cstring>
#include <set>
#include <tuple>

namespace ondrel {

namespace {
constexpr int kMaxNesting = 4;

// An LV of a type not read: listed with its size, every read fails (it must
// never pass for a volume of zeros).
class UnreadVolume : public ByteSource {
public:
    explicit UnreadVolume(std::int64_t size) : size_(size) {}
    bool readAt(std::int64_t, void* buffer, std::size_t length) const override {
        std::memset(buffer, 0, length);
        return false;
    }
    std::int64_t size() const override { return size_; }

private:
    std::int64_t size_;
};

// The PV and extent an LV's data starts on, through the hidden LVs it names.
bool firstExtent(const LvmVolumeGroup& vg, const LvmLogicalVolume& lv, std::size_t& pv, std::uint64_t& extent, int depth = 0) {
    // A thin volume's blocks lie anywhere in its pool: it has no first extent to show.
    if (depth > kMaxNesting || lv.segments.empty() || lv.segments.front().stripes.empty() || lv.segments.front().type == "thin")
        return false;
    const LvmStripe& st = lv.segments.front().stripes.front();
    if (!st.onLv) {
        pv = st.pv;
        extent = st.startExtent;
        return true;
    }
    return st.pv < vg.lvs.size() && firstExtent(vg, vg.lvs[st.pv], pv, extent, depth + 1);
}

// The PV extents (PV id, first, end) an LV's data may occupy, hidden LVs included.
using ExtentRange = std::tuple<std::string, std::uint64_t, std::uint64_t>;
void extentRanges(const LvmVolumeGroup& vg, const LvmLogicalVolume& lv, std::vector<ExtentRange>& out, int depth = 0) {
    if (depth > kMaxNesting) return;
    for (const LvmSegment& s : lv.segments) {
        const std::uint64_t perStripe = s.legs() || s.stripes.empty() ? s.extentCount : s.extentCount / s.stripes.size();
        for (const LvmStripe& st : s.stripes) {
            if (st.onLv) {
                if (st.pv < vg.lvs.size()) extentRanges(vg, vg.lvs[st.pv], out, depth + 1);
            } else {
                out.emplace_back(vg.pvs[st.pv].id, st.startExtent, st.startExtent + perStripe);
            }
        }
    }
}

// What a layout is, comparable between copies of the metadata (PVs by id).
std::string layoutKey(const LvmVolumeGroup& vg, const LvmLogicalVolume& lv) {
    std::vector<ExtentRange> ranges;
    extentRanges(vg, lv, ranges);
    std::string key = lv.name + "|" + std::to_string(vg.extentSectors);
    for (const LvmSegment& s : lv.segments) key += "|" + s.type + ":" + std::to_string(s.startExtent) + "+" + std::to_string(s.extentCount);
    for (const auto& [id, first, end] : ranges) key += "|" + id + "@" + std::to_string(first) + "-" + std::to_string(end);
    return key;
}

std::string pvName(const LvmVolumeGroup& vg, std::size_t pv) { return vg.pvs[pv].key + " (" + vg.pvs[pv].id + ")"; }

struct Placed {
    int record = -1, disk = 0;
    std::int64_t startByte = 0;
};

// Where the LV is listed: under the record of the PV its first extent lies
// on, else under the first PV of the group at hand.
Placed placeOf(const LvmDiscoveryState& state, const LvmVolumeGroup& vg, const LvmLogicalVolume& lv) {
    Placed p;
    std::size_t pv = 0;
    std::uint64_t extent = 0;
    if (firstExtent(vg, lv, pv, extent)) {
        auto at = state.pvs.find(lvmUuidWithoutDashes(vg.pvs[pv].id));
        if (at != state.pvs.end()) {
            p.record = at->second.record;
            p.disk = at->second.disk;
            p.startByte = static_cast<std::int64_t>((vg.pvs[pv].peStartSectors + extent * vg.extentSectors) * 512);
            return p;
        }
    }
    for (const LvmPhysicalVolumeEntry& e : vg.pvs)
        if (auto at = state.pvs.find(lvmUuidWithoutDashes(e.id)); at != state.pvs.end()) {
            p.record = at->second.record;
            p.disk = at->second.disk;
            return p;
        }
    return p;
}

void report(const LvmDiscoveryState& state, const LvmVolumeGroup& vg, const LvmLogicalVolume& lv,
            const std::vector<std::shared_ptr<const ByteSource>>& pvs, const std::string& label, const std::string& listedBy,
            std::string note, DiscoveryContext& c) {
    ListedVolume v;
    const Placed place = placeOf(state, vg, lv);
    v.listedBy = listedBy;
    v.label = label;
    v.startByte = place.startByte;
    if (!lv.unreadable.empty()) {
        // Listed with its type so the user knows it is there; nothing is read from it.
        v.source = std::make_shared<UnreadVolume>(static_cast<std::int64_t>(lv.statedExtents * vg.extentSectors * 512));
        v.fileSystem = "LVM2 " + (lv.unreadType.empty() ? std::string("(damaged)") : lv.unreadType);
        note = label + " is not read: " + lv.unreadable + "." + (note.empty() ? "" : " " + note);
        v.startByte = 0;
    } else {
        auto source = std::make_shared<LvmVolumeSource>(vg, lv, pvs);
        if (!source->legsRead().empty())
            note += (note.empty() ? "" : " ") + std::string("Of its mirrored legs, ") + source->legsRead() + " is read.";
        if (!source->note().empty()) note += (note.empty() ? "" : " ") + source->note();
        if (!source->problem().empty())
            note += (note.empty() ? "" : " ") + source->problem();
        v.incomplete = !source->whole() || !source->problem().empty();
        if (!source->whole())
            note += (note.empty() ? "" : " ") +
                    std::string("Part of it lies on a missing physical volume; that part reads as zeros and counts as damage.");
        v.source = std::move(source);
        std::vector<FileSystemClaim> claims = claimsOnVolume(*v.source, 0, c.probes);
        v.fileSystem = !claims.empty() && claims.front().probe->listed ? claims.front().probe->name : kUnknownFileSystem;
    }
    v.lengthBytes = v.source->size();
    v.sizeText = listText("%lld  MB", bytesToMegabytes(v.lengthBytes));
    v.note = std::move(note);
    c.observer.status("found " + label + "...");
    if (c.reportUnder) c.reportUnder(std::move(v), place.record, place.disk);
    else c.report(std::move(v));
}
}  // namespace

bool groupComplete(const LvmDiscoveryState& state, const LvmSeenGroup& group) {
    for (const LvmPhysicalVolumeEntry& e : group.vg.pvs)
        if (!state.pvs.count(lvmUuidWithoutDashes(e.id))) return false;
    return true;
}

void listGroup(LvmDiscoveryState& state, LvmSeenGroup& group, DiscoveryContext& c) {
    group.listed = true;
    const LvmVolumeGroup& vg = group.vg;
    auto sourcesOf = [&](const LvmVolumeGroup& g) {
        std::vector<std::shared_ptr<const ByteSource>> pvs(g.pvs.size());
        for (std::size_t i = 0; i < g.pvs.size(); ++i)
            if (auto at = state.pvs.find(lvmUuidWithoutDashes(g.pvs[i].id)); at != state.pvs.end()) pvs[i] = at->second.source;
        return pvs;
    };
    const std::vector<std::shared_ptr<const ByteSource>> pvs = sourcesOf(vg);
    std::string missing;
    for (std::size_t i = 0; i < vg.pvs.size(); ++i)
        if (!pvs[i]) missing += (missing.empty() ? "" : ", ") + pvName(vg, i);
    if (!missing.empty())
        c.observer.message("LVM2: the volume group " + vg.name + " misses its physical volume " + missing +
                           "; what lies on it reads as zeros and counts as damage (give the disk that holds it as a further image).");
    std::set<std::string> current;
    std::vector<std::pair<std::string, ExtentRange>> inUse;  // every current LV's extents, hidden ones too
    for (const LvmLogicalVolume& lv : vg.lvs) {
        current.insert(layoutKey(vg, lv));
        // A visible LV's ranges take in those of its hidden legs and images.
        if (!lv.visible) continue;
        std::vector<ExtentRange> ranges;
        extentRanges(vg, lv, ranges);
        for (const ExtentRange& r : ranges) inUse.emplace_back(lv.name, r);
    }
    for (const LvmLogicalVolume& lv : vg.lvs) {
        if (c.control.stopRequested()) return;
        if (lv.visible) report(state, vg, lv, pvs, vg.name + "/" + lv.name, "LVM2", "", c);
    }
    if (!c.earlierLayouts) return;
    std::string seqnos;
    for (const auto& [seqno, copy] : group.earlier) seqnos += std::to_string(seqno) + ", ";
    c.observer.message("LVM2: the volume group " + vg.name + " keeps " +
                       (group.earlier.empty() ? std::string("no earlier copy of its metadata")
                                              : "earlier copies of its metadata: seqno " + seqnos) +
                       (group.earlier.empty() ? "" : "and ") + "the current seqno " + std::to_string(vg.seqno) + ".");
    // The newest copy first: an LV removed after many changes is listed as it last was.
    std::set<std::string> shown = current;
    for (auto it = group.earlier.rbegin(); it != group.earlier.rend(); ++it) {
        const LvmVolumeGroup& old = it->second;
        const std::vector<std::shared_ptr<const ByteSource>> oldPvs = sourcesOf(old);
        for (const LvmLogicalVolume& lv : old.lvs) {
            if (!lv.visible || !shown.insert(layoutKey(old, lv)).second) continue;
            std::vector<ExtentRange> ranges;
            extentRanges(old, lv, ranges);
            std::set<std::string> overlaps;
            for (const auto& [a, b, e] : ranges)
                for (const auto& [name, r] : inUse)
                    if (std::get<0>(r) == a && std::get<1>(r) < e && b < std::get<2>(r)) overlaps.insert(name);
            std::string note = "An earlier layout (metadata seqno " + std::to_string(old.seqno) + ")" +
                               (vg.lvIndex(lv.name) >= 0 ? " of a volume the current one sizes or places otherwise." : " of a volume the current metadata no longer lists.");
            if (overlaps.size() == 1 && *overlaps.begin() == lv.name) {
                note += " Its extents are the current " + vg.name + "/" + lv.name + "'s (the same volume, since resized or moved).";
            } else if (!overlaps.empty()) {
                std::string names;
                for (const std::string& n : overlaps) names += (names.empty() ? "" : ", ") + vg.name + "/" + n;
                note += " Its extents overlap the current " + names + ": what they hold may have been written over.";
            }
            report(state, old, lv, oldPvs, vg.name + "/" + lv.name + " (seqno " + std::to_string(old.seqno) + ")",
                   "LVM2 history", note, c);
        }
    }
}

}  // namespace ondrel
