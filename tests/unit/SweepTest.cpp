#include "fs/FileSystemRegistry.h"
#include "diskimage/FileReadSeekVHD.h"
#include "diskimage/MemoryReader.h"
#include "unit/BootSectors.h"
#include "unit/ContainerBuilders.h"
#include "unit/RecordingObserver.h"
#include "volumes/Partition.h"

#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace ondrel::test {

class SweepTest : public ::testing::Test {
protected:

    std::vector<VolumeRecord> sweep(const ByteVector& disk, bool skip = true, std::int64_t start = 0,
                                    std::int64_t end = 0) {
        MemoryReader reader(disk);
        std::vector<VolumeRecord> records;
        Partition partition(records, observer, fileSystemProbes());
        partition.skipVolumeSize = skip;
        partition.customStartSector = start;
        partition.customEndSector = end;
        partition.onRecordListed = [this](const VolumeRecord& r) { listed.push_back(r.startSector); };
        partition.sweepVolumes(reader);
        return records;
    }

    TempDir dir;
    RecordingObserver observer;
    std::vector<std::int64_t> listed;
};

TEST_F(SweepTest, FindsEveryKindOfVolumeAndListsEachAsFound) {
    ByteVector d(40000 * 512, 0);
    ntfsBoot(d, 2048, 4095);
    fatBoot(d, 8192, "mkfs.fat", 6144, 1, 24, 0);
    exfatBoot(d, 16384, 4096);
    hfsPlusHeader(d, 24576, 4096, 256);
    extSuperblock(d, 32768, 4096, 0);
    auto records = sweep(d);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].fileSystem, "NTFS");
    EXPECT_EQ(records[0].sizeText, "1   MB");
    EXPECT_EQ(records[1].fileSystem, "FAT16");
    EXPECT_EQ(records[1].sizeText, "3  MB");
    EXPECT_EQ(records[2].fileSystem, "FAT64");
    EXPECT_EQ(records[3].fileSystem, "HFS+");
    EXPECT_EQ(records[3].startSector, 24576);
    EXPECT_EQ(records[4].fileSystem, "extX");
    EXPECT_EQ(records[4].startSector, 32768);
    EXPECT_EQ(records[4].volumeName, "4");
    EXPECT_EQ(listed, (std::vector<std::int64_t>{2048, 8192, 16384, 24576, 32768}));
    EXPECT_TRUE(observer.saw("Scanning partition....."));
    EXPECT_TRUE(observer.saw("found NTFS 1..."));
    EXPECT_TRUE(observer.saw("found HFS+..."));
    EXPECT_EQ(observer.rangeHigh, 1000);
    EXPECT_EQ(observer.positions.back(), 1000);
}

TEST_F(SweepTest, SkippingJumpsOverAVolumeAndNotSkippingFindsItsBackupBootSector) {
    ByteVector d(12000 * 512, 0);
    ntfsBoot(d, 2048, 4095);
    ntfsBoot(d, 2048 + 4095, 4095);  // the backup at the volume's last sector
    EXPECT_EQ(sweep(d, true).size(), 1u);
    auto both = sweep(d, false);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[1].startSector, 2048 + 4095);
}

TEST_F(SweepTest, AJumpPastTheChunkContinuesAfterTheVolume) {
    ByteVector d(300000 * 512, 0);
    ntfsBoot(d, 2048, 204799);
    ntfsBoot(d, 2048 + 204799, 204799);  // skipped: inside the jump
    ntfsBoot(d, 206848, 4095);           // the first sector tested after the jump
    auto records = sweep(d);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].startSector, 206848);
}

TEST_F(SweepTest, CustomRangeLimitsTheSweep) {
    ByteVector d(20000 * 512, 0);
    ntfsBoot(d, 100, 2100);
    ntfsBoot(d, 4000, 2100);
    ntfsBoot(d, 7000, 2100);
    // An end of 4096 still tests the whole chunk that starts before it (here
    // the chunk after the first volume, sectors 2201 to 4248).
    auto ranged = sweep(d, true, 0, 4096);
    ASSERT_EQ(ranged.size(), 2u);
    EXPECT_EQ(ranged[1].startSector, 4000);
    auto fromStart = sweep(d, true, 2048, 0);
    ASSERT_EQ(fromStart.size(), 2u);
    EXPECT_EQ(fromStart[0].startSector, 4000);
}

TEST_F(SweepTest, LastSectorsOfABlockMappedDiskAreSwept) {
    ByteVector d(6 << 20, 0);
    std::size_t last = d.size() / 512 - 2048;  // a volume in the last MiB
    exfatBoot(d, last, 2048);
    writeFile(dir.file("disk.vhd"), buildDynamicVhd(d));
    FileReadSeekVHD reader;
    ASSERT_TRUE(reader.open(dir.file("disk.vhd")));
    std::vector<VolumeRecord> records;
    Partition partition(records, observer, fileSystemProbes());
    partition.sweepVolumes(reader);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].startSector, static_cast<std::int64_t>(last));
}

TEST_F(SweepTest, StopKeepsWhatWasFound) {
    ByteVector d(10000 * 512, 0);
    ntfsBoot(d, 100, 4095);
    ntfsBoot(d, 5000, 4095);
    MemoryReader reader(d);
    std::vector<VolumeRecord> records;
    Partition partition(records, observer, fileSystemProbes());
    partition.onRecordListed = [&](const VolumeRecord&) { partition.control.requestStop(); };
    partition.sweepVolumes(reader);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(observer.statuses.back(), "Scanned Partitions");
}

TEST_F(SweepTest, HfsHeadersOfImplausibleSizeAreIgnored) {
    ByteVector d(8192 * 512, 0);
    hfsPlusHeader(d, 100, 4096, 0xFFFFFFFF);  // about 16 TiB... still plausible
    hfsPlusHeader(d, 2000, 65536, 0xFFFFFFFF);  // 256 TiB: ignored
    hfsPlusHeader(d, 4000, 512, 100);           // below 1 MB: ignored
    auto records = sweep(d, false);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].startSector, 100);
}

}  // namespace ondrel::test

namespace ondrel::test {

// Volumes made by mkfs.fat, mkfs.exfat and mkntfs, each starting in the sector
// right after the one before: the jump over the first must not step past the second.
TEST_F(SweepTest, VolumesBackToBackAreFoundAtTheirTrueStarts) {
    std::ifstream expected(std::string(ONDREL_FIXTURE_SOURCE_DIR) + "/adjacent.expected");
    std::map<std::string, std::vector<std::pair<std::string, std::int64_t>>> want;
    std::string image, fs;
    std::int64_t start = 0, sectors = 0;
    while (expected >> image >> fs >> start >> sectors) want[image].push_back({fs, start});
    ASSERT_EQ(want.size(), 2u);
    for (const auto& [name, volumes] : want) {
        ByteVector disk = readFile(fixture(name));
        ASSERT_FALSE(disk.empty()) << name;
        std::vector<std::pair<std::string, std::int64_t>> got;
        for (const auto& r : sweep(disk)) got.push_back({r.fileSystem, r.startSector});
        EXPECT_EQ(got, volumes) << name;
    }
}

}  // namespace ondrel::test
