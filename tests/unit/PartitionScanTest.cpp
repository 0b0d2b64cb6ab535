#include "fs/FileSystemRegistry.h"
#include "diskimage/MemoryReader.h"
#include "unit/BootSectors.h"
#include "unit/RecordingObserver.h"
#include "volumes/Partition.h"

#include <gtest/gtest.h>

namespace ondrel::test {

class PartitionScanTest : public ::testing::Test {
protected:

    std::vector<VolumeRecord> scan(const ByteVector& disk, bool gpt = false) {
        MemoryReader reader(disk);
        std::vector<VolumeRecord> records;
        Partition partition(records, observer, fileSystemProbes());
        partition.gptMode = gpt;
        partition.scanPartitionTables(reader);
        return records;
    }

    static std::string summary(const std::vector<VolumeRecord>& records) {
        std::string out;
        for (const auto& r : records)
            out += r.volumeName + ":" + r.fileSystem + ":" + r.sizeText + ":" + std::to_string(r.startSector) + ";";
        return out;
    }

    // A GPT with its header at LBA 1 and entries at entryLba.
    static void gpt(ByteVector& d, std::uint64_t entryLba, std::uint32_t count, std::uint32_t entrySize) {
        putText(d, 512, "EFI PART");
        putLe(d, 512 + 0x48, entryLba, 8);
        putLe(d, 512 + 0x50, count, 4);
        putLe(d, 512 + 0x54, entrySize, 4);
        mbrEntry(d, 0, 0, 0xEE, 1, static_cast<std::uint32_t>(d.size() / 512 - 1));
    }
    static void gptEntry(ByteVector& d, std::uint64_t entryLba, std::uint32_t entrySize, int index, std::uint64_t first,
                         std::uint64_t last, const std::string& name) {
        std::size_t o = entryLba * 512 + static_cast<std::size_t>(index) * entrySize;
        d[o] = 0xA2;  // any non-zero type GUID
        d[o + 1] = 0xA0;
        putLe(d, o + 0x20, first, 8);
        putLe(d, o + 0x28, last, 8);
        for (std::size_t i = 0; i < name.size(); ++i) putLe(d, o + 0x38 + i * 2, static_cast<unsigned char>(name[i]), 2);
    }

    RecordingObserver observer;
};

TEST_F(PartitionScanTest, PrimaryPartitionsInTableOrderWithTheirTypes) {
    ByteVector d(4096 * 512, 0);
    mbrEntry(d, 0, 0, 0x07, 100, 1000000);
    mbrEntry(d, 0, 1, 0x0C, 200, 4096);
    mbrEntry(d, 0, 2, 0x42, 300, 2048);
    mbrEntry(d, 0, 3, 0x83, 400, 2048);
    exfatBoot(d, 100, 2048);
    auto records = scan(d);
    EXPECT_EQ(summary(records), "0:FAT64:488   MB:100;1:FAT32:2   MB:200;2:NTFS:1   MB:300;3:extX:1   MB:400;");
    EXPECT_TRUE(observer.saw("found FAT64..."));
    EXPECT_TRUE(observer.saw("found FAT 32..."));
    EXPECT_TRUE(observer.saw("NTFS..."));
    EXPECT_TRUE(observer.saw("found ext2..."));
}

TEST_F(PartitionScanTest, Type07WithoutExfatIsNtfsAndCountsNtfsVolumes) {
    ByteVector d(4096 * 512, 0);
    mbrEntry(d, 0, 0, 0x07, 100, 4096);
    mbrEntry(d, 0, 1, 0x07, 200, 4096);
    auto records = scan(d);
    EXPECT_EQ(summary(records), "0:NTFS:2   MB:100;1:NTFS:2   MB:200;");
    EXPECT_TRUE(observer.saw("found NTFS 1..."));
    EXPECT_TRUE(observer.saw("found NTFS 2..."));
}

TEST_F(PartitionScanTest, EmptySlotsDoNotHideLaterPartitions) {
    ByteVector d(4096 * 512, 0);
    mbrEntry(d, 0, 0, 0x06, 100, 4096);
    mbrEntry(d, 0, 2, 0x0B, 300, 4096);
    EXPECT_EQ(summary(scan(d)), "0:FAT16:2   MB:100;1:FAT32:2   MB:300;");
}

TEST_F(PartitionScanTest, ExtendedChainListsLogicalVolumesAndPrimariesAfterIt) {
    ByteVector d(8192 * 512, 0);
    mbrEntry(d, 0, 0, 0x07, 64, 2048);
    mbrEntry(d, 0, 1, 0x0F, 3000, 4000);
    mbrEntry(d, 0, 2, 0x0C, 7100, 2048);
    // Logical volumes: each EBR's start is relative to its own record; links
    // to the next EBR are relative to the extended partition.
    mbrEntry(d, 3000, 0, 0x42, 63, 2048);
    mbrEntry(d, 3000, 1, 0x05, 2100, 1900);
    mbrEntry(d, 5100, 0, 0x83, 63, 2048);
    auto records = scan(d);
    EXPECT_EQ(summary(records),
              "0:NTFS:1   MB:64;1:Unknown:1   MB:3063;2:extX:1   MB:5163;3:FAT32:1   MB:7100;");
    EXPECT_TRUE(observer.saw("found extx..."));
    EXPECT_TRUE(observer.saw("found UNKNOWN..."));
}

TEST_F(PartitionScanTest, ExtendedChainThatLoopsEnds) {
    ByteVector d(8192 * 512, 0);
    mbrEntry(d, 0, 0, 0x05, 1000, 4000);
    mbrEntry(d, 1000, 0, 0x06, 63, 2048);
    mbrEntry(d, 1000, 1, 0x05, 0, 4000);  // links back to itself
    auto records = scan(d);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].startSector, 1063);
}

