#pragma once
// Volume discovery on one virtual disk: the partition-table scan (MBR with its
// chain of extended boot records, or GPT) or the sector sweep that finds boot
// records no table lists any more. Each volume found is offered again to the
// volume systems (a table inside a partition) and to the file systems' probes,
// so the records form a tree: a record names its parent and its children.
// Records are appended to the owner's vector.
#include "common/ScanObserver.h"
#include "common/WorkControl.h"
#include "diskimage/ByteSource.h"
#include "volumes/FileSystemProbe.h"
#include "volumes/VolumeRecord.h"
#include "volumes/VolumeSystem.h"

#include <functional>
#include <memory>
#include <vector>

namespace ondrel {

class Partition {
public:
    Partition(std::vector<VolumeRecord>& records, ScanObserver& observer, std::vector<FileSystemProbe> probes)
        : records_(records), observer_(observer), probes_(std::move(probes)) {}

    // Sweep only: jump over a recognised volume instead of testing its sectors.
    bool skipVolumeSize = true;
    // Sweep only: first sector to test and last position to test (0: none).
    std::int64_t customStartSector = 0;
    std::int64_t customEndSector = 0;
    // Read the GPT instead of the MBR.
    bool gptMode = false;
    // Called for each record the moment it is found.
    std::function<void(const VolumeRecord&)> onRecordListed;
    // The volume systems a volume found is offered to (the registry's unless set).
    std::vector<const VolumeSystem*> nested = volumeSystems();
    // List the layouts older volume-system metadata describes (LVM2's earlier copies).
    bool earlierLayouts = false;

    // Stop and pause of the sweep.
    WorkControl control;
    bool stopRequested() const { return control.stopRequested(); }

    // The disk is shared with the records, whose sources are windows on it.
    void scanPartitionTables(std::shared_ptr<const ByteSource> disk);
    void sweepVolumes(std::shared_ptr<const ByteSource> disk);
    // Several disks of one machine: each is scanned in turn, then what spans
    // them (a volume group over physical volumes on several) is listed.
    void scanPartitionTables(const std::vector<std::shared_ptr<const ByteSource>>& disks);
    void sweepVolumes(const std::vector<std::shared_ptr<const ByteSource>>& disks);
    // For a disk the caller keeps alive as long as the records are used.
    void scanPartitionTables(const ByteSource& disk);
    void sweepVolumes(const ByteSource& disk);
    // Lists the disk with the given volume system, then explores as the scans do.
    void scanWith(const VolumeSystem& system, std::shared_ptr<const ByteSource> disk) { run(system, std::move(disk)); }

    // Nested volume systems are followed this deep at most.
    static constexpr int kMaxDepth = 8;

private:
    void scanTables(std::shared_ptr<const ByteSource> disk);
    void run(const VolumeSystem& system, std::shared_ptr<const ByteSource> disk);
    // Lets each volume system list what waited for every disk.
    void finish();
    DiscoveryContext contextFor(int parentRecord);
    void reportUnder(ListedVolume listed, int parentRecord, int disk);
    // Appends a volume listed in parent's source (-1: the disk) and explores it.
    void add(ListedVolume listed, int parent, const std::shared_ptr<const ByteSource>& parentSource,
             std::int64_t parentStart, int depth, int disk = -1);
    // Offers a volume to the volume systems; lists what one finds inside it.
    void explore(int index, int depth);

    std::vector<VolumeRecord>& records_;
    ScanObserver& observer_;
    std::vector<FileSystemProbe> probes_;
    std::unique_ptr<DiscoveryContext> context_;
    std::vector<std::shared_ptr<const ByteSource>> disks_;
    DiscoverySession session_;
    int volumeCount_ = 0;
    int ntfsCount_ = 0;
};

}  // namespace ondrel
