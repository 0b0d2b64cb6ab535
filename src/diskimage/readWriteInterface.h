#pragma once
// The virtual disk: a byte source opened from an image file (or a device)
// through the reader for its container. Reads are positional and safe from
// many threads; what open found is fixed afterwards.
#include "diskimage/ByteSource.h"
#include "diskimage/DamageLog.h"
#include "diskimage/ImageFactory.h"
#include "diskimage/ReaderDetails.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace ondrel {

// One file of an image: the image itself, each part of a split image, or each
// link of a differencing chain (child first).
struct ImageLayer {
    std::string path;
    std::string kind;    // "qcow2", "VHDX", "dynamic VHD", ...
    std::string parent;  // the parent this file names ("" when none)
    std::int64_t fileBytes = 0;
};

class readWriteInterface : public ByteSource {
public:
    // Opens the image read-only with the user's corrections. On failure
    // lastMessage() says why. A reader is opened once.
    virtual bool open(const std::string& path, const OpenOptions& options) = 0;
    // Opens with no corrections; parents are opened by the default factory.
    bool open(const std::string& path);

    std::int64_t size() const override { return static_cast<std::int64_t>(sectorCount_ * kSectorSize); }
    int lastErrorCode() const override { return lastErrorCode_.load(std::memory_order_relaxed); }

    // The file holding the disk's first bytes (null when there is none).
    virtual const ReadOnlyFile* imageFile() const { return nullptr; }
    // The files behind the disk, child first; empty when there is no file.
    virtual std::vector<ImageLayer> layers() const { return {}; }
    // What the container says of itself, for `info` and the image page.
    virtual ReaderDetails details() const { return {}; }

    // Number of 512-byte sectors of the virtual disk, as open found it.
    std::uint64_t sectorCount() const { return sectorCount_; }
    // The message the user must see after a failed open.
    const std::string& lastMessage() const { return lastMessage_; }
    // A reference that the rules refused, when that is why the open failed.
    const std::string& refusedReference() const { return refusedReference_; }
    // Damage noticed while opening that still allows partial reading.
    const std::vector<std::string>& warnings() const { return warnings_; }
    // The stretches of the disk that reads found damaged so far.
    const DamageLog& damage() const { return damage_; }

    // Length of the image file as open measured it.
    std::int64_t fileLength = 0;
    // The VHD block table as open read it (empty for the other readers).
    std::uint64_t tableEntriesRead = 0;
    std::vector<std::uint32_t> blockTable;

protected:
    void setSectorCount(std::uint64_t sectors);
    bool fail(std::string message) {
        lastMessage_ = std::move(message);
        return false;
    }
    bool refuse(std::string reference, std::string message) {
        refusedReference_ = std::move(reference);
        return fail(std::move(message));
    }
    void warn(std::string text) { warnings_.push_back(std::move(text)); }
    void noteError(int code) const {
        if (code != 0) lastErrorCode_.store(code, std::memory_order_relaxed);
    }

    std::uint64_t sectorCount_ = 0;
    std::string lastMessage_;
    std::string refusedReference_;
    std::vector<std::string> warnings_;
    mutable std::atomic<int> lastErrorCode_{0};
    mutable DamageLog damage_;
};

}  // namespace ondrel
