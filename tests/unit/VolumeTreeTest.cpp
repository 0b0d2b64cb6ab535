// Volumes form a tree: a volume found is offered to the volume systems again,
// so a partition table inside a partition lists grandchildren of the disk,
// and every volume reads through a window that lands on the right disk bytes
// and ends with the volume.
#include "diskimage/MemoryReader.h"
#include "fs/FileSystemRegistry.h"
#include "unit/BootSectors.h"
#include "unit/TestSupport.h"
#include "volumes/ByteWindow.h"
#include "volumes/Partition.h"

#include <gtest/gtest.h>

namespace ondrel::test {

namespace {

std::vector<VolumeRecord> scan(std::shared_ptr<const ByteSource> disk) {
    std::vector<VolumeRecord> records;
    Partition partition(records, silentObserver(), fileSystemProbes());
    partition.scanPartitionTables(std::move(disk));
    return records;
}

// The bytes a record's source reads at offset, and whether the read succeeded.
std::pair<bool, ByteVector> readOf(const VolumeRecord& r, std::int64_t offset, std::size_t length) {
    ByteVector out(length, 0xEE);
    bool ok = r.source->readAt(offset, out.data(), length);
    return {ok, out};
}

ByteVector slice(const ByteVector& d, std::int64_t at, std::size_t length) {
    return ByteVector(d.begin() + at, d.begin() + at + static_cast<std::ptrdiff_t>(length));
}

// A volume system of the test's own: a source that begins with "INNERVOL"
// holds one volume, from 64 KiB on to 4 KiB before its end.
class Inner : public VolumeSystem {
public:
    std::string name() const override { return "inner"; }
    bool recognises(const ByteSource& source, const std::vector<FileSystemProbe>&) const override {
        char head[8] = {};
        return source.size() > 2 * kGap && source.readAt(0, head, sizeof head) && std::string(head, 8) == "INNERVOL";
    }
    void list(const ByteSource& source, DiscoveryContext& context) const override {
        ListedVolume v;
        v.fileSystem = "inner";
        v.sizeText = std::to_string(bytesToMegabytes(source.size() - kGap - 4096)) + "   MB";
        v.startByte = kGap;
        v.lengthBytes = source.size() - kGap - 4096;
        v.listedBy = name();
        context.report(std::move(v));
    }
    static constexpr std::int64_t kGap = 65536;
};

}  // namespace

TEST(VolumeTreeTest, APartitionTableInsideAPartitionListsGrandchildrenThatReadTheirOwnBytes) {
    ByteVector d = patternDisk(16 << 20, 21);
    // The outer table: one partition at 2048 of 20480 sectors, holding a table of its own.
    std::fill(d.begin(), d.begin() + 512, 0);
    mbrEntry(d, 0, 0, 0x83, 2048, 20480);
    std::fill(d.begin() + 2048 * 512, d.begin() + 2049 * 512, 0);
    mbrEntry(d, 2048, 0, 0x0C, 100, 4000);   // sectors 2148 .. 6147 of the disk
    mbrEntry(d, 2048, 1, 0x07, 8192, 8192);  // sectors 10240 .. 18431
    auto disk = std::make_shared<MemoryReader>(d);
    std::vector<VolumeRecord> records = scan(disk);
    ASSERT_EQ(records.size(), 3u);

    const VolumeRecord& outer = records[0];
    EXPECT_EQ(outer.kind, "MBR") << "the partition holds a volume system";
    EXPECT_EQ(outer.parent, -1);
    EXPECT_EQ(outer.children, (std::vector<int>{1, 2}));
    const VolumeRecord& fat = records[1];
    EXPECT_EQ(fat.fileSystem, "FAT32");
    EXPECT_EQ(fat.parent, 0);
    EXPECT_EQ(fat.startByte, 100 * 512) << "placed in its parent";
    EXPECT_EQ(fat.startSector, 2148) << "and on the disk";
    EXPECT_EQ(fat.lengthBytes, 4000 * 512);
    const VolumeRecord& ntfs = records[2];
    EXPECT_EQ(ntfs.fileSystem, "NTFS");
    EXPECT_EQ(ntfs.startSector, 2048 + 8192);

    // Reads land on the disk bytes of each volume, to its last sector and no further.
    EXPECT_EQ(readOf(fat, 0, 4096), std::make_pair(true, slice(d, 2148 * 512, 4096)));
    EXPECT_EQ(readOf(fat, 3999 * 512, 512), std::make_pair(true, slice(d, 6147 * 512, 512)));
    auto across = readOf(fat, 3999 * 512, 1024);
    EXPECT_FALSE(across.first);
    EXPECT_EQ(slice(across.second, 0, 512), slice(d, 6147 * 512, 512));
    EXPECT_EQ(slice(across.second, 512, 512), ByteVector(512, 0)) << "past its end a volume reads zeros";
    EXPECT_EQ(readOf(ntfs, 8191 * 512, 512), std::make_pair(true, slice(d, 18431 * 512, 512)));
}

TEST(VolumeTreeTest, AVolumeSystemOfTheTestsOwnPlugsIntoDiscovery) {
    ByteVector d = patternDisk(1 << 20, 22);
    // The disk's volume holds another one; that one holds nothing more.
    putText(d, 65536, "INNERVOL");
    auto disk = std::make_shared<MemoryReader>(d);
    Inner inner;
    std::vector<VolumeRecord> records;
    Partition partition(records, silentObserver(), fileSystemProbes());
    partition.nested = {&inner};
    partition.scanWith(inner, disk);
    ASSERT_EQ(records.size(), 2u);
    const VolumeRecord& child = records[0];
    const VolumeRecord& grandchild = records[1];
    EXPECT_EQ(child.parent, -1);
    EXPECT_EQ(child.kind, "inner");
    EXPECT_EQ(child.children, std::vector<int>{1});
    EXPECT_EQ(child.startSector, 128);
    EXPECT_EQ(grandchild.parent, 0);
    EXPECT_EQ(grandchild.startByte, 65536);
    EXPECT_EQ(grandchild.startSector, 256);
    const std::int64_t length = (1 << 20) - 2 * (65536 + 4096);
    EXPECT_EQ(grandchild.lengthBytes, length);
    // The grandchild reads the disk's bytes at its place, up to its own end.
    EXPECT_EQ(readOf(grandchild, 0, 2048), std::make_pair(true, slice(d, 131072, 2048)));
    EXPECT_EQ(readOf(grandchild, length - 512, 512), std::make_pair(true, slice(d, 131072 + length - 512, 512)));
    EXPECT_EQ(readOf(grandchild, length, 512), std::make_pair(false, ByteVector(512, 0)));
}

TEST(VolumeTreeTest, TablesNestedWithoutEndStopAtTheDepthBound) {
    // Every partition starts with a table whose one entry is the rest of it.
    ByteVector d(8 << 20, 0);
    for (std::uint32_t level = 0; level < 40; ++level)
        mbrEntry(d, level, 0, 0x83, 1, static_cast<std::uint32_t>(d.size() / 512) - level - 1);
    std::vector<VolumeRecord> records = scan(std::make_shared<MemoryReader>(d));
    EXPECT_LE(records.size(), static_cast<std::size_t>(Partition::kMaxDepth + 1));
    EXPECT_GE(records.size(), 2u);
    for (std::size_t i = 1; i < records.size(); ++i) EXPECT_EQ(records[i].parent, static_cast<int>(i) - 1);
}

TEST(VolumeTreeTest, TwoFileSystemsClaimingOneVolumeAreReported) {
    // A bare volume with an NTFS boot sector and an ext superblock 1024 bytes in.
    ByteVector d(4 << 20, 0);
    ntfsBoot(d, 0, 8191);
    extSuperblock(d, 0, 4096, 0);
    std::vector<VolumeRecord> records = scan(std::make_shared<MemoryReader>(d));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].fileSystem, "NTFS");
    EXPECT_EQ(records[0].claims, (std::vector<std::string>{"NTFS", "extX"}));
    std::string note = claimConflict(records[0]);
    EXPECT_NE(note.find("NTFS and extX"), std::string::npos) << note;

    TempDir dir;
    writeFile(dir.file("both.img"), d);
    CliResult r = runCli("volumes " + quoted(dir.file("both.img")));
    EXPECT_NE(r.out.find("recognised as NTFS and extX"), std::string::npos) << r.out;
}

}  // namespace ondrel::test
