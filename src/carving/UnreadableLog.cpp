#include "carving/UnreadableLog.h"

#include <algorithm>

namespace ondrel {

bool UnreadableLog::readAt(std::int64_t offset, void* buffer, std::size_t length) const {
    if (source_.readAt(offset, buffer, length)) return true;
    auto* out = static_cast<std::uint8_t*>(buffer);
    // Only what lies inside the source can be unreadable; past its end is no stretch.
    const std::int64_t inside = std::clamp<std::int64_t>(source_.size() - offset, 0, static_cast<std::int64_t>(length));
    if (inside <= 0) return false;
    // A read that also asked for bytes past the end may have failed for those alone.
    if (inside < static_cast<std::int64_t>(length) && source_.readAt(offset, out, static_cast<std::size_t>(inside))) return false;
    locate(offset, out, static_cast<std::size_t>(inside), 16 * kPiece);
    return false;
}

void UnreadableLog::locate(std::int64_t offset, std::uint8_t* buffer, std::size_t length, std::size_t piece) const {
    if (length <= kPiece) {
        note(offset, static_cast<std::int64_t>(length));
        return;
    }
    for (std::size_t done = 0; done < length; done += piece) {
        const std::size_t n = std::min(piece, length - done);
        if (source_.readAt(offset + static_cast<std::int64_t>(done), buffer + done, n)) continue;
        if (piece > kPiece) locate(offset + static_cast<std::int64_t>(done), buffer + done, n, kPiece);
        else note(offset + static_cast<std::int64_t>(done), static_cast<std::int64_t>(n));
    }
}

namespace {
// A source damaged in a fine pattern would note without end: past this many
// stretches the last one widens over the next (more is marked unreadable, never less).
constexpr std::size_t kMaxStretches = 1 << 16;
}  // namespace

void UnreadableLog::note(std::int64_t offset, std::int64_t length) const {
    std::lock_guard lock(mutex_);
    if (!noted_.empty() && noted_.back().offset + noted_.back().length == offset) {
        noted_.back().length += length;
    } else if (noted_.size() >= kMaxStretches) {
        Stretch& last = noted_.back();
        const std::int64_t from = std::min(last.offset, offset);
        last.length = std::max(last.offset + last.length, offset + length) - from;
        last.offset = from;
    } else {
        noted_.push_back({offset, length});
    }
}

std::vector<UnreadableLog::Stretch> UnreadableLog::stretches() const {
    std::vector<Stretch> all;
    {
        std::lock_guard lock(mutex_);
        all = noted_;
    }
    std::sort(all.begin(), all.end(), [](const Stretch& a, const Stretch& b) { return a.offset < b.offset; });
    std::vector<Stretch> out;
    for (const Stretch& s : all) {
        if (!out.empty() && s.offset <= out.back().offset + out.back().length) {
            out.back().length = std::max(out.back().length, s.offset + s.length - out.back().offset);
        } else {
            out.push_back(s);
        }
    }
    return out;
}

bool overlapsUnreadable(const std::vector<UnreadableLog::Stretch>& sorted, std::int64_t offset, std::int64_t length) {
    auto it = std::upper_bound(sorted.begin(), sorted.end(), offset,
                               [](std::int64_t o, const UnreadableLog::Stretch& s) { return o < s.offset; });
    if (it != sorted.begin()) {
        auto before = std::prev(it);
        if (before->offset + before->length > offset) return true;
    }
    return it != sorted.end() && it->offset < offset + length;
}

}  // namespace ondrel
