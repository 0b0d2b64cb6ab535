// A thin pool's metadata held in memory: the superblock and the mapping
// B-trees walked for the device the first byte names, then the thin volume
// read through the mapping. Every 4 KiB block's checksum is set right first,
// so the walk itself is what gets fuzzed.
#include "diskimage/Crc32c.h"
#include "diskimage/MemoryReader.h"
#include "volumes/lvm2/LvmThinMapping.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint64_t device = data[0] % 4;
    std::vector<std::uint8_t> meta(data + 1, data + size);
    meta.resize((meta.size() + 4095) / 4096 * 4096);
    for (std::size_t at = 0; at < meta.size(); at += 4096) {
        const std::uint32_t csum = ~ondrel::crc32c(meta.data() + at + 4, 4092) ^ (at == 0 ? 160774u : 121107u);
        std::memcpy(meta.data() + at, &csum, 4);  // little-endian, as the format keeps it
    }
    ondrel::MemoryReader reader(meta);
    ondrel::ThinMapping mapping;
    std::string message;
    if (!ondrel::readThinMapping(reader, device, mapping, message)) return 0;
    auto pool = std::make_shared<ondrel::MemoryReader>(std::vector<std::uint8_t>(1 << 20));
    ondrel::ThinVolumeSource volume(pool, mapping, std::int64_t(1) << 40);
    std::vector<std::uint8_t> buffer(1 << 16);
    for (const ondrel::ThinRun& r : mapping.runs) {
        if (r.virtualBlock > (std::uint64_t(1) << 30)) break;
        const std::int64_t at = static_cast<std::int64_t>(r.virtualBlock * mapping.blockSectors * 512);
        volume.readAt(at, buffer.data(), buffer.size());
    }
    volume.readAt((std::int64_t(1) << 40) - 100, buffer.data(), 200);
    return 0;
}
