// The XFS fixture volumes made by mkfs.xfs from protofiles (v5 with 4 KiB
// blocks, v4 with 1 KiB blocks, 64 KiB blocks) and one written and unlinked
// from through the kernel (hard links, sparse, fragmented and preallocated
// files, files removed by the kernel): the superblock as xfs_db
// reads it, every file by path with the type, size, modification time, link
// count and content xfs_db gives, every folder's entry count in whatever form
// it is kept, and what damage leaves readable.
#include "diskimage/MemoryReader.h"
#include "fs/xfs/XfsAdapter.h"
#include "fs/xfs/XfsFreeSpace.h"
#include "results/ScanDriver.h"
#include "unit/AdapterPaths.h"
#include "unit/TestSupport.h"
#include "unit/XfsScanned.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

namespace ondrel::test {

namespace {

std::unique_ptr<XfsOpened> scanned(const ByteVector& disk) { return xfsScanned(disk); }

const char* const kImages[] = {"xfs-v5", "xfs-v4", "xfs-64k", "xfs-kernel"};

// The rows of a manifest for one image.
std::vector<std::vector<std::string>> rowsOf(const std::string& file, const std::string& image) {
    std::vector<std::vector<std::string>> out;
    for (auto& row : manifestRows(file))
        if (!row.empty() && row[0] == image) out.push_back(std::move(row));
    return out;
}

std::string typeOf(const XfsAdapter& a, EntryId e) {
    if (a.isFolder(e)) return "d";
    if (a.isLink(e)) return "l";
    const XfsRecord& r = a.volume().records()[static_cast<std::size_t>(e)];
    switch (r.mode & 0170000) {
    case 0100000: return "r";
    case 0020000: return "c";
    case 0060000: return "b";
    case 0010000: return "p";
    default: return "?";
    }
}

}  // namespace

TEST(XfsFixtureTest, TheSuperblockIsReadAsXfsDbReadsIt) {
    int images = 0;
    for (const auto& row : manifestRows("xfs-superblock.expected")) {
        if (fixture(row[0] + ".img").empty()) continue;
        ++images;
        auto o = scanned(readFile(fixture(row[0] + ".img")));
        ASSERT_TRUE(o->ok) << row[0];
        const XfsSuperblock& sb = o->adapter->volume().superblock();
        EXPECT_EQ(sb.blockSize, std::stoul(row[1])) << row[0];
        EXPECT_EQ(sb.sectorSize, std::stoul(row[2])) << row[0];
        EXPECT_EQ(sb.agCount, std::stoul(row[3])) << row[0];
        EXPECT_EQ(sb.agBlocks, std::stoul(row[4])) << row[0];
        EXPECT_EQ(sb.dataBlocks, std::stoull(row[5])) << row[0];
        EXPECT_EQ(sb.inodeSize, std::stoul(row[6])) << row[0];
        EXPECT_EQ(sb.inodesPerBlock, std::stoul(row[7])) << row[0];
        EXPECT_EQ(sb.dirBlockLog, std::stoul(row[8])) << row[0];
        EXPECT_EQ(sb.rootInode, std::stoull(row[9])) << row[0];
        EXPECT_EQ(sb.versionBits, std::stoul(row[12], nullptr, 16)) << row[0];
        EXPECT_EQ(sb.incompat, std::stoul(row[16], nullptr, 16)) << row[0];
        EXPECT_TRUE(sb.checksumOk) << row[0];
        EXPECT_EQ(sb.label, row.size() > 19 ? row[19] : "") << row[0];
    }
    EXPECT_GT(images, 0);
}

// Every file xfs_db lists: its type, size, time and links, and its bytes (the
// source file's) or its link's target. Hard links are listed under each name.
TEST(XfsFixtureTest, EveryFileByPathWithTheSizeTimeLinksAndBytesXfsDbGives) {
    int images = 0;
    for (const char* image : kImages) {
        if (fixture(std::string(image) + ".img").empty()) continue;
        ++images;
        const auto rows = rowsOf("xfs-files.manifest", image);
        ASSERT_GT(rows.size(), 10u) << image;
        auto o = scanned(readFile(fixture(std::string(image) + ".img")));
        ASSERT_TRUE(o->ok) << image;
        XfsAdapter& a = *o->adapter;
        auto paths = reachablePaths(a);
        paths["/"] = a.rootEntry();
        const auto saved = saveAllHashes(a);  // by path without the leading "/"
        int files = 0;
        for (const auto& row : rows) {
            const std::string& path = row[7];
            auto it = paths.find(path);
            ASSERT_NE(it, paths.end()) << image << ": " << path;
            const EntryId e = it->second;
            const XfsRecord& r = a.volume().records()[static_cast<std::size_t>(e)];
            EXPECT_EQ(r.inode, std::stoull(row[1])) << image << ": " << path;
            EXPECT_EQ(typeOf(a, e), row[2]) << image << ": " << path;
            EXPECT_EQ(r.size, std::stoull(row[3])) << image << ": " << path;
            const std::string& mtime = row[4];
            const auto dot = mtime.find('.');
            EXPECT_EQ(r.mtime.seconds, std::stoll(mtime.substr(0, dot))) << image << ": " << path;
            EXPECT_EQ(r.mtime.nanoseconds, std::stoul(mtime.substr(dot + 1))) << image << ": " << path;
            EXPECT_EQ(r.links, std::stoul(row[5])) << image << ": " << path;
            if (row[6] != "-") {
                auto h = saved.find(path.substr(1));
                ASSERT_NE(h, saved.end()) << image << ": " << path << " was not saved";
                EXPECT_EQ(h->second, row[6]) << image << ": " << path;
                ++files;
            }
        }
        EXPECT_GT(files, 5) << image;
        EXPECT_TRUE(a.damage().empty()) << image << ": " << a.damage().front();
    }
    EXPECT_GT(images, 0);
}

// Short-form, block, leaf and node folders (and one whose map is a B+tree
// where the fixture has one) list as many entries as xfs_db counts.
TEST(XfsFixtureTest, FoldersOfEveryFormListEveryEntry) {
    int images = 0;
    std::set<std::string> forms;
    for (const char* image : kImages) {
        if (fixture(std::string(image) + ".img").empty()) continue;
        ++images;
        auto o = scanned(readFile(fixture(std::string(image) + ".img")));
        ASSERT_TRUE(o->ok) << image;
        auto paths = reachablePaths(*o->adapter);
        paths["/"] = o->adapter->rootEntry();
        for (const auto& row : rowsOf("xfs-dirs.expected", image)) {
            auto it = paths.find(row[10]);
            ASSERT_NE(it, paths.end()) << image << ": " << row[10];
            std::size_t live = 0;
            // Removed files and the folder of those no folder names (it has no inode) are not the folder's entries.
            for (EntryId c : o->adapter->children(it->second))
                live += o->adapter->isDeleted(c) || o->adapter->volume().records()[static_cast<std::size_t>(c)].inode == 0 ? 0 : 1;
            EXPECT_EQ(live, std::stoul(row[2])) << image << ": " << row[10] << " (" << row[4] << ")";
            forms.insert(row[4]);
            forms.insert(row[3]);
        }
    }
    EXPECT_GT(images, 0);
    for (const char* form : {"shortform", "block", "leaf", "node"}) EXPECT_TRUE(forms.count(form)) << form;
}

// A removed file whose name is left in its folder's unused space is listed
// there as deleted, and the blocks its freed inode still names give its bytes
// (whole blocks: the inode's size is gone) while the free-space tree keeps them
// free; a live file's blocks are in use.
TEST(XfsFixtureTest, RemovedFilesAreListedFromTheirLeftNamesAndSavedFromTheirFreeBlocks) {
    int rows = 0;
    for (const auto& row : manifestRows("xfs-deleted.expected")) {
        // A name the folder no longer holds (short form) leaves nothing to list it by.
        if (fixture(row[0] + ".img").empty() || row[4] == "-") continue;
        ++rows;
        const ByteVector disk = readFile(fixture(row[0] + ".img"));
        auto o = scanned(disk);
        ASSERT_TRUE(o->ok);
        XfsAdapter& a = *o->adapter;
        auto paths = reachablePaths(a);
        auto it = paths.find(row[9]);
        ASSERT_NE(it, paths.end()) << row[0] << ": " << row[9];
        EXPECT_TRUE(a.isDeleted(it->second));
        const XfsRecord& r = a.volume().records()[static_cast<std::size_t>(it->second)];
        EXPECT_EQ(r.inode, std::stoull(row[3]));
        const std::uint64_t size = std::stoull(row[5]);
        EXPECT_GE(r.size, size);
        EXPECT_LT(r.size, size + a.volume().superblock().blockSize);
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(a.readContent(it->second, bytes, std::size_t(1) << 26));
        ASSERT_GE(bytes.size(), size);
        bytes.resize(static_cast<std::size_t>(size));
        TempDir dir;
        writeFile(dir.file("removed"), bytes);
        std::string sum;
        runCommand("sha256sum " + quoted(dir.file("removed")), &sum);
        EXPECT_EQ(sum.substr(0, 64), row[6]) << row[0] << ": " << row[9];

        // The free-space tree: the removed file's blocks are free, a live file's are not.
        const XfsSuperblock& sb = a.volume().superblock();
        MemoryReader reader(disk);
        auto block = [&](std::uint64_t b, std::vector<std::uint8_t>& out) {
            out.assign(sb.blockSize, 0);
            return sb.blockByte(b) >= 0 && reader.readAt(sb.blockByte(b), out.data(), out.size());
        };
        auto agf = [&](std::uint32_t ag, std::vector<std::uint8_t>& out) {
            out.assign(sb.sectorSize, 0);
            return reader.readAt(static_cast<std::int64_t>(std::uint64_t(ag) * sb.agBlocks * sb.blockSize) + sb.sectorSize, out.data(), out.size());
        };
        ASSERT_FALSE(r.remnant.empty());
        EXPECT_EQ(xfsBlocksState(sb, block, agf, r.remnant[0].fsBlock, r.remnant[0].count), XfsBlocksState::Free);
        XfsVolume v(reader, VolumeRecord{});
        std::string failure, why;
        ASSERT_TRUE(v.scanStandard(failure));
        for (const auto& file : rowsOf("xfs-files.manifest", row[0])) {
            if (file[2] != "r" || std::stoull(file[3]) < 8192) continue;
            XfsInode n;
            ASSERT_TRUE(v.readInode(std::stoull(file[1]), n, why));
            if (n.format != XfsFork::Extents) continue;
            const XfsExtent e = xfsExtentAt(n.dataFork);
            EXPECT_EQ(xfsBlocksState(sb, block, agf, e.fsBlock, e.count), XfsBlocksState::InUse) << file[7];
            break;
        }
    }
    EXPECT_GT(rows, 0);
}

// A removed file no folder names any more (the kernel took its entry out of a
// short-form folder) is found from the free inodes of the inode trees, its
// block map a B+tree whose root the freed inode still holds, and listed as
// ORPHAN_ENTRY/inode_<N> with its bytes; one a folder still names is not
// listed twice.
TEST(XfsFixtureTest, RemovedFilesNoFolderNamesAreFoundFromTheFreeInodes) {
    int rows = 0;
    for (const auto& row : manifestRows("xfs-deleted.expected")) {
        if (fixture(row[0] + ".img").empty()) continue;
        auto o = scanned(readFile(fixture(row[0] + ".img")));
        ASSERT_TRUE(o->ok);
        XfsAdapter& a = *o->adapter;
        const auto paths = reachablePaths(a);
        const auto orphan = paths.find("/ORPHAN_ENTRY/inode_" + row[3]);
        if (row[4] != "-") {
            EXPECT_EQ(orphan, paths.end()) << row[0] << ": " << row[9] << " is listed twice";
            continue;
        }
        ++rows;
        ASSERT_NE(orphan, paths.end()) << row[0] << ": inode " << row[3];
        EXPECT_TRUE(a.isDeleted(orphan->second));
        const std::uint64_t size = std::stoull(row[5]);
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(a.readContent(orphan->second, bytes, std::size_t(1) << 26));
        ASSERT_GE(bytes.size(), size);
        bytes.resize(static_cast<std::size_t>(size));
        TempDir dir;
        writeFile(dir.file("orphan"), bytes);
        std::string sum;
        runCommand("sha256sum " + quoted(dir.file("orphan")), &sum);
        EXPECT_EQ(sum.substr(0, 64), row[6]) << row[0] << ": " << row[9];
        const XfsRecord& r = a.volume().records()[static_cast<std::size_t>(orphan->second)];
        std::size_t extents = 1;
        for (char c : row[8]) extents += c == ',';
        EXPECT_EQ(r.remnant.size(), extents) << row[9];
    }
    EXPECT_GT(rows, 0);
}

// The free space the groups' trees list: no live file's block lies in it, the
// removed file's blocks do, and it is a real share of the volume.
TEST(XfsFixtureTest, FreeSpaceHoldsTheRemovedFilesBlocksAndNoLiveOnes) {
    int images = 0;
    for (const auto& row : manifestRows("xfs-deleted.expected")) {
        if (fixture(row[0] + ".img").empty() || row[4] == "-") continue;
        ++images;
        const ByteVector disk = readFile(fixture(row[0] + ".img"));
        MemoryReader reader(disk);
        XfsAdapter fresh(reader, VolumeRecord{});
        std::vector<ByteRun> runs;
        std::string message;
        WorkControl control;
        ASSERT_TRUE(fresh.freeSpace(runs, silentObserver(), control, message)) << message;
        ASSERT_FALSE(runs.empty());
        std::int64_t total = 0;
        for (const ByteRun& r : runs) total += r.length;
        EXPECT_GT(total, static_cast<std::int64_t>(disk.size() / 10)) << row[0];
        auto isFree = [&](std::int64_t at, std::int64_t length) {
            auto it = std::upper_bound(runs.begin(), runs.end(), at, [](std::int64_t o, const ByteRun& r) { return o < r.offset; });
            return it != runs.begin() && at + length <= std::prev(it)->offset + std::prev(it)->length;
        };
        auto overlapsFree = [&](std::int64_t at, std::int64_t length) {
            for (const ByteRun& r : runs)
                if (r.offset < at + length && at < r.offset + r.length) return true;
            return false;
        };
        auto o = scanned(disk);
        ASSERT_TRUE(o->ok);
        const XfsSuperblock& sb = o->adapter->volume().superblock();
        XfsVolume v(reader, VolumeRecord{});
        ASSERT_TRUE(v.scanStandard(message));
        int checked = 0;
        for (const XfsRecord& r : o->adapter->volume().records()) {
            XfsInode n;
            std::string why;
            if (r.deleted) {
                for (const XfsExtent& e : r.remnant)
                    EXPECT_TRUE(isFree(sb.blockByte(e.fsBlock), static_cast<std::int64_t>(e.count * sb.blockSize))) << r.name;
                continue;
            }
            if (!r.isRegular() || !v.readInode(r.inode, n, why) || n.format != XfsFork::Extents) continue;
            for (std::size_t k = 0; k < std::min<std::size_t>(n.extents, n.dataFork.size() / 16); ++k) {
                const XfsExtent e = xfsExtentAt(Bytes(n.dataFork).subspan(k * 16, 16));
                EXPECT_FALSE(overlapsFree(sb.blockByte(e.fsBlock), static_cast<std::int64_t>(e.count * sb.blockSize))) << r.name;
                ++checked;
            }
            if (checked > 200) break;
        }
        EXPECT_GT(checked, 0);
    }
    EXPECT_GT(images, 0);
}

// Damage is said and reading goes on: a primary superblock gone (the second
// group's copy stands in), an inode whose checksum fails, a folder block of
// garbage (its entries are lost, the others stay).
TEST(XfsFixtureTest, DamageIsReportedAndTheRestIsRead) {
    if (fixture("xfs-v5.img").empty()) GTEST_SKIP() << "the XFS fixtures are missing";
    const ByteVector disk = readFile(fixture("xfs-v5.img"));
    auto clean = scanned(disk);
    ASSERT_TRUE(clean->ok);
    const XfsSuperblock sb = clean->adapter->volume().superblock();
    const std::size_t live = reachablePaths(*clean->adapter).size();

    auto damaged = [&](const std::function<void(ByteVector&)>& edit) {
        ByteVector copy = disk;
        edit(copy);
        return scanned(copy);
    };
    auto noSuper = damaged([](ByteVector& d) { std::fill_n(d.begin(), 512, std::uint8_t{0}); });
    ASSERT_TRUE(noSuper->ok);
    EXPECT_EQ(reachablePaths(*noSuper->adapter).size(), live);
    ASSERT_FALSE(noSuper->adapter->damage().empty());
    EXPECT_NE(noSuper->adapter->damage().front().find("copy at byte"), std::string::npos) << noSuper->adapter->damage().front();

    // A byte of a file's inode (its access time) changed: the checksum fails, the file is still listed.
    const auto rows = rowsOf("xfs-files.manifest", "xfs-v5");
    std::uint64_t fileInode = 0;
    for (const auto& row : rows)
        if (row[2] == "r") fileInode = std::stoull(row[1]);
    ASSERT_NE(fileInode, 0u);
    auto badInode = damaged([&](ByteVector& d) { d[static_cast<std::size_t>(sb.inodeByte(fileInode)) + 33] ^= 1; });
    ASSERT_TRUE(badInode->ok);
    EXPECT_EQ(reachablePaths(*badInode->adapter).size(), live);
    bool said = false;
    for (const std::string& m : badInode->adapter->damage()) said = said || m.find("inode " + std::to_string(fileInode)) != std::string::npos;
    EXPECT_TRUE(said);

    // A B+tree block map (the kernel's 150-extent file) whose leaf is garbled:
    // the file is listed, its save fails, and the map's fault is said.
    if (!fixture("xfs-kernel.img").empty()) {
        const ByteVector kernel = readFile(fixture("xfs-kernel.img"));
        std::string failure, why;
        auto k = scanned(kernel);
        ASSERT_TRUE(k->ok);
        const XfsSuperblock& ksb = k->adapter->volume().superblock();
        auto kpaths = reachablePaths(*k->adapter);
        ASSERT_TRUE(kpaths.count("/frag/fragmented.bin"));
        const std::uint64_t ino = k->adapter->volume().records()[static_cast<std::size_t>(kpaths["/frag/fragmented.bin"])].inode;
        XfsInode n;
        MemoryReader kreader(kernel);
        XfsVolume kv(kreader, VolumeRecord{});
        ASSERT_TRUE(kv.scanStandard(failure));
        ASSERT_TRUE(kv.readInode(ino, n, why));
        ASSERT_EQ(n.format, XfsFork::Btree);
        const std::size_t room = (n.dataFork.size() - 4) / 16;
        const std::int64_t leaf = ksb.blockByte(be64(n.dataFork, 4 + room * 8));
        ASSERT_GE(leaf, 0);
        ByteVector copy = kernel;
        copy[static_cast<std::size_t>(leaf)] ^= 0xff;
        auto broken = scanned(copy);
        ASSERT_TRUE(broken->ok);
        auto bpaths = reachablePaths(*broken->adapter);
        ASSERT_TRUE(bpaths.count("/frag/fragmented.bin"));
        TempDir dir;
        EXPECT_NE(broken->adapter->writeFile(bpaths["/frag/fragmented.bin"], dir.file("f")), WriteResult::Written);
        bool said = false;
        for (const std::string& m : broken->adapter->damage()) said = said || m.find("block-map") != std::string::npos;
        EXPECT_TRUE(said);
    }

    // The root folder's first data block garbled: what it listed is lost, the scan still ends well.
    XfsInode root;
    std::string why;
    XfsVolume probe(*clean->reader, VolumeRecord{});
    std::string failure;
    ASSERT_TRUE(probe.scanStandard(failure));
    ASSERT_TRUE(probe.readInode(sb.rootInode, root, why));
    if (root.format == XfsFork::Extents) {
        const XfsExtent first = xfsExtentAt(root.dataFork);
        const std::int64_t at = sb.blockByte(first.fsBlock);
        ASSERT_GE(at, 0);
        auto badFolder = damaged([&](ByteVector& d) {
            for (std::size_t i = 0; i < sb.blockSize; ++i) d[static_cast<std::size_t>(at) + i] = static_cast<std::uint8_t>(i * 7);
        });
        ASSERT_TRUE(badFolder->ok);
        EXPECT_LT(reachablePaths(*badFolder->adapter).size(), live);
        EXPECT_FALSE(badFolder->adapter->damage().empty());
    }
}

}  // namespace ondrel::test
