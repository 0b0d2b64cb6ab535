#pragma once
// The one way to the virtual disk's bytes. The caller positions with seek (a
// byte offset relative to baseOffset) and reads with read; a file-system parser
// sets baseOffset to its volume's start so its offsets are volume-relative.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ondrel {

class ReadOnlyFile;

// Where a run of the virtual disk lives: bytes at an offset of a file, zeros,
// nothing (beyond the container's map), or bytes only the reader can produce
// (compressed clusters, a replayed log), which a copy must read through it.
struct DiskExtent {
    enum class Kind { Data, Zero, Unmapped, ReadThrough } kind = Kind::Unmapped;
    std::int64_t fileOffset = 0;
    std::uint64_t length = 0;
    // The file holding Data; null means the reader's imageFile(). Chains and
    // split images keep their bytes in several files.
    const ReadOnlyFile* file = nullptr;
};

// One file of an image: the image itself, each part of a split image, or each
// link of a differencing chain (child first).
struct ImageLayer {
    std::string path;
    std::string kind;    // "qcow2", "VHDX", "dynamic VHD", ...
    std::string parent;  // the parent this file names ("" when none)
    std::int64_t fileBytes = 0;
};

inline constexpr std::uint32_t kSectorSize = 512;
// No disk is larger: positions and sizes stay far inside 64 bits, whatever a
// header claims.
inline constexpr std::int64_t kMaxDiskBytes = std::int64_t(1) << 62;

class readWriteInterface {
public:
    virtual ~readWriteInterface() = default;

    // Opens the image read-only. On failure lastMessage() says why.
    virtual bool open(const std::string& path) = 0;
    // Reads byteCount bytes at the current position and moves past them.
    // Returns true when every byte came from the image; bytes that could not
    // be read are delivered as zeros.
    virtual bool read(void* buffer, std::uint32_t byteCount);
    // Positions at offset + baseOffset; method 0 (from the start) only.
    virtual bool seek(std::int64_t offset, int method = 0);
    virtual bool reserved() { return true; }

    // The image file and where the bytes at a disk offset (relative to
    // baseOffset) lie in it, so bulk copies can move them without passing
    // through our buffers; nullopt when the reader cannot tell.
    virtual const ReadOnlyFile* imageFile() const { return nullptr; }
    virtual std::optional<DiskExtent> extentAt(std::int64_t offset) {
        (void)offset;
        return std::nullopt;
    }

    // The files behind the disk, child first; empty when there is no file.
    virtual std::vector<ImageLayer> layers() const { return {}; }

    // seek then read; the buffer is zero-filled when the seek fails.
    bool readAt(std::int64_t offset, void* buffer, std::uint32_t byteCount);

    // Number of 512-byte sectors of the virtual disk, as open found it.
    std::uint64_t sectorCount() const { return sectorCount_; }
    // The message the user must see after a failed open.
    const std::string& lastMessage() const { return lastMessage_; }
    // Damage noticed while opening that still allows partial reading.
    const std::vector<std::string>& warnings() const { return warnings_; }
    // System error code of the last failed read (0 when none).
    int lastErrorCode() const { return lastErrorCode_; }

    std::uint64_t tableEntriesRead = 0;
    std::vector<std::uint32_t> blockTable;
    std::int64_t baseOffset = 0;
    std::int64_t fileLength = 0;
    bool blockAllocated = true;

protected:
    // Records the disk size and publishes it as g_totalSectors.
    void setSectorCount(std::uint64_t sectors);
    bool fail(std::string message) {
        lastMessage_ = std::move(message);
        return false;
    }
    void warn(std::string text) { warnings_.push_back(std::move(text)); }

    std::uint64_t sectorCount_ = 0;
    std::string lastMessage_;
    std::vector<std::string> warnings_;
    int lastErrorCode_ = 0;
};

}  // namespace ondrel
