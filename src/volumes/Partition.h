#pragma once
// Volume discovery on one virtual disk: the partition-table scan (MBR with its
// chain of extended boot records, or GPT) and the sector sweep that finds boot
// records no table lists any more. Records are appended to the owner's vector.
#include "common/ScanObserver.h"
#include "common/WorkControl.h"
#include "diskimage/readWriteInterface.h"
#include "volumes/VolumeRecord.h"

#include <functional>
#include <vector>

namespace ondrel {

class Partition {
public:
    Partition(std::vector<VolumeRecord>& records, ScanObserver& observer) : records_(records), observer_(observer) {}

    // Sweep only: jump over a recognised volume instead of testing its sectors.
    bool skipVolumeSize = true;
    // Sweep only: first sector to test and last position to test (0: none).
    std::int64_t customStartSector = 0;
    std::int64_t customEndSector = 0;
    // Read the GPT instead of the MBR.
    bool gptMode = false;
    // Sweep only: called for each record the moment it is found.
    std::function<void(const VolumeRecord&)> onRecordListed;

    // Stop and pause of the sweep.
    WorkControl control;
    bool stopRequested() const { return control.stopRequested(); }

    void scanPartitionTables(readWriteInterface& reader);
    void sweepVolumes(readWriteInterface& reader);

private:
    void scanMbr(readWriteInterface& reader);
    void scanExtendedChain(readWriteInterface& reader, std::uint32_t extBase);
    void scanGpt(readWriteInterface& reader);
    bool bareVolumeAtStart(readWriteInterface& reader, bool superblocks);
    void addMbrRecord(readWriteInterface& reader, std::uint8_t type, std::uint64_t start, std::uint32_t sectors,
                      bool logical);
    void append(VolumeRecord record);
    // Tests one sector of the sweep; returns the bytes to jump from it (0: none).
    std::int64_t sweepSector(const std::uint8_t* sector, std::int64_t position);

    std::vector<VolumeRecord>& records_;
    ScanObserver& observer_;
    int volumeCount_ = 0;
    int ntfsCount_ = 0;
};

}  // namespace ondrel
