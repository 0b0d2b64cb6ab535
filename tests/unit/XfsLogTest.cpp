// The XFS log and what the advanced mode brings back from it, on the volume
// the kernel wrote and deleted from: the copies xfs_logprint finds, the
// removed files back under their names with their own sizes and bytes (the
// oracle: the files as they were before the kernel deleted them), and what
// damage to the log, and to v5 tree nodes, leaves.
#include "diskimage/MemoryReader.h"
#include "fs/xfs/XfsAdapter.h"
#include "fs/xfs/XfsLog.h"
#include "results/ScanDriver.h"
#include "unit/AdapterPaths.h"
#include "unit/TestSupport.h"
#include "unit/XfsScanned.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>

namespace ondrel::test {

namespace {

std::unique_ptr<XfsOpened> scanned(const ByteVector& disk, RecoveryMode mode) { return xfsScanned(disk, mode); }

std::string sha256(const std::vector<std::uint8_t>& bytes) {
    TempDir dir;
    writeFile(dir.file("f"), bytes);
    std::string sum;
    runCommand("sha256sum " + quoted(dir.file("f")), &sum);
    return sum.substr(0, 64);
}

XfsSuperblock superblockOf(const ByteVector& disk) {
    XfsSuperblock sb;
    std::string why;
    EXPECT_TRUE(decodeXfsSuperblock(Bytes(disk).first(4096), sb, why)) << why;
    return sb;
}

std::vector<std::vector<std::string>> kernelDeletes() {
    std::vector<std::vector<std::string>> out;
    for (auto& row : manifestRows("xfs-deleted.expected"))
        if (row[0] == "xfs-kernel" && row[1] == "kernel") out.push_back(std::move(row));
    return out;
}

}  // namespace

// Every inode and buffer item xfs_logprint prints is one our walk hands on.
TEST(XfsLogTest, TheLogHoldsTheCopiesXfsLogprintFinds) {
    if (fixture("xfs-kernel.img").empty()) GTEST_SKIP() << "the XFS fixtures are missing";
    std::string printed;
    if (runCommand("command -v xfs_logprint >/dev/null") != 0) GTEST_SKIP() << "xfs_logprint (xfsprogs) is not installed";
    ASSERT_EQ(runCommand("xfs_logprint -c -i " + quoted(fixture("xfs-kernel.img")) + " 2>/dev/null", &printed), 0);
    std::size_t inodes = 0, buffers = 0;
    for (std::size_t at = printed.find("INODE: #regs"); at != std::string::npos; at = printed.find("INODE: #regs", at + 1)) ++inodes;
    for (std::size_t at = printed.find("BUF:  #regs"); at != std::string::npos; at = printed.find("BUF:  #regs", at + 1)) ++buffers;
    ASSERT_GT(inodes, 100u);

    const ByteVector disk = readFile(fixture("xfs-kernel.img"));
    const XfsSuperblock sb = superblockOf(disk);
    const std::int64_t start = sb.blockByte(sb.logStart);
    const std::uint64_t bytes = std::uint64_t(sb.logBlocks) * sb.blockSize;
    std::set<std::uint64_t> numbers;
    XfsLogSummary summary;
    std::string message;
    ASSERT_TRUE(readXfsLog(
        sb, bytes,
        [&](std::uint64_t at, std::uint8_t* to, std::size_t n) {
            std::memcpy(to, disk.data() + start + static_cast<std::int64_t>(at), n);
            return true;
        },
        [&](const XfsLogInode& c) {
            numbers.insert(c.number);
            EXPECT_EQ(be16(c.core, 0), 0x494e);
        },
        [](const XfsLogBuffer&) {}, [] { return false; }, summary, message))
        << message;
    EXPECT_EQ(summary.inodeCopies, inodes);
    EXPECT_EQ(summary.bufferCopies, buffers);
    EXPECT_EQ(summary.damagedRecords, 0u);
    for (const auto& row : kernelDeletes()) EXPECT_TRUE(numbers.count(std::stoull(row[3]))) << row[9];
}

// The kernel's removed files come back where they were, with the size they
// had (not a count of blocks) and their bytes; the live tree is unchanged.
TEST(XfsLogTest, TheAdvancedModeBringsBackKernelRemovedFilesWhole) {
    if (fixture("xfs-kernel.img").empty()) GTEST_SKIP() << "the XFS fixtures are missing";
    const ByteVector disk = readFile(fixture("xfs-kernel.img"));
    auto standard = scanned(disk, RecoveryMode::Standard);
    ASSERT_TRUE(standard->ok);
    MemoryReader reader(disk);
    XfsAdapter adapter(reader, VolumeRecord{"XFS", "", "0", std::to_string((disk.size() >> 20) + 1), 0});
    WorkControl control;
    AdvancedSearch found = adapter.findCandidates(3, silentObserver(), control);
    ASSERT_EQ(found.lists.size(), 1u);
    ASSERT_EQ(found.lists[0].items.size(), 1u);
    EXPECT_TRUE(found.chooseWithoutAsking);
    ASSERT_TRUE(choose(adapter, 0, 0));
    ScanDriver driver(adapter, silentObserver());
    ASSERT_TRUE(driver.run(RecoveryMode::Advanced));
    const auto paths = reachablePaths(adapter);
    const auto rows = kernelDeletes();
    ASSERT_GE(rows.size(), 2u);
    for (const auto& row : rows) {
        auto it = paths.find(row[9]);
        ASSERT_NE(it, paths.end()) << row[9];
        EXPECT_TRUE(adapter.isDeleted(it->second));
        EXPECT_EQ(adapter.size(it->second), std::stoull(row[5])) << row[9];
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(adapter.readContent(it->second, bytes, std::size_t(1) << 26));
        EXPECT_EQ(bytes.size(), std::stoull(row[5]));
        EXPECT_EQ(sha256(bytes), row[6]) << row[9];
        EXPECT_FALSE(paths.count("/ORPHAN_ENTRY/inode_" + row[3])) << row[9] << " is listed twice";
        TempDir dir;
        EXPECT_EQ(adapter.writeFile(it->second, dir.file("saved")), WriteResult::Written);
        EXPECT_EQ(readFile(dir.file("saved")).size(), std::stoull(row[5]));
    }
    // Everything live is listed as before, with the same sizes.
    for (const auto& [path, entry] : reachablePaths(*standard->adapter)) {
        if (standard->adapter->isDeleted(entry) || path.starts_with("/ORPHAN_ENTRY")) continue;
        auto it = paths.find(path);
        ASSERT_NE(it, paths.end()) << path;
        EXPECT_EQ(adapter.size(it->second), standard->adapter->size(entry)) << path;
    }

    // The command line takes the mode too.
    CliResult r = runCli("ls " + quoted(fixture("xfs-kernel.img")) + " --start-sector 0 --fs xfs --mode advanced");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("/frag/partner-deleted.bin\tf\t614400\tdeleted"), std::string::npos) << r.out;
}

