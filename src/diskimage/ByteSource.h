#pragma once
// A range of bytes read by position: a virtual disk, a volume inside it, a
// logical volume inside that. Reads are const and keep no cursor, so any number
// of threads may read one source at once.
#include <cstddef>
#include <cstdint>
#include <optional>

namespace ondrel {

class ReadOnlyFile;

// Where a run of the source lives: bytes at an offset of a file, zeros,
// nothing (beyond the container's map, or damaged), or bytes only the reader
// can produce (compressed clusters, a replayed log), which a copy must read
// through it.
struct DiskExtent {
    enum class Kind { Data, Zero, Unmapped, ReadThrough } kind = Kind::Unmapped;
    std::int64_t fileOffset = 0;
    std::uint64_t length = 0;
    // The file holding Data; never null for Data.
    const ReadOnlyFile* file = nullptr;
};

inline constexpr std::uint32_t kSectorSize = 512;
// No disk is larger: positions and sizes stay far inside 64 bits, whatever a
// header claims.
inline constexpr std::int64_t kMaxDiskBytes = std::int64_t(1) << 62;

class ByteSource {
public:
    virtual ~ByteSource() = default;

    // Reads length bytes at offset into buffer. True when every byte came from
    // the source; bytes that could not be read (past the end, unmapped,
    // damaged) are delivered as zeros, never as stale buffer contents.
    virtual bool readAt(std::int64_t offset, void* buffer, std::size_t length) const = 0;
    // The number of bytes the source holds.
    virtual std::int64_t size() const = 0;

    // Where the bytes at offset lie, so bulk copies can move them without
    // passing through our buffers; nullopt when the source cannot tell.
    virtual std::optional<DiskExtent> extentAt(std::int64_t offset) const {
        (void)offset;
        return std::nullopt;
    }
    // The system's error code of the latest failed read (0 when none).
    virtual int lastErrorCode() const { return 0; }
};

}  // namespace ondrel
