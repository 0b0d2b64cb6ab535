#pragma once
// The HFS+ / HFSX parser: the volume header (or the alternate one near the
// end), the catalog read node by node through all its extents (Standard) or
// found by sweeping the volume for catalog leaf nodes (Deep), the
// extents-overflow records, the folder tree and the saving of a file's data.
#include "common/IoBuffer.h"
#include "common/ScanObserver.h"
#include "common/WorkControl.h"
#include "diskimage/ByteSource.h"
#include "fs/DataSink.h"
#include "fs/EntryTree.h"
#include "fs/FileSystemAdapter.h"
#include "fs/hfsplus/HfsCatalogRecord.h"
#include "fs/hfsplus/HfsExtentsOverflow.h"
#include "volumes/ByteRuns.h"
#include "volumes/VolumeRecord.h"

#include <unordered_map>
#include <vector>

namespace ondrel {

class HFSP {
public:
    HFSP(const ByteSource& reader, VolumeRecord volume);

    void reportTo(ScanObserver& observer, WorkControl& control) {
        observer_ = &observer;
        control_ = &control;
    }

    // Reads the catalog B-tree node by node. False with the reason when the
    // volume header or the catalog's header node cannot be used.
    bool scanStandard(std::string& failure);
    // Sweeps the volume for catalog leaf nodes; the alternate volume header
    // stands in for a damaged primary.
    bool scanDeep(std::string& failure);

    // The allocation blocks the allocation file marks free, as byte runs of
    // the volume. Reads the volume header, the allocation file (and, when its
    // extents go on there, the extents-overflow file) with a parser of its
    // own, so what a scan set up stays as it is.
    bool freeSpace(std::vector<ByteRun>& runs, ScanObserver& observer, WorkControl& control, std::string& message) const;

    // Writes a file's data fork (a symlink's target; a hard link's inode file;
    // a compressed file decompressed). NoData with a reason when it cannot.
    WriteResult extract(std::int64_t index, DataSink& sink);
    // Why extract gives NoData for this record ("" when it does not).
    std::string noDataReason(std::int64_t index) const;
    // The size shown: the data fork's, or what a compressed file expands to.
    std::uint64_t logicalSize(std::int64_t index) const;

    // Record 0 is the root folder; the rest in descending ID order.
    const std::vector<HfsCatalogRecord>& records() const { return records_; }
    const EntryTree& tree() const { return tree_; }
    const HfsVolumeHeader& header() const { return header_; }
    // The metadata folders of hard links, hidden as the volume hides them.
    bool hidden(std::int64_t index) const;
    const std::vector<std::string>& damage() const { return damage_; }
    void rename(std::int64_t index, const std::string& name);

private:
    bool readHeader(bool allowAlternate, std::string& failure);
    bool readFreeSpace(std::vector<ByteRun>& runs, std::string& message);
    bool findAlternateHeader();
    // Reads count bytes at a fork's byte offset; unmapped or unreadable parts are zeros (false).
    bool readFork(const std::vector<HfsExtent>& extents, std::uint64_t offset, std::uint8_t* out, std::size_t count);
    bool forkExtents(std::uint32_t fileId, std::uint8_t forkType, const HfsFork& fork, std::vector<HfsExtent>& out,
                     const char* what);
    // The descriptor and header record of a B-tree file's node 0; false unless
    // it is a header node with a usable node size.
    bool treeHeader(const std::vector<HfsExtent>& extents, HfsNodeDescriptor& d, HfsHeaderRecord& h);
    // Calls onNode for each node of a B-tree file after its header node, in
    // large reads; false when the header node is not usable.
    bool walkTree(const std::vector<HfsExtent>& extents, std::uint64_t forkBytes, const char* what,
                  const std::function<void(std::uint32_t number, Bytes node, bool inUse)>& onNode,
                  std::uint32_t* nodeSizeOut = nullptr);
    void loadExtentsOverflow();
    void loadCompressionAttributes();
    void keep(HfsCatalogRecord&& r, bool live);
    void decodeLeaf(Bytes node, std::int64_t nodeByte, bool live);
    void finishRecords(bool swept);
    const HfsCatalogRecord* dataRecord(std::int64_t index) const;
    // The record of an own ID; -1 when there is none.
    std::int64_t indexOf(std::uint32_t id) const;
    WriteResult writeFork(std::uint32_t fileId, std::uint8_t forkType, const HfsFork& fork, DataSink& sink);

    ScanObserver* observer_;
    WorkControl* control_;
    WorkControl ownControl_;
    const ByteSource& reader_;
    VolumeRecord volume_;
    HfsVolumeHeader header_;
    std::int64_t volumeBytes_ = 0;
    HfsExtentsOverflow overflow_;
    std::vector<HfsCatalogRecord> found_, stale_;  // while scanning
    std::vector<HfsCatalogRecord> records_;
    std::unordered_map<std::uint32_t, std::vector<std::uint8_t>> decmpfs_;  // file ID -> attribute
    std::int64_t privateFolder_ = -1, privateDirFolder_ = -1;  // the hard links' metadata folders
    std::unordered_map<std::uint32_t, std::int64_t> inodeFiles_;  // N of "iNode<N>" -> record
    EntryTree tree_;
    std::vector<std::string> damage_;
    IoBuffer readBuffer_;
};

}  // namespace ondrel
