#include "volumes/ByteRuns.h"

#include <algorithm>
#include <cstring>

namespace ondrel {

ByteRunsSource::ByteRunsSource(std::shared_ptr<const ByteSource> parent, std::vector<ByteRun> runs)
    : parent_(std::move(parent)) {
    std::sort(runs.begin(), runs.end(), [](const ByteRun& a, const ByteRun& b) { return a.offset < b.offset; });
    const std::int64_t end = parent_->size();
    std::int64_t reached = 0;
    for (ByteRun r : runs) {
        if (r.offset < reached) {
            r.length -= reached - r.offset;
            r.offset = reached;
        }
        r.length = std::min(r.length, end - r.offset);
        if (r.length <= 0) continue;
        if (!runs_.empty() && runs_.back().offset + runs_.back().length == r.offset) {
            runs_.back().length += r.length;
        } else {
            runs_.push_back(r);
            starts_.push_back(size_);
        }
        size_ += r.length;
        reached = r.offset + r.length;
    }
}

std::size_t ByteRunsSource::runAt(std::int64_t offset) const {
    auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
    return static_cast<std::size_t>(it - starts_.begin()) - 1;
}

std::int64_t ByteRunsSource::parentOffset(std::int64_t offset) const {
    if (runs_.empty()) return 0;
    if (offset >= size_) return runs_.back().offset + runs_.back().length;
    const std::size_t i = runAt(std::max<std::int64_t>(offset, 0));
    return runs_[i].offset + (std::max<std::int64_t>(offset, 0) - starts_[i]);
}

bool ByteRunsSource::readAt(std::int64_t offset, void* buffer, std::size_t length) const {
    auto* out = static_cast<std::uint8_t*>(buffer);
    bool ok = offset >= 0;
    std::size_t done = 0;
    if (offset < 0) {
        const std::size_t before = static_cast<std::size_t>(std::min<std::int64_t>(-offset, static_cast<std::int64_t>(length)));
        std::memset(out, 0, before);
        done = before;
    }
    while (done < length) {
        const std::int64_t at = offset + static_cast<std::int64_t>(done);
        if (at >= size_) {
            std::memset(out + done, 0, length - done);
            return false;
        }
        const std::size_t i = runAt(at);
        const std::int64_t within = at - starts_[i];
        const std::size_t take = static_cast<std::size_t>(std::min<std::int64_t>(runs_[i].length - within, static_cast<std::int64_t>(length - done)));
        if (!parent_->readAt(runs_[i].offset + within, out + done, take)) ok = false;
        done += take;
    }
    return ok;
}

}  // namespace ondrel
