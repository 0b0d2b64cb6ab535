// A classic snapshot's copy-on-write store held in memory: the header and the
// exception table's areas read, then the snapshot read through the table
// over an origin whose size the first byte sets.
#include "diskimage/MemoryReader.h"
#include "volumes/lvm2/LvmSnapshotStore.h"

#include <algorithm>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::int64_t originBytes = (std::int64_t(data[0]) + 1) << 16;
    auto store = std::make_shared<ondrel::MemoryReader>(std::vector<std::uint8_t>(data + 1, data + size));
    auto origin = std::make_shared<ondrel::MemoryReader>(std::vector<std::uint8_t>(static_cast<std::size_t>(originBytes), 0x5a));
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
