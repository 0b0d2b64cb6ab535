#pragma once
// The FAT16 and FAT32 parsers: geometry from the boot sector, FAT lookups,
// the directory walk (long names, deleted entries and folders) into a list of
// FatEntryRecords linked as a tree, and file extraction.
#include "common/ScanObserver.h"
#include "common/WorkControl.h"
#include "diskimage/ByteSource.h"
#include "fs/ClusterTable.h"
#include "fs/EntryTree.h"
#include "fs/FileSystemAdapter.h"
#include "fs/FileSystemKind.h"
#include "fs/fat/FatBootSector.h"
#include "fs/fat/FatEntryRecord.h"
#include "fs/DataSink.h"
#include "volumes/ByteRuns.h"
#include "volumes/VolumeRecord.h"

#include <set>
#include <unordered_map>
#include <vector>

namespace ondrel {

class FatParser {
public:
    FatParser(const ByteSource& reader, VolumeRecord volume, bool fat32);
    virtual ~FatParser() = default;

    // Where the next procedure reports, and its stop and pause flags.
    // "Is Drive Formated..?": no FAT chain is followed; file data comes from
    // consecutive clusters.
    void setDriveFormatted(bool formatted) { driveFormatted_ = formatted; }
    void reportTo(ScanObserver& observer, WorkControl& control) {
        observer_ = &observer;
        control_ = &control;
    }

    // The standard scan: false with the reason when the boot sector is not FAT
    // or the root folder cannot be read.
    bool scanStandard(std::string& failure);

    // Advanced mode, for a volume whose boot sector is lost: sectors that start
    // like a FAT (media byte F8 and the end-of-chain entry), at most maxCount.
    std::vector<std::int64_t> findFatCopies(int maxCount);
    // Reads the volume with the chosen FAT copy and cluster size: the data area
    // is located from the "." entries of directory clusters found by a sweep,
    // the root is walked, and directories no walk reached are shown under
    // "ORPHAN ENTRY". False with a message for an unusable choice.
    bool scanAdvanced(int fatChoice, int sectorsPerCluster, std::string& failure);
    const std::vector<std::int64_t>& foundFats() const { return foundFats_; }
    // Sectors per cluster the boot sector states, when it is still readable.
    int bootSectorsPerCluster() const { return bootSectorsPerCluster_; }

    // The clusters whose entry in the first FAT is 0, as byte runs of the
    // volume. Reads the boot sector and the FAT with a parser of its own, so
    // what a scan set up (an advanced choice among it) stays as it is.
    bool freeSpace(std::vector<ByteRun>& runs, ScanObserver& observer, WorkControl& control, std::string& message) const;

    // The cluster after c, or 0 at the end of the chain (or when c is invalid).
    std::uint32_t nextCluster(std::uint32_t c);
    // Writes a file's data: ReadFailed when some of it could not be read from
    // the image, WriteFailed when the sink refused it.
    WriteResult extract(const FatEntryRecord& record, DataSink& sink);
    // Damage the last scan read past: folders cut short or unreadable.
    const std::vector<std::string>& damage() const { return damage_; }

    bool fat32() const { return geometry_.fat32; }
    const char* kindText() const { return geometry_.fat32 ? "Fat32" : "Fat16"; }

    // Record 0: the root, "DUMMY ENTRY".
    const std::vector<FatEntryRecord>& records() const { return records_; }
    // The folder tree over records, built at the end of a scan.
    const EntryTree& tree() const { return tree_; }
    const FatGeometry& geometry() const { return geometry_; }
    // Gives a record a new name for the rest of the session.
    void rename(std::int32_t index, const std::string& name);

private:
    bool driveFormatted_ = false;
    bool checkBootSector();
    bool readFreeSpace(std::vector<ByteRun>& runs, std::string& message);

    std::vector<std::int64_t> foundFats_;
    std::vector<FatEntryRecord> records_;
    FatGeometry geometry_;
    std::int64_t volumeBytes_ = 0;
    ScanObserver* observer_;
    WorkControl* control_;
    const ByteSource& reader_;
    VolumeRecord volume_;
    ClusterTable fat_;

    struct PendingName {
        std::vector<std::string> parts;  // in disk order (last part first)
        bool deleted = false;
        std::uint8_t checksum = 0;
        void clear() {
            parts.clear();
            deleted = false;
        }
    };
    void walk();
    // Walks the folders waiting on the stack (and what they contain).
    void walkPending(std::vector<std::int32_t>& pending);
    // The bytes of one directory: the FAT16 root region or a cluster chain.
    std::vector<std::uint8_t> readDirectory(std::int32_t dirIndex);
    void parseDirectory(std::int32_t dirIndex, const std::vector<std::uint8_t>& data, std::vector<std::int32_t>& pending);
    void link();
    std::uint32_t fatEntry(std::uint32_t c);

    // The slot test of the advanced mode (a 32-byte slot that looks like a file
    // entry), and the listing of such slots that no walk reached.
    bool fileSlotCandidate(const std::uint8_t* slot, std::uint32_t clusterCount) const;
    void listStrayEntries(const std::vector<std::int64_t>& candidates, std::int64_t dataOffset, std::int32_t orphanIndex);
    bool trackSlots_ = false;  // advanced mode: remember the slots the walks read

    EntryTree tree_;
    std::vector<std::string> damage_;
    bool rootUnreadable_ = false;
    std::set<std::uint32_t> dirClustersRead_;
    std::set<std::int64_t> visitedSlots_;     // volume offsets of slots the walks read
    std::vector<std::int64_t> dirPieces_;     // where the bytes of the directory being parsed came from
    std::uint64_t dirPieceBytes_ = 0;
    int bootSectorsPerCluster_ = 0;
    WorkControl ownControl_;
};

class Fat16Class : public FatParser {
public:
    Fat16Class(const ByteSource& reader, VolumeRecord volume) : FatParser(reader, std::move(volume), false) {}
};

class Fat32Class : public FatParser {
public:
    Fat32Class(const ByteSource& reader, VolumeRecord volume) : FatParser(reader, std::move(volume), true) {}
};

}  // namespace ondrel
