#pragma once
// A thin pool's metadata (the persistent-data format of device-mapper's
// thin target, as thin_restore writes it): the superblock, then the mapping
// B-tree from thin device id to that device's own tree of virtual block ->
// data block. Every node's checksum is checked; a node met twice, a tree
// deeper than the format allows or an entry count beyond a node's room
// stops the walk with a message.
#include "diskimage/ByteSource.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ondrel {

struct ThinRun {
    std::uint64_t virtualBlock = 0, dataBlock = 0, count = 0;
};

struct ThinMapping {
    std::uint64_t blockSectors = 0;  // the pool's data block (chunk) size
    std::vector<ThinRun> runs;       // by virtual block, adjacent blocks joined
};

// The mapping of thin device deviceId; false with the reason.
bool readThinMapping(const ByteSource& metadata, std::uint64_t deviceId, ThinMapping& out, std::string& message);

// A thin volume's bytes: a mapped block is read from the pool's data, one
// never written reads as zeros (as the thin target gives it).
class ThinVolumeSource : public ByteSource {
public:
    ThinVolumeSource(std::shared_ptr<const ByteSource> data, ThinMapping mapping, std::int64_t size);
    bool readAt(std::int64_t offset, void* buffer, std::size_t length) const override;
    std::int64_t size() const override { return size_; }

private:
    std::shared_ptr<const ByteSource> data_;
    ThinMapping mapping_;
    std::int64_t blockBytes_ = 0, size_ = 0;
};

}  // namespace ondrel
