#pragma once
// A qcow2 image (versions 2 and 3): an L1 table of L2 tables mapping each
// cluster to data in the file, zeros, a compressed cluster (deflate or zstd)
// or nothing, in which case the backing file's bytes show through.
#include "diskimage/BlockMappedReader.h"
#include "diskimage/Inflater.h"
#include "diskimage/Qcow2Format.h"
#include "diskimage/SharedCache.h"

namespace ondrel {

// A zstd decompression context (set up once, lent to one read at a time).
class ZstdContext {
public:
    ZstdContext();
    ~ZstdContext();
    ZstdContext(const ZstdContext&) = delete;
    ZstdContext& operator=(const ZstdContext&) = delete;
    void* get() const { return context_; }

private:
    void* context_ = nullptr;
};

// What one thread needs to inflate a compressed cluster, kept for the next:
// the decompressors and the buffer of packed bytes.
struct ClusterDecoder {
    Inflater inflater{Inflater::Wrapper::Raw};
    ZstdContext zstd;
    std::vector<std::uint8_t> packed;
};

class FileReadSeekQcow2 : public BlockMappedReader {
public:
    using readWriteInterface::open;
    // Reads the state of OpenOptions::snapshot (an internal snapshot's name or
    // ID) when one is named, else the image's current state.
    bool open(const std::string& path, const OpenOptions& options) override;
    ReaderDetails details() const override;

    Qcow2Header header;
    std::uint64_t clusterSize = 0;
    bool extendedL2 = false;
    std::string backingName;    // as the header names it
    std::string backingFormat;  // from the header extension ("" when not named)
    std::vector<Qcow2Snapshot> snapshots;
    std::string openedSnapshot;  // the snapshot read, "" for the current state

protected:
    Mapping mapAt(std::uint64_t virtualOffset) const override;
    bool readDecoded(std::uint64_t virtualOffset, std::uint8_t* out, std::uint64_t length) const override;
    const char* decodeFailure() const override { return "its compressed cluster is damaged"; }
    std::string layerKind() const override { return "qcow2 v" + std::to_string(header.version); }

private:
    bool readExtensions(const std::vector<std::uint8_t>& first);
    void readSnapshots();
    bool loadL1(std::uint64_t offset, std::uint64_t entries);
    // The L2 table at offset (two words per entry when extended); empty when
    // it cannot be read.
    std::shared_ptr<const std::vector<std::uint64_t>> l2Table(std::uint64_t offset) const;
    // A cluster inflated, in a buffer lent by buffers_ (fresh memory for every
    // cluster would cost page faults); ok false when it is damaged.
    struct Inflated {
        ObjectPool<std::vector<std::uint8_t>>::Lease bytes;
        bool ok = false;
    };
    // The cluster a compressed L2 entry names, inflated.
    std::shared_ptr<const Inflated> decodedCluster(std::uint64_t entry) const;
    Inflated decodeCluster(std::uint64_t entry) const;

    std::vector<std::uint64_t> l1_;
    std::uint64_t l2Entries_ = 0;
    std::unique_ptr<SharedCache<std::uint64_t, std::vector<std::uint64_t>>> l2Cache_;
    // The few clusters last inflated: a read of one cluster sector by sector
    // inflates it once.
    // The pool outlives the cache whose entries hand their buffers back to it.
    ObjectPool<std::vector<std::uint8_t>> buffers_{32};
    std::unique_ptr<SharedCache<std::uint64_t, Inflated>> decoded_;
    ObjectPool<ClusterDecoder> decoders_;
};

}  // namespace ondrel
