#pragma once
// A VHDX: two headers (the valid one with the higher sequence number counts), a
// region table naming the block table and the metadata, payload blocks the
// table maps, and for a differencing disk sector bitmaps that say per sector
// whether this file or its parent holds it. A log of metadata writes that was
// never applied is replayed in memory only; the file is never written.
#include "diskimage/BlockMappedReader.h"
#include "diskimage/SharedCache.h"
#include "diskimage/VhdxFormat.h"

#include <map>
#include <vector>

namespace ondrel {

class FileReadSeekVhdx : public BlockMappedReader {
public:
    using readWriteInterface::open;
    bool open(const std::string& path, const OpenOptions& options) override;
    ReaderDetails details() const override;

    // What open found, for `ondrel-cli info`.
    std::uint64_t virtualSize = 0;
    std::uint32_t blockSize = 0;
    std::uint32_t logicalSectorSize = 0;
    std::uint32_t physicalSectorSize = 0;
    bool hasParent = false;
    bool leaveBlocksAllocated = false;
    std::uint64_t headerSequence = 0;   // of the header in use
    std::uint64_t logEntriesReplayed = 0;
    std::string dataWriteGuid;          // "{...}": what the parent_linkage of a child names
    std::string virtualDiskId;
    std::string parentLinkage;          // the DataWriteGuid this child was made against
    std::string parentLinkage2;
    std::string parentRelativePath;     // as the parent locator records them
    std::string parentAbsolutePath;
    VhdxGuid dataWriteGuidBytes{};

protected:
    Mapping mapAt(std::uint64_t virtualOffset) const override;
    bool readDecoded(std::uint64_t virtualOffset, std::uint8_t* out, std::uint64_t length) const override;
    std::string layerKind() const override { return hasParent ? "differencing VHDX" : "VHDX"; }

private:
    bool readHeaders(VhdxHeader& current);
    bool readRegions(VhdxRegion& bat, VhdxRegion& metadata);
    bool readMetadata(const VhdxRegion& region);
    void readBlockTable(const VhdxRegion& region);
    bool openParentDisk();
    void replayLog(const VhdxHeader& header);

    // File bytes as the replayed log leaves them; false when some are missing (zeros).
    bool readThrough(std::uint64_t offset, std::uint8_t* out, std::uint64_t length) const;
    // Whether the log overlays fileOffset, and where that stops being so.
    bool overlaid(std::uint64_t fileOffset, std::uint64_t& until) const;
    Mapping present(std::uint64_t fileOffset, std::uint64_t length) const;
    // The sector bitmap of a chunk; empty when the chunk has none.
    std::shared_ptr<const std::vector<std::uint8_t>> sectorBitmap(std::uint64_t chunk) const;

    std::vector<std::uint64_t> bat_;
    std::uint64_t chunkRatio_ = 1;
    std::vector<std::uint8_t> parentLocator_;
    // The replayed log: whole 4 KiB pages by page index, and zeroed byte ranges [first, second).
    std::map<std::uint64_t, std::vector<std::uint8_t>> logPages_;
    std::map<std::uint64_t, std::uint64_t> logZeros_;
    SharedCache<std::uint64_t, std::vector<std::uint8_t>> bitmaps_{8};  // by chunk, a few at a time
};

}  // namespace ondrel
