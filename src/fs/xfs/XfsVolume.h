#pragma once
// The XFS parser: the superblock (or the copy at the start of the second
// allocation group), then the folder tree from the root inode, each folder
// read in whatever form it is kept, and the saving of a file's data through
// its block map. Checksum failures of version 5 metadata are damage, not a
// stop; a folder met twice is listed but not descended into again.
#include "common/ScanObserver.h"
#include "common/WorkControl.h"
#include "diskimage/ByteSource.h"
#include "fs/DataSink.h"
#include "fs/EntryTree.h"
#include "fs/FileSystemAdapter.h"
#include "fs/xfs/XfsBlockMap.h"
#include "fs/xfs/XfsDirectory.h"
#include "fs/xfs/XfsInode.h"
#include "volumes/ByteRuns.h"
#include "volumes/VolumeRecord.h"

#include <string>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace ondrel {

struct XfsRecord {
    std::string name;
    std::uint64_t inode = 0;
    std::int64_t parentIndex = -1;
    std::uint16_t mode = 0;
    std::uint64_t size = 0;
    std::uint32_t links = 0;
    XfsTime atime, mtime, ctime, crtime;
    bool hasCrtime = false;
    bool readable = true;  // its inode could be read
    bool deleted = false;
    // A removed file: the extent records its freed inode still holds (its
    // size then counts their blocks: the inode's own size is gone).
    std::vector<XfsExtent> remnant;
    // Its size, mode, times and block map come from a copy of its inode in the
    // log: the size is the file's own, not a count of blocks.
    bool fromLog = false;
    bool isDirectory() const { return (mode & 0170000) == 0040000; }
    bool isSymlink() const { return (mode & 0170000) == 0120000; }
    bool isRegular() const { return (mode & 0170000) == 0100000; }
};

class XfsVolume {
public:
    XfsVolume(const ByteSource& reader, VolumeRecord volume);

    void reportTo(ScanObserver& observer, WorkControl& control) {
        observer_ = &observer;
        control_ = &control;
    }

    // Reads the superblock and walks the tree from the root. False with the
    // reason when neither superblock nor the root folder can be used.
    bool scanStandard(std::string& failure) { return scan(failure, false); }
    // The standard scan, then the removed files the log's copies of inodes and
    // folders still describe. False with the reason when there is no log to read.
    bool scanLog(std::string& failure) { return scan(failure, true); }

    // Writes a file's data (a symlink's target).
    WriteResult extract(std::int64_t index, DataSink& sink);
    // The blocks the free-space trees of all groups list, as byte runs of the
    // volume. Reads the superblock itself (callable before a scan).
    bool freeSpace(std::vector<ByteRun>& runs, WorkControl& control, std::string& message);
    // Why a removed file's data cannot be saved ("" when it can).
    std::string noDataReason(std::int64_t index);

    const std::vector<XfsRecord>& records() const { return records_; }
    const EntryTree& tree() const { return tree_; }
    const XfsSuperblock& superblock() const { return sb_; }
    const std::vector<std::string>& damage() const { return damage_; }
    void rename(std::int64_t index, const std::string& name);

    // withFork false: the data fork's bytes are kept for folders only (a
    // listing needs no more).
    bool readInode(std::uint64_t number, XfsInode& out, std::string& why, bool withFork = true);

private:
    bool scan(std::string& failure, bool withLog);
    bool readSuperblock(std::string& failure);
    bool readBlock(std::uint64_t fsBlock, std::vector<std::uint8_t>& out);
    // The bytes of a fork's file blocks [first, first + count): unmapped,
    // unwritten or unreadable blocks are zeros (unreadable ones make it false).
    bool readFileBlocks(const std::vector<XfsExtent>& map, std::uint64_t first, std::uint64_t count, std::vector<std::uint8_t>& out);
    void readFolder(std::size_t index, const XfsInode& inode, std::vector<std::size_t>& queue);
    void addEntry(std::size_t parent, XfsDirEntry entry, std::vector<std::size_t>& queue);
    bool readAgf(std::uint32_t ag, std::vector<std::uint8_t>& out);
    // Freed inodes no folder names that still lead to data, under "ORPHAN_ENTRY".
    void findOrphans();
    std::int64_t orphanFolder();
    // The log's copies: removed files they name are added (before the free
    // inodes are looked at); those no copy names are kept for addLogOrphans.
    bool readLog(std::string& failure);
    void addLogOrphans();
    void takeLogCopy(std::size_t index, const XfsInode& copy, std::vector<XfsExtent> map);
    // The block map a freed inode's B+tree root still gives (its fork's old
    // size is gone: the one whose first pointer leads to a block-map node is taken).
    std::vector<XfsExtent> remnantTree(const XfsInode& inode);
    void note(std::string text);

    ScanObserver* observer_;
    WorkControl* control_;
    WorkControl ownControl_;
    const ByteSource& reader_;
    VolumeRecord volume_;
    XfsSuperblock sb_;
    std::vector<XfsRecord> records_;
    EntryTree tree_;
    std::vector<std::string> damage_;
    std::unordered_set<std::uint64_t> folderInodes_;  // folders read, so none is read twice
    std::int64_t orphanFolder_ = -1;
    // The advanced scan: which folder each directory block read belongs to (a
    // version 4 block does not say), and the log's removed files no name was found for.
    bool withLog_ = false;
    std::unordered_map<std::int64_t, std::uint64_t> folderBlockOwner_;
    struct LogFile {
        XfsInode inode;
        std::vector<XfsExtent> map;
        std::string name;  // from a logged folder whose folder is gone ("" none)
    };
    std::map<std::uint64_t, LogFile> logOrphans_;
    // While a scan runs: the 64 inodes around the last one read (a folder's
    // inodes mostly lie together), so each entry costs no read of its own.
    bool scanning_ = false;
    std::vector<std::uint8_t> cluster_;
    std::int64_t clusterAt_ = -1;
};

}  // namespace ondrel