TEST_F(PartitionScanTest, GptDiskWithoutGptModeShowsTheProtectiveEntry) {
    ByteVector d(8192 * 512, 0);
    gpt(d, 2, 128, 128);
    gptEntry(d, 2, 128, 0, 2048, 4095, "data");
    EXPECT_EQ(summary(scan(d)), "0:Unknown:3   MB:1;");
}

TEST_F(PartitionScanTest, GptEntriesAreClassifiedByTheirBootRecords) {
    ByteVector d(16384 * 512, 0);
    gpt(d, 2, 128, 128);
    gptEntry(d, 2, 128, 0, 34, 2047, "Microsoft reserved partition");
    gptEntry(d, 2, 128, 1, 2048, 6143, "Basic data partition");
    ntfsBoot(d, 2048, 4095);
    putText(d, 2048 * 512 + 3, "XXXX");  // the GPT scan does not need the system id
    gptEntry(d, 2, 128, 3, 6144, 10239, "linux");  // entry 2 left empty
    gptEntry(d, 2, 128, 4, 10240, 12287, "Apple");
    hfsPlusHeader(d, 10240, 4096, 512);
    gptEntry(d, 2, 128, 5, 12288, 14335, "ext4 data");
    extSuperblock(d, 12288, 1024, 0);
    gptEntry(d, 2, 128, 6, 14336, 16383, "fat");
    fatBoot(d, 14336, "mkfs.fat", 2048, 1, 8, 0);
    auto records = scan(d, true);
    EXPECT_EQ(summary(records),
              "0:NTFS:1   MB:2048;1:linux:2:6144;2:HFS+:1:10240;3:extX:1:12288;");
    EXPECT_TRUE(observer.saw("found NTFS 1..."));
    EXPECT_TRUE(observer.saw("found unknown...")) << "FAT12 is not listed";
}

TEST_F(PartitionScanTest, GptEntryArrayBeyondTheFirst256SectorsAndOtherEntrySizes) {
    ByteVector d(16384 * 512, 0);
    gpt(d, 300, 4, 256);
    gptEntry(d, 300, 256, 0, 2048, 8191, "big");
    fatBoot(d, 2048, "mkfs.fat", 6144, 1, 24, 0);
    gptEntry(d, 300, 256, 3, 8192, 16383, "last");
    auto records = scan(d, true);
    EXPECT_EQ(summary(records), "0:FAT16:3  MB:2048;1:last:4:8192;");
    EXPECT_TRUE(observer.saw("found FAT 16..."));
}

TEST_F(PartitionScanTest, BareVolumeWithoutPartitionTable) {
    ByteVector d(8192 * 512, 0);
    ntfsBoot(d, 0, 8191);
    EXPECT_EQ(summary(scan(d)), "0:NTFS:3   MB:0;");

    ByteVector e(8192 * 512, 0);
    extSuperblock(e, 0, 4096, 0);
    EXPECT_EQ(summary(scan(e)), "0:extX:4   MB:0;");
}

TEST_F(PartitionScanTest, EmptyOrUnreadableDiskGivesNoRecords) {
    EXPECT_TRUE(scan(ByteVector(2048 * 512, 0)).empty());
    EXPECT_TRUE(scan(ByteVector(100, 0)).empty());
}

}  // namespace ondrel::test
