#pragma once
// A VMDK disk: either one binary sparse file (monolithicSparse,
// streamOptimized) with its descriptor embedded, or a text descriptor whose
// extents (flat, sparse or zero, one file each) lie side by side and map the
// disk in turn. A child of a chain names its parent; grains it never wrote
// read from the parent.
#include "diskimage/BlockMappedReader.h"
#include "diskimage/VmdkDescriptor.h"
#include "diskimage/VmdkSparseExtent.h"

#include <memory>

namespace ondrel {

class FileReadSeekVmdk : public BlockMappedReader {
public:
    bool open(const std::string& path) override;

    VmdkSparseHeader header;         // of the first sparse extent
    VmdkDescriptorInfo descriptor;
    std::string descriptorText;
    std::uint64_t grainSize = 0;     // sectors, of the first sparse extent (0 when none)
    std::uint64_t entriesPerTable = 0;
    std::int64_t gdEntryCount = 0;

protected:
    Mapping mapAt(std::uint64_t virtualOffset) override;
    bool readDecoded(std::uint64_t virtualOffset, std::uint8_t* out, std::uint64_t length) override;
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
    struct DecodedGrain {
        std::size_t extent = 0;
        std::uint64_t grain = 0;
        bool ok = false;
        std::vector<std::uint8_t> bytes;
    };

    bool openBinary(const std::uint8_t* head);
    bool openDescriptorFile();
    bool addExtent(const VmdkExtent& e, std::uint64_t start);
    bool openChainParent();
    std::size_t extentIndex(std::uint64_t offset) const;

    std::vector<Extent> extents_;
    std::vector<DecodedGrain> decoded_;  // the few grains last inflated
    std::size_t nextDecoded_ = 0;
};

}  // namespace ondrel
