#pragma once
// A VMDK disk: either one binary sparse file (monolithicSparse,
// streamOptimized) with its descriptor embedded, or a text descriptor whose
// extents (flat, sparse or zero, one file each) lie side by side and map the
// disk in turn. A child of a chain names its parent; grains it never wrote
// read from the parent.
#include "diskimage/BlockMappedReader.h"
#include "diskimage/SharedCache.h"
#include "diskimage/VmdkDescriptor.h"
#include "diskimage/VmdkSparseExtent.h"

#include <memory>
#include <utility>

namespace ondrel {

class FileReadSeekVmdk : public BlockMappedReader {
public:
    using readWriteInterface::open;
    bool open(const std::string& path, const OpenOptions& options) override;
    ReaderDetails details() const override;

    VmdkSparseHeader header;         // of the first sparse extent
    VmdkDescriptorInfo descriptor;
    std::string descriptorText;
    std::uint64_t grainSize = 0;     // sectors, of the first sparse extent (0 when none)
    std::uint64_t entriesPerTable = 0;
    std::int64_t gdEntryCount = 0;

protected:
    Mapping mapAt(std::uint64_t virtualOffset) const override;
    bool readDecoded(std::uint64_t virtualOffset, std::uint8_t* out, std::uint64_t length) const override;
    const char* decodeFailure() const override { return "its compressed grain is damaged"; }
    std::string layerKind() const override;

public:
    // The descriptor, each extent file it names, then the parents.
    std::vector<ImageLayer> layers() const override;

private:
    struct Extent {
        enum class Type { Flat, Sparse, Zero, NoAccess } type = Type::Zero;
        std::uint64_t start = 0;  // bytes of the disk
        std::uint64_t end = 0;
        std::int64_t flatOffset = 0;
        std::unique_ptr<ReadOnlyFile> ownFile;  // null: the extent is this file
        const ReadOnlyFile* file = nullptr;
        std::unique_ptr<VmdkSparseExtent> sparse;
        std::string path;  // of ownFile, for the chain listing
        std::string typeName;
    };
    // A grain inflated, in a buffer lent by grainBuffers_ (fresh memory for
    // every grain would cost page faults).
    struct DecodedGrain {
        bool ok = false;
        ObjectPool<std::vector<std::uint8_t>>::Lease bytes;
    };
    struct GrainKey {
        std::size_t extent = 0;
        std::uint64_t grain = 0;
        bool operator==(const GrainKey&) const = default;
    };
    struct GrainKeyHash {
        std::size_t operator()(const GrainKey& k) const { return std::hash<std::uint64_t>()(k.grain * 1000003u + k.extent); }
    };

    bool openBinary(const std::uint8_t* head);
    bool openDescriptorFile();
    bool addExtent(const VmdkExtent& e, std::uint64_t start);
    bool openChainParent();
    std::size_t extentIndex(std::uint64_t offset) const;

    std::vector<Extent> extents_;
    // The few grains last inflated: a grain read sector by sector is inflated
    // once. The pool outlives the cache whose entries hand their buffers back.
    ObjectPool<std::vector<std::uint8_t>> grainBuffers_{32};
    SharedCache<GrainKey, DecodedGrain, GrainKeyHash> decoded_{16};
};

}  // namespace ondrel
