#pragma once
// The NTFS parser: finds the MFT, decodes every record once, rebuilds the folder
// tree in the entry table (first-child / next-sibling links) and extracts files.
#include "common/ScanObserver.h"
#include "common/WorkControl.h"
#include "diskimage/ByteSource.h"
#include "fs/EntryTree.h"
#include "fs/ntfs/NtfsEntry.h"
#include "fs/ntfs/NtfsRecord.h"
#include "fs/ntfs/NtfsRunList.h"
#include "volumes/ByteRuns.h"
#include "volumes/VolumeRecord.h"

#include <array>
#include <unordered_map>
#include <vector>

namespace ondrel {

class ntfs {
public:
    ntfs(const ByteSource& reader, VolumeRecord volume);

    // Where the next procedure reports, and its stop and pause flags.
    void reportTo(ScanObserver& observer, WorkControl& control) {
        observer_ = &observer;
        control_ = &control;
    }
    // The recovery mode the tree is built for (3: deep).
    void setMode(int mode) { mode_ = mode; }

    // The scan procedures of the three recovery modes.
    bool scanStandard();   // boot sector, MFT (swept for when the boot sector is damaged), tree
    bool scanDeep();       // every record of the volume, all under "ORPHAN_ENTRY"
    // Advanced mode: find copies of the MFT's own record, then read the MFT along
    // the chosen copy's runs with the chosen cluster size (0: the boot sector's).
    int findMftRecords(int maxCount);
    bool scanAdvanced(int choice, int sectorsPerCluster);

    // The clusters the $Bitmap (MFT record 6) marks free, as byte runs of the
    // volume. Reads the boot sector, the MFT's own record, record 6 and the
    // bitmap with a parser of its own, so what a scan set up stays as it is.
    bool freeSpace(std::vector<ByteRun>& runs, ScanObserver& observer, WorkControl& control, std::string& message) const;

    // A record read from the image, fixed up; false when it cannot be read.
    bool readRecord(std::int64_t diskOffset, std::vector<std::uint8_t>& out);
    // Disk offset of MFT record number n, or -1 when the MFT runs do not reach it.
    std::int64_t recordOffset(std::uint64_t recordNumber) const;
    // Gives an entry a new name for the rest of the session.
    void rename(std::int64_t index, const std::string& name);

    const std::vector<NtfsEntry>& entries() const { return entries_; }
    const std::vector<NtfsEntry>& foundMft() const { return foundMft_; }
    // The folder tree over entries, built at the end of a scan.
    const EntryTree& tree() const { return tree_; }
    std::int64_t orphanIndex() const { return orphanIndex_; }
    std::int64_t rootIndex() const { return rootIndex_; }
    int mode() const { return mode_; }
    std::int64_t clusterSize() const { return clusterSize_; }
    std::int64_t volumeSize() const { return volumeSize_; }
    // Why the last procedure failed, when it did for more than a missing boot sector.
    const std::string& failure() const { return failure_; }
    // Damage the last scan read past.
    const std::vector<std::string>& damage() const { return damage_; }

private:
    friend class NtfsExtractor;  // reads clusters and records with the parser's geometry

    // Steps shared by the procedures.
    void prepare();
    bool readBootSector();
    bool locateMft();
    void walkMft();
    void finishTree();
    bool takeRunsFromFound(int choice);
    bool readFreeSpace(std::vector<ByteRun>& runs, std::string& message);
    // Whether the scan found any record; notes what could not be read.
    bool foundRecords();

    std::vector<NtfsEntry> entries_;
    std::vector<NtfsEntry> foundMft_;
    std::vector<NtfsRun> mftRuns_;
    std::array<std::uint8_t, 512> bootSector_{};
    bool bootSectorValid_ = false;
    std::int64_t volumeSize_ = 0;
    std::int64_t clusterSize_ = 0;
    std::int64_t mftOffset_ = 0;
    std::uint32_t recordSize_ = 1024;
    bool mftRunsKnown_ = false;
    bool takeRunsFromFirstEntry_ = true;
    bool lookForMft_ = true;
    int mode_ = 1;
    std::int64_t orphanIndex_ = -1;
    std::int64_t rootIndex_ = 5;

    const ByteSource& reader_;
    VolumeRecord volume_;
    WorkControl ownControl_;
    ScanObserver* observer_ = &silentObserver();
    WorkControl* control_ = &ownControl_;

    // Appends an entry for a record slot and decodes it.
    NtfsEntry& addEntry(Bytes raw, std::int64_t diskOffset);
    void decode(NtfsEntry& e, Bytes raw);
    std::vector<NtfsRun> dataRuns(Bytes raw) const;
    void link();
    void linkDeep();
    void fillSizesFromExtensions();
    void addHardLinks(bool copies);
    // The sector sweep shared by the corrupt-boot sweep, the deep scan and the finder.
    template <typename OnRecord>
    void sweep(std::int64_t limit, OnRecord onRecord);

    EntryTree tree_;
    std::int64_t unreadableMftBytes_ = 0;
    std::string failure_;
    std::vector<std::string> damage_;
    std::unordered_map<std::uint64_t, std::int64_t> recordByNumber_;  // deep scan: record number -> disk offset
    // Further names of files with several (hard links), added after decoding.
    struct HardLink {
        std::int64_t index;         // the entry it names, or -1: the entry of baseRecord
        std::uint64_t baseRecord;
        std::string name;
        std::int64_t parent;
        std::uint32_t attributes;
        int nameSpace;
    };
    std::vector<HardLink> extraLinks_;
};

}  // namespace ondrel
