#pragma once
// The exFAT parser: geometry from the boot sector (or the user's choices in
// the advanced mode), FAT lookups, the walk of the directory entry sets (live
// and deleted, following each folder's FAT chain or cluster run) into a list
// of ExFatEntryRecords linked as a tree, and file extraction.
#include "common/IoBuffer.h"
#include "common/ScanObserver.h"
#include "common/WorkControl.h"
#include "diskimage/ByteSource.h"
#include "fs/ClusterTable.h"
#include "fs/DataSink.h"
#include "fs/EntryTree.h"
#include "fs/FileSystemAdapter.h"
#include "fs/exfat/ExFatBootSector.h"
#include "fs/exfat/ExFatEntryRecord.h"
#include "fs/exfat/ExFatEntrySet.h"
#include "volumes/ByteRuns.h"
#include "volumes/VolumeRecord.h"

#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace ondrel {

class Fat64Class {
public:
    Fat64Class(const ByteSource& reader, VolumeRecord volume);

    // "Is Drive Formated..?": no FAT chain is followed; file data comes from
    // consecutive clusters.
    void setDriveFormatted(bool formatted) { driveFormatted_ = formatted; }
    void reportTo(ScanObserver& observer, WorkControl& control) {
        observer_ = &observer;
        control_ = &control;
    }

    // The standard scan: false with the reason when the boot sector is not
    // exFAT's or the root folder cannot be read.
    bool scanStandard(std::string& failure);

    // Advanced mode, for a volume whose boot sector is lost: sectors that start
    // like a FAT (F8 FF FF FF FF FF FF FF), at most maxCount, and sectors that
    // may start the cluster heap (a full allocation bitmap), at most
    // maxCount + 1; the boot sector's own heap start first when it is readable.
    void findStarts(int maxCount);
    const std::vector<std::int64_t>& foundFats() const { return foundFats_; }
    const std::vector<std::int64_t>& foundHeaps() const { return foundHeaps_; }
    // The boot sector's (or its backup's) sectors-per-cluster shift; -1 when neither is readable.
    int bootClusterShift() const { return bootClusterShift_; }
    // The cluster shift the search worked out with a heap start; -1 when none.
    int derivedClusterShift() const { return derivedClusterShift_; }
    // Sweeps the volume for entry sets and reads it with the chosen FAT, heap
    // start and cluster size: the root folder is walked when the sweep found
    // it, and what no walk reached goes under "ORPHAN ENTRY".
    bool scanAdvanced(int fatChoice, int heapChoice, unsigned clusterShift, std::string& failure);

    // Writes a file's data length (zeros past its valid data): ReadFailed when
    // its clusters run out or cannot be read, WriteFailed when the sink refused.
    WriteResult extract(const ExFatEntryRecord& record, DataSink& sink);

    // Record 0 is the root, "DUMMY ENTRY"; in the advanced mode record 1 is "ORPHAN ENTRY".
    const std::vector<ExFatEntryRecord>& records() const { return records_; }
    const EntryTree& tree() const { return tree_; }
    const ExFatGeometry& geometry() const { return geometry_; }
    const std::vector<std::string>& damage() const { return damage_; }
    void rename(std::int32_t index, const std::string& name);

    // The clusters the allocation bitmap marks free, as byte runs of the
    // volume. Reads the boot sector, the root folder up to the bitmap's entry
    // and the bitmap with a parser of its own, so what a scan set up (an
    // advanced choice among it) stays as it is.
    bool freeSpace(std::vector<ByteRun>& runs, ScanObserver& observer, WorkControl& control, std::string& message) const;

    // The cluster after c in the FAT, or 0 at the end of the chain (or for an invalid c).
    // "Is Drive Formated..?" does not change it: file data then does not use it.
    std::uint32_t nextCluster(std::uint32_t c);

private:
    bool driveFormatted_ = false;
    enum class Chain { Fat, Contiguous, FreeClusters };
    struct Pending {
        std::int32_t dir;
        bool deleted;
    };

    bool checkBootSector(std::string& reason);
    bool readFreeSpace(std::vector<ByteRun>& runs, std::string& message);
    // The root folder's bitmap entry, read up to it (or the folder's end marker).
    bool findBitmapEntry(ExFatBitmapEntry& out, std::string& message);
    std::int64_t volumeLimit() const;
    Chain chainFor(const ExFatEntryRecord& r) const;
    // The cluster that follows c in a chain of that kind; 0 when none.
    std::uint32_t following(std::uint32_t c, Chain chain);
    bool clusterInUse(std::uint32_t c);

    // Reads one folder's entry sets, cluster by cluster, keeping a set that
    // crosses a cluster's end whole; each set is handed to onSet with the
    // volume offset of its file entry.
    void readFolder(std::int32_t dir, std::uint32_t first, Chain chain, std::uint64_t maxBytes,
                    const std::function<void(ExFatEntryRecord&, std::int64_t)>& onSet);
    void walkRootDirectory(std::uint32_t rootCluster);
    // The standard scan's way out when the boot sector's root folder is none:
    // the advanced mode's sweep with the boot sector's geometry.
    bool sweepForRoot(const std::string& why, std::string& failure);
    void walkEntrySets(std::vector<Pending>& live);
    void addRecord(std::int32_t dir, ExFatEntryRecord& r, std::int64_t setOffset,
                   std::unordered_map<std::uint32_t, std::int32_t>& dirsByCluster, std::vector<Pending>& found);
    void linkTree(std::int32_t orphan);
    void startRecords(bool withOrphan);

    ScanObserver* observer_;
    WorkControl* control_;
    WorkControl ownControl_;
    const ByteSource& reader_;
    VolumeRecord volume_;
    ClusterTable fat_;
    ExFatGeometry geometry_;
    std::vector<ExFatEntryRecord> records_;
    EntryTree tree_;
    std::vector<std::string> damage_;
    std::unordered_set<std::uint32_t> dirClustersRead_;
    std::vector<Pending> deferred_;  // deleted folders, walked once every live one is

    // The allocation bitmap, as the root folder names it.
    std::uint32_t bitmapCluster_ = 0;
    std::uint64_t bitmapBytes_ = 0;
    bool bitmapLoaded_ = false;
    std::vector<std::uint8_t> bitmap_;
    IoBuffer readBuffer_;

    // Advanced mode.
    std::vector<std::int64_t> foundFats_, foundHeaps_;
    int bootClusterShift_ = -1;
    int derivedClusterShift_ = -1;
    ExFatGeometry bootGeometry_;
    bool bootValid_ = false;
    bool trackSets_ = false;
    std::vector<std::int64_t> sweptSets_, sweptRoots_;  // what the search's pass found
    std::int64_t sweptEnd_ = -1;                        // where that pass ended, when it read the whole volume
    std::unordered_set<std::int64_t> visitedSets_;            // set offsets the walks read
    std::unordered_map<std::int64_t, std::int32_t> orphanTops_;  // set offset -> record under "ORPHAN ENTRY"
};

}  // namespace ondrel
