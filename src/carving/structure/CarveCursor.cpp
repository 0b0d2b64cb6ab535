#include "carving/structure/CarveCursor.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace ondrel {

namespace {
// A refill keeps this much before the position asked for: checks look back a
// little (a trailer before its end marker) far more often than far.
constexpr std::int64_t kBehind = 4096;
}  // namespace

CarveCursor::CarveCursor() : buffer_(kBufferBytes), data_(buffer_.data()) {}

void CarveCursor::offer(const std::uint8_t* bytes, std::int64_t position, std::int64_t length) {
    offered_ = length > 0 ? bytes : nullptr;
    offeredAt_ = position;
    offeredLength_ = std::max<std::int64_t>(length, 0);
    buffered_ = 0;  // what was taken from the bytes offered before is gone
}

void CarveCursor::reset(const ByteSource& source, std::int64_t start, std::int64_t limit, WorkControl* control) {
    source_ = &source;
    control_ = control;
    start_ = start;
    limit_ = std::clamp<std::int64_t>(limit, 0, std::max<std::int64_t>(source.size() - start, 0));
    buffered_ = 0;
    bufferAt_ = 0;
    nextFill_ = kMaxView + kBehind;
    unreadable_ = stopped_ = false;
}

bool CarveCursor::fill(std::int64_t pos, std::size_t n) {
    if (pos < 0 || n > kMaxView || pos > limit_ - static_cast<std::int64_t>(n)) return false;
    if (pos >= bufferAt_ && pos + static_cast<std::int64_t>(n) <= bufferAt_ + static_cast<std::int64_t>(buffered_))
        return true;
    if (stopped_ || (control_ && control_->poll())) {
        stopped_ = true;
        return false;
    }
    // The bytes the scan holds already, where they reach far enough: no read at all.
    if (offered_ && start_ + pos >= offeredAt_ && start_ + pos + static_cast<std::int64_t>(n) <= offeredAt_ + offeredLength_) {
        bufferAt_ = std::max(offeredAt_, start_) - start_;
        data_ = offered_ + (start_ + bufferAt_ - offeredAt_);
        buffered_ = static_cast<std::size_t>(std::min(offeredAt_ + offeredLength_ - start_, limit_) - bufferAt_);
        return true;
    }
    const std::int64_t from = pos > kBehind ? pos - kBehind : 0;
    // Most finds are small: the first read is a view's worth, and each refill
    // reads twice as much as the one before, so a small file costs little
    // more than its own bytes and a large one is read in large pieces.
    const std::size_t want = std::max<std::size_t>(nextFill_, static_cast<std::size_t>(pos - from) + n);
    nextFill_ = std::min(kBufferBytes, nextFill_ * 2);
    const std::size_t length = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(want), limit_ - from));
    if (!source_->readAt(start_ + from, buffer_.data(), length)) unreadable_ = true;
    data_ = buffer_.data();
    bufferAt_ = from;
    buffered_ = length;
    return true;
}

std::span<const std::uint8_t> CarveCursor::view(std::int64_t pos) {
    if (pos < 0 || pos >= limit_) return {};
    if (!fill(pos, static_cast<std::size_t>(std::min<std::int64_t>(kMaxView, limit_ - pos)))) return {};
    const std::size_t at = static_cast<std::size_t>(pos - bufferAt_);
    return {data_ + at, buffered_ - at};
}

bool CarveCursor::read(std::int64_t pos, void* out, std::size_t n) {
    if (n == 0) return pos >= 0 && pos <= limit_;
    if (!fill(pos, n)) return false;
    std::memcpy(out, data_ + (pos - bufferAt_), n);
    return true;
}

int CarveCursor::byte(std::int64_t pos) {
    if (!fill(pos, 1)) return -1;
    return data_[static_cast<std::size_t>(pos - bufferAt_)];
}

namespace {
template <typename T, bool Big>
std::optional<T> field(CarveCursor& c, std::int64_t pos) {
    std::uint8_t b[sizeof(T)];
    if (!c.read(pos, b, sizeof(T))) return std::nullopt;
    T v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        const std::size_t k = Big ? i : sizeof(T) - 1 - i;
        v = static_cast<T>((v << 8) | b[k]);
    }
    return v;
}
}  // namespace

std::optional<std::uint16_t> CarveCursor::le16(std::int64_t pos) { return field<std::uint16_t, false>(*this, pos); }
std::optional<std::uint32_t> CarveCursor::le32(std::int64_t pos) { return field<std::uint32_t, false>(*this, pos); }
std::optional<std::uint64_t> CarveCursor::le64(std::int64_t pos) { return field<std::uint64_t, false>(*this, pos); }
std::optional<std::uint16_t> CarveCursor::be16(std::int64_t pos) { return field<std::uint16_t, true>(*this, pos); }
std::optional<std::uint32_t> CarveCursor::be32(std::int64_t pos) { return field<std::uint32_t, true>(*this, pos); }
std::optional<std::uint64_t> CarveCursor::be64(std::int64_t pos) { return field<std::uint64_t, true>(*this, pos); }

std::int64_t CarveCursor::find(std::int64_t from, std::int64_t to, const void* needle, std::size_t n) {
    const auto* want = static_cast<const std::uint8_t*>(needle);
    if (n == 0 || n > kMaxView) return -1;
    const std::int64_t end = std::min(to, limit_);
    for (std::int64_t pos = std::max<std::int64_t>(from, 0); pos + static_cast<std::int64_t>(n) <= end;) {
        auto v = view(pos);
        if (v.size() < n) return -1;
        // Starts that leave the whole needle inside this view, and before end.
        const std::size_t starts = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(v.size() - n + 1), end - static_cast<std::int64_t>(n) + 1 - pos));
        const std::uint8_t* p = v.data();
        const std::uint8_t* stop = p + starts;
        while (p < stop) {
            p = static_cast<const std::uint8_t*>(std::memchr(p, want[0], static_cast<std::size_t>(stop - p)));
            if (!p) break;
            if (std::memcmp(p, want, n) == 0) return pos + (p - v.data());
            ++p;
        }
        pos += static_cast<std::int64_t>(starts);
    }
    return -1;
}

std::optional<std::uint32_t> CarveCursor::crc32(std::int64_t pos, std::int64_t length, std::uint32_t crc) {
    if (length < 0 || pos < 0 || pos > limit_ - length) return std::nullopt;
    uLong c = crc;
    while (length > 0) {
        auto v = view(pos);
        if (v.empty()) return std::nullopt;
        const std::size_t take = static_cast<std::size_t>(std::min<std::int64_t>(length, static_cast<std::int64_t>(v.size())));
        c = ::crc32(c, v.data(), static_cast<uInt>(take));
        pos += static_cast<std::int64_t>(take);
        length -= static_cast<std::int64_t>(take);
    }
    return static_cast<std::uint32_t>(c);
}

std::int64_t CarveCursor::nextStart(std::int64_t from, std::int64_t to) {
    if (!probe_) return -1;
    constexpr std::int64_t kSector = 512;
    const std::int64_t end = std::min(to, limit_);
    for (std::int64_t s = (std::max<std::int64_t>(from, 0) / kSector + 1) * kSector; s + kSector <= end; s += kSector) {
        auto v = view(s);
        if (v.size() < static_cast<std::size_t>(kSector)) return -1;
        if (probe_(v.data())) return s;
    }
    return -1;
}

}  // namespace ondrel
