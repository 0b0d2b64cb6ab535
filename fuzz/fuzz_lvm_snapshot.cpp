// A classic snapshot's copy-on-write store held in memory: the header and the
// exception table's areas read, then the snapshot read through the table
// over an origin whose size the first byte sets.
#include "diskimage/MemoryReader.h"
#include "volumes/lvm2/LvmSnapshotStore.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
// An origin of one byte repeated, with no memory of its size.
class PatternSource : public ondrel::ByteSource {
public:
    explicit PatternSource(std::int64_t size) : size_(size) {}
    bool readAt(std::int64_t offset, void* buffer, std::size_t length) const override {
        std::memset(buffer, 0x5a, length);
        return offset >= 0 && offset <= size_ && static_cast<std::int64_t>(length) <= size_ - offset;
    }
    std::int64_t size() const override { return size_; }

private:
    std::int64_t size_;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::int64_t originBytes = (std::int64_t(data[0]) + 1) << 16;
    auto store = std::make_shared<ondrel::MemoryReader>(std::vector<std::uint8_t>(data + 1, data + size));
    auto origin = std::make_shared<PatternSource>(originBytes);
    ondrel::SnapshotExceptions exceptions;
    std::string message;
    ondrel::readSnapshotExceptions(*store, 8, originBytes, exceptions, message);
    if (exceptions.chunkSectors == 0) return 0;
    ondrel::SnapshotSource snapshot(origin, store, std::move(exceptions), originBytes);
    std::vector<std::uint8_t> buffer(1 << 16);
    for (std::int64_t at = 0; at < originBytes; at += static_cast<std::int64_t>(buffer.size())) snapshot.readAt(at, buffer.data(), buffer.size());
    snapshot.readAt(originBytes - 100, buffer.data(), 200);
    return 0;
}
