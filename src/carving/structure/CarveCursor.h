#pragma once
// Buffered reads of one find's bytes for the structure checks: positions are
// the find's own (0 is its first byte), nothing at or past the limit (the
// cap, or the source's end) can be read, and large stretches are walked in
// views of the buffer rather than byte by byte. A read that fails inside the
// limit is remembered: the find's bytes are then not all there.
#include "common/IoBuffer.h"
#include "common/WorkControl.h"
#include "diskimage/ByteSource.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace ondrel {

class CarveCursor {
public:
    static constexpr std::size_t kBufferBytes = 256u << 10;
    static constexpr std::size_t kMaxView = 64u << 10;  // what view() promises at least, when the limit allows

    CarveCursor();
    // Starts on a new find: start is its offset in source, limit how far it may reach.
    void reset(const ByteSource& source, std::int64_t start, std::int64_t limit, WorkControl* control = nullptr);

    // Bytes of the source the caller holds (position is the source's), used in
    // place of reads while they last; null to take them back. They must stay
    // valid until the next offer.
    void offer(const std::uint8_t* bytes, std::int64_t position, std::int64_t length);

    std::int64_t limit() const { return limit_; }
    bool unreadable() const { return unreadable_; }
    // True once a stop was asked for: reads then fail as at the limit.
    bool stopped() const { return stopped_; }

    // The bytes from pos on that the buffer can give at once (at least
    // min(kMaxView, limit - pos) of them); empty at or past the limit.
    std::span<const std::uint8_t> view(std::int64_t pos);
    // n bytes at pos (n <= kMaxView); false when any lies at or past the limit.
    bool read(std::int64_t pos, void* out, std::size_t n);
    int byte(std::int64_t pos);  // -1 at or past the limit
    std::optional<std::uint16_t> le16(std::int64_t pos);
    std::optional<std::uint32_t> le32(std::int64_t pos);
    std::optional<std::uint64_t> le64(std::int64_t pos);
    std::optional<std::uint16_t> be16(std::int64_t pos);
    std::optional<std::uint32_t> be32(std::int64_t pos);
    std::optional<std::uint64_t> be64(std::int64_t pos);
    // True when the bytes at pos are text (without its terminator).
    template <std::size_t N>
    bool hasText(std::int64_t pos, const char (&text)[N]) {
        std::uint8_t b[N - 1];
        if (!read(pos, b, N - 1)) return false;
        for (std::size_t i = 0; i + 1 < N; ++i)
            if (b[i] != static_cast<std::uint8_t>(text[i])) return false;
        return true;
    }
    // The first position in [from, to) where needle begins and lies wholly
    // before min(to, limit); -1 when there is none.
    std::int64_t find(std::int64_t from, std::int64_t to, const void* needle, std::size_t n);
    // CRC-32 (zlib's) of length bytes at pos, continuing crc; nullopt past the limit.
    std::optional<std::uint32_t> crc32(std::int64_t pos, std::int64_t length, std::uint32_t crc = 0);

    // Whether a sector (512 bytes) begins a file of any kind the scan looks for.
    void setStartProbe(std::function<bool(const std::uint8_t* sector)> probe) { probe_ = std::move(probe); }
    // The first sector boundary of the find in (from, to) where the probe
    // sees a file begin; -1 when there is none (or no probe).
    std::int64_t nextStart(std::int64_t from, std::int64_t to);

private:
    bool fill(std::int64_t pos, std::size_t n);

    const ByteSource* source_ = nullptr;
    WorkControl* control_ = nullptr;
    std::int64_t start_ = 0, limit_ = 0;
    IoBuffer buffer_;
    const std::uint8_t* data_ = nullptr;  // the buffered bytes: buffer_'s, or the offered ones
    const std::uint8_t* offered_ = nullptr;
    std::int64_t offeredAt_ = 0, offeredLength_ = 0;
    std::int64_t bufferAt_ = 0;
    std::size_t buffered_ = 0;
    std::size_t nextFill_ = kBufferBytes;  // how much the next refill reads
    bool unreadable_ = false, stopped_ = false;
    std::function<bool(const std::uint8_t*)> probe_;
};

}  // namespace ondrel
