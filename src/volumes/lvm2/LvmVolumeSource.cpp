#include "volumes/lvm2/LvmVolumeSource.h"

#include "volumes/lvm2/LvmSnapshotStore.h"
#include "volumes/lvm2/LvmThinMapping.h"

#include <algorithm>
#include <cstring>

namespace ondrel {

namespace {
// Hidden volumes inside hidden volumes: LVM nests two deep; a loop in the
// text stops here.
constexpr int kMaxNesting = 4;
}  // namespace

LvmVolumeSource::LvmVolumeSource(const LvmVolumeGroup& vg, const LvmLogicalVolume& lv,
                                 std::vector<std::shared_ptr<const ByteSource>> pvs) {
    Built built(vg.lvs.size());
    *this = LvmVolumeSource(vg, lv, pvs, 0, built);
}

LvmVolumeSource::LvmVolumeSource(const LvmVolumeGroup& vg, const LvmLogicalVolume& lv,
                                 const std::vector<std::shared_ptr<const ByteSource>>& pvs, int depth, Built& built) {
    const std::int64_t extentBytes = static_cast<std::int64_t>(vg.extentSectors) * 512;
    // The source of one stripe's area and the byte where its extents count from.
    auto area = [&](const LvmStripe& st, std::shared_ptr<const ByteSource>& source, bool& whole) {
        whole = false;
        if (!st.onLv) {
            source = st.pv < pvs.size() ? pvs[st.pv] : nullptr;
            whole = source != nullptr;
            return static_cast<std::int64_t>(vg.pvs[st.pv].peStartSectors) * 512;
        }
        source = nullptr;
        if (depth < kMaxNesting && st.pv < vg.lvs.size() && vg.lvs[st.pv].unreadable.empty()) {
            if (!built[st.pv]) built[st.pv] = std::make_shared<LvmVolumeSource>(vg, vg.lvs[st.pv], pvs, depth + 1, built);
            whole = built[st.pv]->whole();
            source = built[st.pv];
        }
        return std::int64_t{0};
    };
    for (const LvmSegment& s : lv.segments) {
        Segment seg;
        seg.start = static_cast<std::int64_t>(s.startExtent) * extentBytes;
        seg.length = static_cast<std::int64_t>(s.extentCount) * extentBytes;
        if (s.type == "thin") {
            // The pool's metadata LV maps the thin device's blocks onto its data LV.
            const LvmStripe& poolRef = s.stripes.front();
            const LvmLogicalVolume* pool = poolRef.pv < vg.lvs.size() ? &vg.lvs[poolRef.pv] : nullptr;
            if (!pool || pool->segments.empty() || pool->segments.front().type != "thin-pool" ||
                pool->segments.front().stripes.size() != 2) {
                problem_ = "Its thin pool " + poolRef.lvName + " is not one the metadata describes.";
            } else {
                std::shared_ptr<const ByteSource> meta, data;
                bool metaWhole = false, dataWhole = false;
                area(pool->segments.front().stripes[0], meta, metaWhole);
                area(pool->segments.front().stripes[1], data, dataWhole);
                ThinMapping mapping;
                std::string why;
                if (!meta || !data) {
                    problem_ = "Its thin pool's metadata or data cannot be read.";
                } else if (!readThinMapping(*meta, s.deviceId, mapping, why)) {
                    problem_ = why;
                } else {
                    whole_ = whole_ && metaWhole && dataWhole;
                    seg.stripes.emplace_back(std::make_shared<ThinVolumeSource>(data, std::move(mapping), seg.start + seg.length),
                                             seg.start);
                }
            }
        } else if (s.legs()) {
            // The first whole leg; the first leg when none is.
            std::size_t chosen = s.stripes.size();
            std::vector<std::pair<std::shared_ptr<const ByteSource>, std::int64_t>> legs;
            for (std::size_t k = 0; k < s.stripes.size(); ++k) {
                std::shared_ptr<const ByteSource> source;
                bool whole = false;
                const std::int64_t base = area(s.stripes[k], source, whole);
                legs.emplace_back(source, base + static_cast<std::int64_t>(s.stripes[k].startExtent) * extentBytes);
                if (whole && chosen == s.stripes.size()) chosen = k;
            }
            if (chosen == s.stripes.size()) {
                chosen = 0;
                whole_ = false;
            }
            if (!legs.empty()) seg.stripes.push_back(legs[chosen]);
            const LvmStripe& leg = s.stripes[chosen];
            std::string name = leg.onLv && leg.pv < vg.lvs.size() ? vg.lvs[leg.pv].name : "leg " + std::to_string(chosen);
            if (legsRead_.find(name) == std::string::npos) legsRead_ += (legsRead_.empty() ? "" : ", ") + name;
        } else {
            seg.stripeBytes = s.stripes.size() > 1 ? static_cast<std::int64_t>(s.stripeSectors) * 512 : 0;
            for (const LvmStripe& st : s.stripes) {
                std::shared_ptr<const ByteSource> source;
                bool whole = false;
                const std::int64_t base = area(st, source, whole);
                whole_ = whole_ && whole;
                seg.stripes.emplace_back(std::move(source), base + static_cast<std::int64_t>(st.startExtent) * extentBytes);
            }
        }
        if (seg.stripes.empty()) whole_ = false;
        size_ = std::max(size_, seg.start + seg.length);
        segments_.push_back(std::move(seg));
    }
    if (lv.snapshotOrigin >= 0) asSnapshot(vg, lv, area);
}

template <typename Area>
void LvmVolumeSource::asSnapshot(const LvmVolumeGroup& vg, const LvmLogicalVolume& lv, Area& area) {
    // What was built so far is the store; the volume becomes the origin as it was.
    auto store = std::make_shared<LvmVolumeSource>(*this);
    const LvmLogicalVolume& origin = vg.lvs[static_cast<std::size_t>(lv.snapshotOrigin)];
    std::shared_ptr<const ByteSource> originSource;
    bool originWhole = false;
    area(LvmStripe{static_cast<std::size_t>(lv.snapshotOrigin), 0, true, origin.name}, originSource, originWhole);
    const std::int64_t extentBytes = static_cast<std::int64_t>(vg.extentSectors) * 512;
    const std::int64_t size = static_cast<std::int64_t>(lv.snapshotExtents ? lv.snapshotExtents : origin.extents()) * extentBytes;
    SnapshotExceptions exceptions;
    std::string why;
    const bool read = readSnapshotExceptions(*store, lv.chunkSectors, size, exceptions, why);
    if (!originSource) {
        problem_ = "Its origin " + origin.name + " cannot be read.";
    } else if (!read) {
        problem_ = why;
    } else if (exceptions.invalid) {
        problem_ = "The snapshot was marked invalid (its copy-on-write store filled up): chunks changed after that read as the origin holds them now.";
    }
    whole_ = whole_ && originWhole;
    if (!exceptions.used && read)
        note_ = "Its copy-on-write store was never written: it reads as its origin " + origin.name + ".";
    else if (read)
        note_ = "A snapshot of " + origin.name + ": " + std::to_string(exceptions.map.size()) +
                " chunks changed since it was taken are read from its copy-on-write store.";
    if (exceptions.chunkSectors == 0) exceptions.chunkSectors = 8;
    segments_.clear();
    Segment seg;
    seg.length = size;
    seg.stripes.emplace_back(std::make_shared<SnapshotSource>(originSource, store, std::move(exceptions), size), 0);
    segments_.push_back(std::move(seg));
    size_ = size;
}

bool LvmVolumeSource::readSegment(const Segment& s, std::int64_t offset, std::uint8_t* out, std::size_t length) const {
    if (s.stripes.empty()) {
        std::memset(out, 0, length);
        return false;
    }
    bool ok = true;
    while (length > 0) {
        const ByteSource* source = s.stripes[0].first.get();
        std::int64_t at = s.stripes[0].second + offset;
        std::size_t n = length;
        if (s.stripeBytes > 0) {
            // Chunk c of the segment lies in stripe c % N, row c / N of it.
            const std::int64_t chunk = offset / s.stripeBytes, within = offset % s.stripeBytes;
            const auto stripes = static_cast<std::int64_t>(s.stripes.size());
            const auto& stripe = s.stripes[static_cast<std::size_t>(chunk % stripes)];
            source = stripe.first.get();
            at = stripe.second + (chunk / stripes) * s.stripeBytes + within;
            n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(length), s.stripeBytes - within));
        }
        if (!source || !source->readAt(at, out, n)) {
            if (!source) std::memset(out, 0, n);
            ok = false;
        }
        out += n;
        offset += static_cast<std::int64_t>(n);
        length -= n;
    }
    return ok;
}

bool LvmVolumeSource::readAt(std::int64_t offset, void* buffer, std::size_t length) const {
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (offset < 0) return false;
    bool ok = true;
    while (length > 0) {
        // The segment holding offset, or the gap before the next one.
        auto next = std::upper_bound(segments_.begin(), segments_.end(), offset,
                                     [](std::int64_t o, const Segment& s) { return o < s.start; });
        const Segment* in = next != segments_.begin() && offset < std::prev(next)->start + std::prev(next)->length
                                ? &*std::prev(next)
                                : nullptr;
        const std::int64_t stop = in ? in->start + in->length : next != segments_.end() ? next->start : offset + static_cast<std::int64_t>(length);
        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(length), stop - offset));
        if (in) {
            ok = readSegment(*in, offset - in->start, out, n) && ok;
        } else {
            std::memset(out, 0, n);
            ok = false;
        }
        out += n;
        offset += static_cast<std::int64_t>(n);
        length -= n;
    }
    return ok;
}

}  // namespace ondrel
