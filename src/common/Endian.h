#pragma once
// Field readers for on-disk structures. A field that lies (partly) past the end
// of the buffer reads as zero, so a damaged record can never make us read past
// the end of a buffer.
#include <cstddef>
#include <cstdint>
#include <span>

namespace ondrel {

using Bytes = std::span<const std::uint8_t>;

template <typename T>
inline T readLittle(Bytes b, std::size_t off) {
    if (off > b.size() || b.size() - off < sizeof(T)) return 0;
    T v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) v |= static_cast<T>(static_cast<T>(b[off + i]) << (8 * i));
    return v;
}

template <typename T>
inline T readBig(Bytes b, std::size_t off) {
    if (off > b.size() || b.size() - off < sizeof(T)) return 0;
    T v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) v = static_cast<T>((v << 8) | b[off + i]);
    return v;
}

inline std::uint8_t le8(Bytes b, std::size_t off) { return off < b.size() ? b[off] : 0; }
inline std::uint16_t le16(Bytes b, std::size_t off) { return readLittle<std::uint16_t>(b, off); }
inline std::uint32_t le32(Bytes b, std::size_t off) { return readLittle<std::uint32_t>(b, off); }
inline std::uint64_t le64(Bytes b, std::size_t off) { return readLittle<std::uint64_t>(b, off); }
inline std::uint16_t be16(Bytes b, std::size_t off) { return readBig<std::uint16_t>(b, off); }
inline std::uint32_t be32(Bytes b, std::size_t off) { return readBig<std::uint32_t>(b, off); }
inline std::uint64_t be64(Bytes b, std::size_t off) { return readBig<std::uint64_t>(b, off); }

// True when the bytes at off equal the given text (without its terminator).
template <std::size_t N>
inline bool hasText(Bytes b, std::size_t off, const char (&text)[N]) {
    if (off > b.size() || b.size() - off < N - 1) return false;
    for (std::size_t i = 0; i + 1 < N; ++i)
        if (b[off + i] != static_cast<std::uint8_t>(text[i])) return false;
    return true;
}

}  // namespace ondrel
