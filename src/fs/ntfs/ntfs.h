#pragma once
// The NTFS parser: finds the MFT, decodes every record once, rebuilds the folder
// tree in the entry table (first-child / next-sibling links) and extracts files.
#include "common/ScanObserver.h"
#include "common/WorkControl.h"
#include "diskimage/readWriteInterface.h"
#include "fs/EntryTree.h"
#include "fs/ntfs/NtfsEntry.h"
#include "fs/ntfs/NtfsRecord.h"
#include "fs/ntfs/NtfsRunList.h"
#include "volumes/VolumeRecord.h"

#include <array>
#include <unordered_map>
#include <vector>

namespace ondrel {

class ntfs {
public:
    ntfs(readWriteInterface& reader, VolumeRecord volume);

    // The scan procedures of the three recovery modes.
    bool scanStandard();   // boot sector, MFT (swept for when the boot sector is damaged), tree
    bool scanDeep();       // every record of the volume, all under "ORPHAN_ENTRY"
    // Advanced mode: find copies of the MFT's own record, then read the MFT along
    // the chosen copy's runs with the chosen cluster size (0: the boot sector's).
    int findMftRecords(int maxCount);
    bool takeRunsFromFound(int choice);
    bool scanAdvanced(int choice, int sectorsPerCluster);

    // Steps shared by the procedures.
    void prepare();
    bool readBootSector();
    bool locateMft();
    void walkMft();
    void finishTree();

    // A record read from the image, fixed up; false when it cannot be read.
    bool readRecord(std::int64_t diskOffset, std::vector<std::uint8_t>& out);
    // Disk offset of MFT record number n, or -1 when the MFT runs do not reach it.
    std::int64_t recordOffset(std::uint64_t recordNumber) const;

    std::vector<NtfsEntry> entries;
    std::vector<NtfsEntry> foundMft;
    std::vector<NtfsRun> mftRuns;
    std::array<std::uint8_t, 512> bootSector{};
    bool bootSectorValid = false;
    std::int64_t volumeSize = 0;
    std::int64_t clusterSize = 0;
    std::int64_t mftOffset = 0;
    std::uint32_t recordSize = 1024;
    bool mftRunsKnown = false;
    bool takeRunsFromFirstEntry = true;
    bool lookForMft = true;
    int mode = 1;
    std::int64_t orphanIndex = -1;
    std::int64_t rootIndex = 5;
    // The folder tree over entries, built by finishTree.
    const EntryTree& tree() const { return tree_; }

    readWriteInterface& reader;
    VolumeRecord volume;
    // Where the running procedure reports, and its stop and pause flags.
    ScanObserver* observer = &silentObserver();
    WorkControl* control = &ownControl_;

private:
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
    WorkControl ownControl_;
};

}  // namespace ondrel
