#pragma once
// One sparse VMDK extent: a KDMV header, a grain directory and grain tables
// that map the extent's grains to sectors of its file. Grains may be plain or,
// in a stream-optimized file, deflated behind a marker naming their sector.
#include "diskimage/Inflater.h"
#include "diskimage/SharedCache.h"
#include "platform/ReadOnlyFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ondrel {

struct VmdkSparseHeader {
    std::uint32_t magic = 0;
    std::uint32_t version = 0;
    std::uint32_t flags = 0;
    std::uint64_t capacity = 0;
    std::uint64_t grainSize = 0;
    std::uint64_t descriptorOffset = 0;
    std::uint64_t descriptorSize = 0;
    std::uint32_t entriesPerTable = 0;
    std::uint64_t redundantDirectorySector = 0;
    std::uint64_t directorySector = 0;
    std::uint16_t compressAlgorithm = 0;
};

inline constexpr std::uint32_t kVmdkMagic = 0x564D444B;  // "KDMV"

// Reads the header fields from the first 512 bytes of a sparse file.
VmdkSparseHeader parseVmdkSparseHeader(const std::uint8_t* sector);

class VmdkSparseExtent {
public:
    // Reads the header and grain directory of the sparse file (kept open by
    // the caller); false with message() set when they cannot be used.
    bool open(const ReadOnlyFile& file, const std::string& name);

    struct Grain {
        enum class Kind { Unallocated, Zeroed, Data, Compressed, Unreadable } kind = Kind::Unallocated;
        std::int64_t fileOffset = 0;  // Data: the byte asked for; Compressed: the grain's first sector
        std::uint64_t length = 0;     // bytes from the offset asked for that map the same way
    };
    // Where the byte at offset of the extent lies.
    Grain lookup(std::uint64_t offset) const;

    // Inflates the compressed grain stored at grainOffset that holds the
    // extent's grain number grain into out (grainBytes() long); false when it
    // cannot be read or inflated (out is then zeros).
    bool inflateGrain(std::int64_t grainOffset, std::uint64_t grain, std::vector<std::uint8_t>& out) const;

    // Where the last allocated grain ends in the file (for the truncation warning).
    std::int64_t dataEnd() const;

    const VmdkSparseHeader& header() const { return header_; }
    std::uint64_t grainBytes() const { return header_.grainSize * 512; }
    std::size_t directoryEntries() const { return directory_.size(); }
    bool compressed() const { return compressed_; }
    const std::string& message() const { return message_; }
    const std::vector<std::string>& warnings() const { return warnings_; }

private:
    // The grain table at tableSector; empty when it cannot be read.
    std::shared_ptr<const std::vector<std::uint32_t>> table(std::uint32_t tableSector) const;
    bool fail(std::string text) {
        message_ = std::move(text);
        return false;
    }

    const ReadOnlyFile* file_ = nullptr;
    std::string name_;
    VmdkSparseHeader header_;
    bool compressed_ = false;
    bool markers_ = false;
    std::uint64_t sectorsPerTable_ = 0;
    std::vector<std::uint32_t> directory_;
    SharedCache<std::uint32_t, std::vector<std::uint32_t>> tables_{8192};  // 16 MiB of tables at most
    std::string message_;
    std::vector<std::string> warnings_;
    ObjectPool<Inflater> inflaters_;
};

}  // namespace ondrel
