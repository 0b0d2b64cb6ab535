// LVM2 over a disk held in memory: the label, the metadata area, the text and
// the volume group it describes (and every older copy the ring holds), then
// every logical volume listed read at its start, across its segments and at
// its end.
#include "diskimage/MemoryReader.h"
#include "fuzz/FuzzSupport.h"
#include "volumes/Partition.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ondrel::MemoryReader reader(data, size);
    std::vector<ondrel::VolumeRecord> records;
    ondrel::Partition partition(records, ondrel::silentObserver(), ondrel::fileSystemProbes());
    partition.earlierLayouts = true;
    partition.scanPartitionTables(reader);
    std::vector<std::uint8_t> buffer(1 << 16);
    for (const ondrel::VolumeRecord& r : records) {
        if (r.listedBy.rfind("LVM2", 0) != 0 || !r.source) continue;
        const std::int64_t length = r.source->size();
        for (std::int64_t at : {std::int64_t(0), length / 3, length - 4096}) {
            if (at < 0) continue;
            r.source->readAt(at, buffer.data(), static_cast<std::size_t>(std::min<std::int64_t>(buffer.size(), length - at)));
        }
    }
    return 0;
}
