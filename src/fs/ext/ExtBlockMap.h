#pragma once
// Where an inode's data lies: the runs of its logical blocks, from an extent
// tree of any depth or a classic block map (direct, single, double and triple
// indirect). Holes are simply absent; uninitialised extents read as zeros.
#include "fs/ext/ExtInode.h"
#include "fs/ext/ExtSuperblock.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ondrel {

struct ExtRun {
    std::uint64_t logical = 0;   // first logical block
    std::uint64_t physical = 0;  // its block on the volume
    std::uint64_t count = 0;
    bool zeros = false;          // allocated but never written
};

class ExtBlockMapper {
public:
    // Reads one block into out (blockSize bytes); false when it cannot.
    using ReadBlock = std::function<bool(std::uint64_t block, std::vector<std::uint8_t>& out)>;
    ExtBlockMapper(const ExtGeometry& g, ReadBlock read) : g_(g), read_(std::move(read)) {}

    // The runs of logical blocks below `blocks`, in logical order. False with
    // a note when the map is damaged (what was mapped before stays).
    bool map(const ExtInode& inode, std::uint64_t blocks, std::vector<ExtRun>& runs, std::string& problem);

private:
    bool extents(Bytes node, int depth, std::uint64_t blocks, std::vector<ExtRun>& runs, std::string& problem);
    bool indirect(std::uint64_t block, int level, std::uint64_t& logical, std::uint64_t blocks, std::vector<ExtRun>& runs,
                  std::string& problem);
    void add(std::vector<ExtRun>& runs, std::uint64_t logical, std::uint64_t physical, std::uint64_t count, bool zeros);
    bool inVolume(std::uint64_t block, std::uint64_t count = 1) const {
        return block >= g_.firstDataBlock && count <= g_.blockCount && block <= g_.blockCount - count;
    }

    const ExtGeometry& g_;
    ReadBlock read_;
    std::uint64_t nodesRead_ = 0, maxNodes_ = 0;
    std::uint64_t mapped_ = 0;  // data blocks mapped so far
};

}  // namespace ondrel