// A log that wrapped round twice before the files were deleted: records of
// the older cycle stay behind the head, the torn one among them is left out,
// and the deleted files (whose inodes never reached their own blocks with
// data) come back from the newest cycle with their sizes and bytes.
TEST(XfsLogTest, AWrappedLogStillGivesTheFilesDeletedInItsNewestCycle) {
    if (fixture("xfs-wrapped.img").empty()) GTEST_SKIP() << "the XFS log fixture is missing";
    const ByteVector disk = readFile(fixture("xfs-wrapped.img"));
    std::uint32_t cycle = 0;
    std::vector<std::vector<std::string>> victims;
    for (auto& row : manifestRows("xfs-log.expected")) {
        if (row[1] == "CYCLE") cycle = static_cast<std::uint32_t>(std::stoul(row[2]));
        else victims.push_back(std::move(row));
    }
    ASSERT_GE(cycle, 3u);
    ASSERT_EQ(victims.size(), 4u);

    const XfsSuperblock sb = superblockOf(disk);
    const std::int64_t start = sb.blockByte(sb.logStart);
    XfsLogSummary summary;
    std::string message;
    ASSERT_TRUE(readXfsLog(
        sb, std::uint64_t(sb.logBlocks) * sb.blockSize,
        [&](std::uint64_t at, std::uint8_t* to, std::size_t n) {
            std::memcpy(to, disk.data() + start + static_cast<std::int64_t>(at), n);
            return true;
        },
        [](const XfsLogInode&) {}, [](const XfsLogBuffer&) {}, [] { return false; }, summary, message));
    ASSERT_FALSE(summary.recordsByCycle.empty());
    EXPECT_EQ(summary.recordsByCycle.rbegin()->first, cycle);
    EXPECT_TRUE(summary.recordsByCycle.count(cycle - 1)) << "no record of the older cycle is left behind the head";

    auto o = scanned(disk, RecoveryMode::Advanced);
    ASSERT_TRUE(o->ok) << o->failure;
    const auto paths = reachablePaths(*o->adapter);
    for (const auto& row : victims) {
        auto it = paths.find(row[4]);
        ASSERT_NE(it, paths.end()) << row[4];
        EXPECT_TRUE(o->adapter->isDeleted(it->second));
        EXPECT_EQ(o->adapter->volume().records()[static_cast<std::size_t>(it->second)].inode, std::stoull(row[1]));
        EXPECT_EQ(o->adapter->size(it->second), std::stoull(row[2])) << row[4];
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(o->adapter->readContent(it->second, bytes, std::size_t(1) << 26));
        EXPECT_EQ(sha256(bytes), row[3]) << row[4];
    }
    // The standard mode cannot size them: their inodes were freed before
    // their extents were written back.
    auto standard = scanned(disk, RecoveryMode::Standard);
    ASSERT_TRUE(standard->ok);
    const auto before = reachablePaths(*standard->adapter);
    for (const auto& row : victims)
        if (auto it = before.find(row[4]); it != before.end()) {
            EXPECT_NE(standard->adapter->size(it->second), std::stoull(row[2])) << row[4];
        }
}

