// The partition-table scan (MBR with its extended chain, and GPT) and the
// sector sweep with and without jumps, over a disk held in memory.
#include "diskimage/MemoryReader.h"
#include "fuzz/FuzzSupport.h"
#include "volumes/Partition.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ondrel::MemoryReader reader(data, size);
    for (bool gpt : {false, true}) {
        std::vector<ondrel::VolumeRecord> records;
        ondrel::Partition partition(records, ondrel::silentObserver(), ondrel::fileSystemProbes());
        partition.gptMode = gpt;
        partition.scanPartitionTables(reader);
    }
    for (bool skip : {true, false}) {
        std::vector<ondrel::VolumeRecord> records;
        ondrel::Partition partition(records, ondrel::silentObserver(), ondrel::fileSystemProbes());
        partition.skipVolumeSize = skip;
        partition.sweepVolumes(reader);
    }
    return 0;
}
