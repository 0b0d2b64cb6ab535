// The decompression of HFS+ files compressed by the system: the first two
// bytes give the decmpfs attribute's length, the attribute follows, and the
// rest is the resource fork (a table of zlib blocks).
#include "fs/DataSink.h"
#include "fs/hfsplus/HfsCompressed.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    std::size_t attributeBytes = std::min<std::size_t>(static_cast<std::size_t>(data[0]) | data[1] << 8, size - 2);
    ondrel::Bytes attribute(data + 2, attributeBytes);
    const std::uint8_t* fork = data + 2 + attributeBytes;
    const std::size_t forkBytes = size - 2 - attributeBytes;
    (void)ondrel::decodeDecmpfs(attribute);
    (void)ondrel::undecompressable(attribute);
    auto resource = [&](std::uint64_t offset, std::uint8_t* out, std::size_t count) {
        if (offset > forkBytes || count > forkBytes - offset) return false;
        std::memcpy(out, fork + offset, count);
        return true;
    };
    std::vector<std::uint8_t> out;
    ondrel::MemorySink sink(out, 4 << 20);
    std::string reason;
    (void)ondrel::writeDecompressed(attribute, forkBytes, resource, sink, reason);
    return 0;
}