// A log garbled, emptied or kept on another device: the scan never breaks,
// says what it could not read, and the standard findings stay.
TEST(XfsLogTest, ADamagedOrMissingLogLeavesTheStandardFindings) {
    if (fixture("xfs-kernel.img").empty()) GTEST_SKIP() << "the XFS fixtures are missing";
    const ByteVector disk = readFile(fixture("xfs-kernel.img"));
    const XfsSuperblock sb = superblockOf(disk);
    const std::size_t start = static_cast<std::size_t>(sb.blockByte(sb.logStart));
    const std::size_t bytes = std::size_t(sb.logBlocks) * sb.blockSize;
    const std::size_t live = reachablePaths(*scanned(disk, RecoveryMode::Standard)->adapter).size();

    // Bytes flipped all over the log's records.
    std::mt19937 rng(24);
    for (int round = 0; round < 8; ++round) {
        ByteVector copy = disk;
        std::uniform_int_distribution<std::size_t> at(start, start + 2000 * 512);
        for (int i = 0; i < 400; ++i) copy[at(rng)] ^= static_cast<std::uint8_t>(1 + rng() % 255);
        auto o = scanned(copy, RecoveryMode::Advanced);
        EXPECT_TRUE(o->ok) << o->failure;
        EXPECT_GE(reachablePaths(*o->adapter).size(), live - 2);
    }

    // One sector of a record stamped with another cycle: that record is left
    // out and said; the rest is read.
    {
        ByteVector copy = disk;
        std::size_t header = start;
        for (std::size_t s = 1; s < 4000; ++s)
            if (be32(copy, start + s * 512) == 0xFEEDBABE && be32(copy, start + s * 512 + 12) > 2048) {
                header = start + s * 512;
                break;
            }
        ASSERT_NE(header, start);
        putBe(copy, header + 3 * 512, 7, 4);
        auto o = scanned(copy, RecoveryMode::Advanced);
        ASSERT_TRUE(o->ok);
        bool said = false;
        for (const std::string& m : o->adapter->damage()) said = said || m.find("partly written over") != std::string::npos;
        EXPECT_TRUE(said);
    }

    // No log left: the removed file is still listed from its folder's free
    // space, in whole blocks.
    {
        ByteVector copy = disk;
        std::fill_n(copy.begin() + static_cast<std::ptrdiff_t>(start), bytes, std::uint8_t{0});
        auto o = scanned(copy, RecoveryMode::Advanced);
        ASSERT_TRUE(o->ok);
        bool said = false;
        for (const std::string& m : o->adapter->damage()) said = said || m.find("log gives nothing") != std::string::npos;
        EXPECT_TRUE(said);
        const auto paths = reachablePaths(*o->adapter);
        ASSERT_TRUE(paths.count("/deleted/removed-by-the-kernel.txt"));
        EXPECT_EQ(o->adapter->size(paths.at("/deleted/removed-by-the-kernel.txt")) % sb.blockSize, 0u);
    }

    // A log on another device (the superblock's log start 0): said, not read.
    {
        ByteVector copy = disk;
        putBe(copy, 48, 0, 8);
        auto o = scanned(copy, RecoveryMode::Advanced);
        EXPECT_FALSE(o->ok);
        EXPECT_NE(o->failure.find("another device"), std::string::npos) << o->failure;
    }
}

