#include "unit/BootSectors.h"
#include "fs/exfat/ExFatBootSector.h"
#include "fs/ext/ExtSuperblock.h"
#include "fs/fat/FatBootSector.h"
#include "fs/hfsplus/HfsStructures.h"
#include "fs/ntfs/NtfsBootSector.h"
#include "volumes/VolumeRecord.h"

#include <gtest/gtest.h>

namespace ondrel::test {

namespace {
Bytes sectorOf(const ByteVector& d, std::size_t sector) { return Bytes(d.data() + sector * 512, 512); }
}  // namespace

TEST(BootRecordTest, NtfsNeedsItsJumpAnd512ByteSectors) {
    ByteVector d(1024, 0);
    ntfsBoot(d, 0, 204799);
    std::int64_t size = 0;
    EXPECT_TRUE(isNtfsBootSector(sectorOf(d, 0), true, size));
    EXPECT_EQ(size, 204799 * 512);
    putText(d, 3, "XXXX");
    EXPECT_FALSE(isNtfsBootSector(sectorOf(d, 0), true, size));
    EXPECT_TRUE(isNtfsBootSector(sectorOf(d, 0), false, size)) << "the GPT scan waives the system id";
    ntfsBoot(d, 1, 1000, 4096);
    EXPECT_FALSE(isNtfsBootSector(sectorOf(d, 1), true, size));
}

TEST(BootRecordTest, FatIsRecognisedWhateverItsOemName) {
    for (std::string oem : {"MSDOS5.0", "mkfs.fat", "MTOO4043", "        "}) {
        ByteVector d(512, 0);
        fatBoot(d, 0, oem, 262144, 1, 0, 2040);
        std::int64_t size = 0;
        EXPECT_EQ(fatBootSectorType(sectorOf(d, 0), size), FatType::Fat32) << oem;
        EXPECT_EQ(size, 262144 * 512);
    }
}

TEST(BootRecordTest, FatTypeFollowsTheClusterCount) {
    std::int64_t size = 0;
    ByteVector d(512, 0);
    // 40 000 sectors in the 16-bit field: FAT16 with 4 sectors per cluster,
    // FAT12 with 16 (too few clusters); the size is read unsigned.
    fatBoot(d, 0, "mkfs.fat", 40000, 4, 40, 0);
    EXPECT_EQ(fatBootSectorType(sectorOf(d, 0), size), FatType::Fat16);
    EXPECT_EQ(size, 40000 * 512);
    fatBoot(d, 0, "mkfs.fat", 40000, 16, 40, 0);
    EXPECT_EQ(fatBootSectorType(sectorOf(d, 0), size), FatType::Fat12);
    // Sectors per FAT does not decide: 128, 200, 256 or anything else.
    for (std::uint16_t fatSize : {17, 128, 200, 256}) {
        fatBoot(d, 0, "MSDOS5.0", 60000, 2, fatSize, 0);
        EXPECT_EQ(fatBootSectorType(sectorOf(d, 0), size), FatType::Fat16) << fatSize;
    }
}

TEST(BootRecordTest, FatRejectsInsaneParameterBlocks) {
    std::int64_t size = 0;
    ByteVector good(512, 0);
    fatBoot(good, 0, "MSDOS5.0", 60000, 2, 128, 0);
    auto broken = [&](std::size_t off, std::uint8_t value) {
        ByteVector d = good;
        d[off] = value;
        return fatBootSectorType(sectorOf(d, 0), size) == FatType::None;
    };
    EXPECT_TRUE(broken(0x0D, 3)) << "sectors per cluster not a power of two";
    EXPECT_TRUE(broken(0x10, 0)) << "no FAT";
    EXPECT_TRUE(broken(0x15, 0x12)) << "media byte";
    EXPECT_TRUE(broken(510, 0)) << "no boot mark";
    EXPECT_TRUE(broken(0, 0x00)) << "no jump";
    ByteVector zero(512, 0);
    EXPECT_EQ(fatBootSectorType(sectorOf(zero, 0), size), FatType::None);
}

TEST(BootRecordTest, ExfatHfsAndExt) {
    std::int64_t size = 0;
    ByteVector d(8 * 512, 0);
    exfatBoot(d, 0, 16384);
    EXPECT_TRUE(isExfatBootSector(sectorOf(d, 0), size));
    EXPECT_EQ(size, 16384 * 512);

    hfsPlusHeader(d, 4, 4096, 100);
    EXPECT_TRUE(isHfsPlusHeader(sectorOf(d, 6), size));
    EXPECT_EQ(size, 409600);
    EXPECT_EQ(bytesToMegabytes(size), 0) << "below 1 MB: no record";

    ByteVector e(8 * 512, 0);
    extSuperblock(e, 0, 2048, 2);
    EXPECT_TRUE(isExtSuperblock(sectorOf(e, 2), size));
    EXPECT_EQ(size, 2048 * 4096);
    extSuperblock(e, 0, 2048, 2, 1);
    EXPECT_FALSE(isExtSuperblock(sectorOf(e, 2), size)) << "a backup superblock";
}

TEST(BootRecordTest, SizeTextLeadingNumber) {
    EXPECT_EQ(sizeMegabytes("488   MB"), 488);
    EXPECT_EQ(sizeMegabytes("2048"), 2048);
    EXPECT_EQ(sizeMegabytes("0"), 0);
    EXPECT_EQ(sizeMegabytes("MB"), 0);
    EXPECT_EQ(bytesToMegabytes(1048575), 0);
}

}  // namespace ondrel::test
