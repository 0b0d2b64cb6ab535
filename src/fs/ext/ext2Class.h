#pragma once
// The ext2/3/4 parser: the superblock (or a backup when it is gone), the group
// descriptors, inodes read one at a time through a cache of inode-table
// blocks, the folder walk from the root (live names and the deleted names in
// record slack) and file extraction at each block's logical place.
#include "common/IoBuffer.h"
#include "common/ScanObserver.h"
#include "common/WorkControl.h"
#include "diskimage/ByteSource.h"
#include "fs/DataSink.h"
#include "fs/EntryTree.h"
#include "fs/FileSystemAdapter.h"
#include "fs/ext/ExtBlockMap.h"
#include "fs/ext/ExtGroupDescriptor.h"
#include "fs/ext/ExtInode.h"
#include "fs/ext/ExtInodeRecord.h"
#include "fs/ext/ExtSuperblock.h"
#include "volumes/ByteRuns.h"
#include "volumes/VolumeRecord.h"

#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace ondrel {

class ext2Class {
public:
    ext2Class(const ByteSource& reader, VolumeRecord volume);

    void reportTo(ScanObserver& observer, WorkControl& control) {
        observer_ = &observer;
        control_ = &control;
    }

    // False with the reason when no superblock or descriptor table can be read.
    bool scanStandard(std::string& failure);
    // The journal mode: the standard scan, then every deleted inode whose
    // newest copy in the journal still maps data, named from a journalled
    // folder block where one names it, else "inode_<N>" under "ORPHAN_ENTRY".
    bool scanJournal(std::string& failure);
    // Where the journal (inode 8) starts, in bytes from the volume's start; -1 without one.
    std::int64_t journalOffset();

    // The blocks the groups' block bitmaps mark free (a group whose bitmap was
    // never written: all but its own metadata), as byte runs of the volume.
    // Reads the superblock, the descriptors and the bitmaps with a parser of
    // its own, so what a scan set up stays as it is.
    bool freeSpace(std::vector<ByteRun>& runs, ScanObserver& observer, WorkControl& control, std::string& message) const;

    // Writes a file's data (a symlink's target); NoData for what holds none
    // (device nodes, sockets, a deleted file whose inode was cleared).
    WriteResult extract(const ExtInodeRecord& record, DataSink& sink);

    // Record 0 is the root folder, "ROOT".
    const std::vector<ExtInodeRecord>& records() const { return records_; }
    const EntryTree& tree() const { return tree_; }
    const ExtGeometry& geometry() const { return geometry_; }
    const std::vector<std::string>& damage() const { return damage_; }
    void rename(std::int32_t index, const std::string& name);

    bool readInode(std::uint32_t number, ExtInode& out);
    // Sets aside flags that name features the volume does not have, noting it.
    void sanitizeFlags(std::uint32_t number, ExtInode& inode);

private:
    bool findSuperblock(std::string& reason);
    bool readGroupDescriptors(std::string& reason);
    bool readFreeSpace(std::vector<ByteRun>& runs, std::string& message);
    bool readBlock(std::uint64_t block, std::vector<std::uint8_t>& out);
    void walk();
    // Calls onBlock for each block of a folder's data (inline data as one
    // piece), each physical block at most once per scan.
    void forEachFolderBlock(const ExtInode& dir, std::uint32_t number, std::int32_t dirIndex,
                            const std::function<void(Bytes, bool first)>& onBlock);
    bool dataRuns(const ExtInode& inode, std::vector<ExtRun>& runs);
    void linkTree(std::int32_t orphan);
    bool writeZeros(DataSink& sink, std::uint64_t count);

    ScanObserver* observer_;
    WorkControl* control_;
    WorkControl ownControl_;
    const ByteSource& reader_;
    VolumeRecord volume_;
    ExtGeometry geometry_;
    std::vector<ExtGroupDescriptor> groups_;
    std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> tableBlocks_;
    std::unordered_map<std::uint64_t, std::int32_t> folderBlocksRead_;  // block -> the folder's record
    std::unordered_map<std::uint32_t, ExtInode> journalInodes_;         // inode number -> its journalled copy
    std::vector<ExtInodeRecord> records_;
    EntryTree tree_;
    std::vector<std::string> damage_;
    std::unordered_set<std::uint32_t> badFlagsNoted_;  // inodes whose flags were set aside
    IoBuffer readBuffer_;
};

}  // namespace ondrel
