#pragma once
// Shared read path of the container readers. A container maps each virtual
// offset to a run of bytes in a file, a run of zeros, the same run of its
// parent disk, bytes it must decode itself, or nothing. A read walks those runs
// and merges runs that are contiguous in one file into one system call, so
// reading block by block costs what the container allows, not one seek per
// sector. mapAt and readDecoded are const and safe from many threads: what
// they cache, they guard.
#include "diskimage/readWriteInterface.h"
#include "platform/ReadOnlyFile.h"

#include <memory>

namespace ondrel {

class BlockMappedReader : public readWriteInterface {
public:
    bool readAt(std::int64_t offset, void* buffer, std::size_t length) const override;
    const ReadOnlyFile* imageFile() const override { return &file_; }
    std::optional<DiskExtent> extentAt(std::int64_t offset) const override;
    std::vector<ImageLayer> layers() const override;

    // The disk a differencing image is read over (null when none).
    const readWriteInterface* parentDisk() const { return parent_.get(); }

protected:
    enum class Kind {
        Data,      // bytes at fileOffset of file (null: file_)
        Zero,      // zeros
        Unmapped,  // beyond the map or unreadable: zeros, and the read fails
        Parent,    // the same offset of the parent disk (zeros without one)
        Decoded,   // bytes only readDecoded can produce
    };
    struct Mapping {
        Kind kind = Kind::Unmapped;
        std::int64_t fileOffset = 0;  // for Data: where the byte lies in the file
        std::uint64_t length = 0;     // bytes from here on that map the same way (> 0)
        const ReadOnlyFile* file = nullptr;
        // For Unmapped inside the disk: why (a static text).
        const char* reason = nullptr;
    };
    virtual Mapping mapAt(std::uint64_t virtualOffset) const = 0;
    // Produces length bytes of a Decoded run starting at virtualOffset; false
    // when they could not all be decoded (the rest is zeros).
    virtual bool readDecoded(std::uint64_t virtualOffset, std::uint8_t* out, std::uint64_t length) const;
    // Why a Decoded run could not be produced, as the damage note says it.
    virtual const char* decodeFailure() const { return "its data cannot be decoded"; }
    // The kind this file is, as the chain lists it.
    virtual std::string layerKind() const = 0;

    // Warns when allocated data lies beyond the end of the file.
    void checkTruncation(std::int64_t dataEnd, const char* what);

    // Opens the parent this image names (relative to this image's folder,
    // format given or detected) through the factory of the options this image
    // was opened with, and keeps it in parent_. On failure the open has failed
    // with a message naming the file looked for. Several names are tried in
    // turn (a VHD records relative and absolute ones).
    bool openParent(const std::vector<std::string>& names, std::optional<ImageKind> kind);
    bool openParent(const std::string& name, std::optional<ImageKind> kind) {
        return openParent(std::vector<std::string>{name}, kind);
    }
    // Opens a file an image names beside itself (an extent), under the same
    // rules as a parent; the path opened, or "" with the open failed.
    std::string openReferencedFile(const std::string& name, const std::string& what, ReadOnlyFile& file);

    ReadOnlyFile file_;
    std::string path_;        // set by openFile
    std::string parentName_;  // as this image names it
    OpenOptions options_;     // as open was given them
    std::unique_ptr<readWriteInterface> parent_;
    ImageKind parentKind_ = ImageKind::Raw;  // what parent_ was opened as

    // Opens path_ = path read-only, keeps options and sets fileLength; false
    // with the message "Invalid handle." when it cannot be opened.
    bool openFile(const std::string& path, const OpenOptions& options);
};

}  // namespace ondrel
