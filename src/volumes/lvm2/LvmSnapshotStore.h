#pragma once
// A classic (non-thin) snapshot's copy-on-write store, in the persistent
// format of device-mapper's snapshot target: chunk 0 a header ("SnAp",
// valid, version 1, chunk size), then areas in turn, each one chunk of
// exceptions (origin chunk, store chunk: two 64-bit numbers) followed by the
// data chunks it maps. The table ends at the first exception whose store
// chunk is 0 (the header's place) or with the store.
#include "diskimage/ByteSource.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ondrel {

struct SnapshotExceptions {
    std::uint64_t chunkSectors = 0;
    bool used = false;     // false: the kernel never wrote the header (the snapshot reads as its origin)
    bool invalid = false;  // the kernel marked it invalid (its store filled up)
    // Origin chunk -> store chunk, sorted by origin chunk.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> map;
};

// The store's exceptions; false with the reason when its header or table
// cannot be read (what was read before stays in out). statedChunkSectors is
// the chunk size the metadata text states, used when the header is blank;
// chunks mapped beyond snapshotBytes are left out.
bool readSnapshotExceptions(const ByteSource& store, std::uint64_t statedChunkSectors, std::int64_t snapshotBytes,
                            SnapshotExceptions& out, std::string& message);

// The snapshot's bytes: a chunk the origin changed since is read from the
// store, any other from the origin.
class SnapshotSource : public ByteSource {
public:
    SnapshotSource(std::shared_ptr<const ByteSource> origin, std::shared_ptr<const ByteSource> store, SnapshotExceptions exceptions,
                   std::int64_t size);
    bool readAt(std::int64_t offset, void* buffer, std::size_t length) const override;
    std::int64_t size() const override { return size_; }

private:
    std::shared_ptr<const ByteSource> origin_, store_;
    SnapshotExceptions exceptions_;
    std::int64_t chunkBytes_ = 0, size_ = 0;
};

}  // namespace ondrel
