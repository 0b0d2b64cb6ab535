#pragma once
// The extents-overflow records of a volume and the full extent list of a fork:
// the eight extents its record holds, then the overflow records that carry on
// from the block count reached so far.
#include "fs/hfsplus/HfsStructures.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace ondrel {

inline constexpr std::uint8_t kHfsDataFork = 0x00;
inline constexpr std::uint8_t kHfsResourceFork = 0xFF;

class HfsExtentsOverflow {
public:
    void clear() { records_.clear(); }
    // Keeps the records of one leaf node of the extents-overflow B-tree.
    void addLeafNode(Bytes node);
    std::size_t size() const { return records_.size(); }

    // The fork's extents in order, each cut to the volume's blocks; false with
    // the reason when they cover fewer blocks than the fork says it has.
    bool extents(std::uint32_t fileId, std::uint8_t forkType, const HfsFork& fork, std::uint32_t volumeBlocks,
                 std::vector<HfsExtent>& out, std::string& problem) const;

private:
    using Key = std::tuple<std::uint32_t, std::uint8_t, std::uint32_t>;  // file ID, fork type, first block
    std::map<Key, std::array<HfsExtent, 8>> records_;
};

}  // namespace ondrel
