#pragma once
// A monolithic sparse VMDK: a binary header, an embedded text descriptor, a
// grain directory and grain tables. Unallocated and zeroed grains read as zeros.
#include "diskimage/BlockMappedReader.h"
#include "diskimage/VmdkDescriptor.h"

#include <array>
#include <unordered_map>

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
};

inline constexpr std::uint32_t kVmdkMagic = 0x564D444B;  // "KDMV"

class FileReadSeekVmdk : public BlockMappedReader {
public:
    bool open(const std::string& path) override;

    VmdkSparseHeader header;
    VmdkDescriptorInfo descriptor;
    std::string descriptorText;
    std::string extentType;
    std::vector<std::uint32_t> grainDirectory;
    std::uint64_t grainSize = 0;
    std::uint64_t entriesPerTable = 0;
    std::uint64_t sectorsPerTable = 0;
    std::int64_t directoryEntries = 0;
    std::int64_t gdEntryCount = 0;

protected:
    Mapping mapAt(std::uint64_t virtualOffset) override;

private:
    enum class Mode { Sparse, Flat };
    // The grain table of one directory entry; empty when it could not be read.
    const std::vector<std::uint32_t>& grainTable(std::uint32_t tableSector);

    Mode mode_ = Mode::Sparse;
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> tables_;
};

}  // namespace ondrel
