#include "volumes/lvm2/LvmVolumeSource.h"

#include <algorithm>
#include <cstring>

namespace ondrel {

LvmVolumeSource::LvmVolumeSource(const LvmVolumeGroup& vg, const LvmLogicalVolume& lv,
                                 std::vector<std::shared_ptr<const ByteSource>> pvs)
    : pvs_(std::move(pvs)) {
    const std::int64_t extentBytes = static_cast<std::int64_t>(vg.extentSectors) * 512;
    for (const LvmSegment& s : lv.segments) {
        Segment seg;
        seg.start = static_cast<std::int64_t>(s.startExtent) * extentBytes;
        seg.length = static_cast<std::int64_t>(s.extentCount) * extentBytes;
        seg.stripeBytes = s.stripes.size() > 1 ? static_cast<std::int64_t>(s.stripeSectors) * 512 : 0;
        for (const LvmStripe& st : s.stripes)
            seg.stripes.emplace_back(st.pv, static_cast<std::int64_t>(vg.pvs[st.pv].peStartSectors) * 512 +
                                                static_cast<std::int64_t>(st.startExtent) * extentBytes);
        size_ = std::max(size_, seg.start + seg.length);
        segments_.push_back(std::move(seg));
    }
}

bool LvmVolumeSource::readSegment(const Segment& s, std::int64_t offset, std::uint8_t* out, std::size_t length) const {
    bool ok = true;
    while (length > 0) {
        std::size_t pv = s.stripes[0].first;
        std::int64_t at = s.stripes[0].second + offset;
        std::size_t n = length;
        if (s.stripeBytes > 0) {
            // Chunk c of the segment lies in stripe c % N, row c / N of it.
            const std::int64_t chunk = offset / s.stripeBytes, within = offset % s.stripeBytes;
            const auto stripes = static_cast<std::int64_t>(s.stripes.size());
            const auto& stripe = s.stripes[static_cast<std::size_t>(chunk % stripes)];
            pv = stripe.first;
            at = stripe.second + (chunk / stripes) * s.stripeBytes + within;
            n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(length), s.stripeBytes - within));
        }
        const std::shared_ptr<const ByteSource>& source = pv < pvs_.size() ? pvs_[pv] : nullptr;
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