// A v5 block-map node whose checksum fails (a byte past its records changed)
// is said, and the file is still read whole from it.
TEST(XfsLogTest, TreeNodeChecksumFailuresAreSaidAndNotFatal) {
    if (fixture("xfs-kernel.img").empty()) GTEST_SKIP() << "the XFS fixtures are missing";
    ByteVector disk = readFile(fixture("xfs-kernel.img"));
    std::string sha;
    std::uint64_t ino = 0;
    for (const auto& row : manifestRows("xfs-files.manifest"))
        if (row[0] == "xfs-kernel" && row[7] == "/frag/fragmented.bin") sha = row[6], ino = std::stoull(row[1]);
    ASSERT_NE(ino, 0u);
    const XfsSuperblock sb = superblockOf(disk);
    MemoryReader reader(disk);
    XfsVolume v(reader, VolumeRecord{});
    XfsInode n;
    std::string why;
    ASSERT_TRUE(v.scanStandard(why));
    ASSERT_TRUE(v.readInode(ino, n, why));
    ASSERT_EQ(n.format, XfsFork::Btree);
    const std::size_t room = (n.dataFork.size() - 4) / 16;
    const std::int64_t leaf = sb.blockByte(be64(n.dataFork, 4 + room * 8));
    ASSERT_GE(leaf, 0);
    disk[static_cast<std::size_t>(leaf) + sb.blockSize - 1] ^= 0x5a;
    auto o = scanned(disk, RecoveryMode::Standard);
    ASSERT_TRUE(o->ok);
    const auto paths = reachablePaths(*o->adapter);
    ASSERT_TRUE(paths.count("/frag/fragmented.bin"));
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(o->adapter->readContent(paths.at("/frag/fragmented.bin"), bytes, std::size_t(1) << 26));
    EXPECT_EQ(sha256(bytes), sha);
    bool said = false;
    for (const std::string& m : o->adapter->damage()) said = said || m.find("checksum of block-map node") != std::string::npos;
    EXPECT_TRUE(said);

    // The group headers: a byte past the AGI's and the AGF's fields changed.
    // The removed files are still looked for and the free space still read.
    const ByteVector clean = readFile(fixture("xfs-kernel.img"));
    ByteVector headers = clean;
    headers[2 * sb.sectorSize + 400] ^= 1;
    headers[sb.sectorSize + 400] ^= 1;
    auto h = scanned(headers, RecoveryMode::Standard);
    ASSERT_TRUE(h->ok);
    bool inodeHeader = false;
    for (const std::string& m : h->adapter->damage()) inodeHeader = inodeHeader || m.find("inode header does not match") != std::string::npos;
    EXPECT_TRUE(inodeHeader);
    EXPECT_EQ(reachablePaths(*h->adapter).size(), reachablePaths(*scanned(clean, RecoveryMode::Standard)->adapter).size());
    MemoryReader headersReader(headers);
    XfsAdapter fresh(headersReader, VolumeRecord{"XFS", "", "0", "64", 0});
    struct Messages : ScanObserver {
        std::vector<std::string> said;
        void message(const std::string& text) override { said.push_back(text); }
    } messages;
    WorkControl control;
    std::vector<ByteRun> runs;
    std::string reason;
    ASSERT_TRUE(fresh.freeSpace(runs, messages, control, reason)) << reason;
    EXPECT_FALSE(runs.empty());
    bool freeHeader = false;
    for (const std::string& m : messages.said) freeHeader = freeHeader || m.find("free-space header does not match") != std::string::npos;
    EXPECT_TRUE(freeHeader);
}

}  // namespace ondrel::test
