#include "diskimage/DamageLog.h"

#include <iterator>

namespace ondrel {

void DamageLog::note(std::uint64_t offset, std::uint64_t length, const std::string& reason) {
    if (length == 0) return;
    std::uint64_t end = offset + length < offset ? ~std::uint64_t(0) : offset + length;
    std::lock_guard lock(mutex_);
    // Join every range with the same reason that overlaps or touches this one.
    auto it = ranges_.upper_bound(offset);
    if (it != ranges_.begin()) {
        auto before = std::prev(it);
        if (before->second.end >= offset) it = before;
    }
    while (it != ranges_.end() && it->second.first <= end) {
        if (it->second.reason != reason) {
            ++it;
            continue;
        }
        offset = std::min(offset, it->second.first);
        end = std::max(end, it->second.end);
        it = ranges_.erase(it);
    }
    if (ranges_.size() >= kMaxRanges) {
        ++dropped_;
        return;
    }
    ranges_.emplace(offset, DamagedRange{offset, end, reason});  // another reason already noted there stays
}

std::vector<DamagedRange> DamageLog::ranges() const {
    std::lock_guard lock(mutex_);
    std::vector<DamagedRange> out;
    out.reserve(ranges_.size());
    for (const auto& [first, r] : ranges_) out.push_back(r);
    return out;
}

bool DamageLog::empty() const {
    std::lock_guard lock(mutex_);
    return ranges_.empty() && dropped_ == 0;
}

std::vector<std::string> DamageLog::describe(std::size_t limit) const {
    std::vector<DamagedRange> all = ranges();
    std::uint64_t more = 0;
    {
        std::lock_guard lock(mutex_);
        more = dropped_;
    }
    std::vector<std::string> out;
    for (const DamagedRange& r : all) {
        if (out.size() >= limit) {
            ++more;
            continue;
        }
        std::uint64_t first = r.first / 512, last = (r.end - 1) / 512;
        out.push_back((first == last ? "sector " + std::to_string(first)
                                     : "sectors " + std::to_string(first) + "\u2013" + std::to_string(last)) +
                      " could not be read: " + r.reason);
    }
    if (more > 0) out.push_back("... and " + std::to_string(more) + " more damaged stretches.");
    return out;
}

}  // namespace ondrel
