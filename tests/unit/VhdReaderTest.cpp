#include "diskimage/FileReadSeekVHD.h"
#include "unit/ContainerBuilders.h"

#include <gtest/gtest.h>

namespace ondrel::test {

class VhdReaderTest : public ::testing::Test {
protected:

    // A disk with data in some blocks and zeros in others.
    static ByteVector sampleDisk(std::size_t bytes, std::size_t blockSize) {
        ByteVector disk = patternDisk(bytes, 11);
        for (std::size_t b = 1; b * blockSize < bytes; b += 3)
            std::fill(disk.begin() + static_cast<std::ptrdiff_t>(b * blockSize),
                      disk.begin() + static_cast<std::ptrdiff_t>(std::min(bytes, (b + 1) * blockSize)), 0);
        return disk;
    }

    TempDir dir;
};

TEST_F(VhdReaderTest, UsualLayoutReadsBackTheDiskWithZerosForUnallocatedBlocks) {
    ByteVector disk = sampleDisk(9 << 20, 2 << 20);
    writeFile(dir.file("d.vhd"), buildDynamicVhd(disk));
    FileReadSeekVHD reader;
    ASSERT_TRUE(reader.open(dir.file("d.vhd")));
    EXPECT_EQ(reader.sectorCount(), disk.size() / 512);
    EXPECT_EQ(reader.tableEntriesRead, 5u);
    EXPECT_TRUE(reader.warnings().empty());
    EXPECT_EQ(readWholeDisk(reader), disk);
    EXPECT_EQ(readWholeDisk(reader, 512), disk);
    EXPECT_EQ(readWholeDisk(reader, 3 * 512 + 17), disk);
}

TEST_F(VhdReaderTest, BlockSizeAndTableOffsetComeFromTheHeader) {
    ByteVector disk = sampleDisk(3 << 20, 512 << 10);
    VhdLayout layout;
    layout.blockSize = 512 << 10;
    layout.tableOffset = 4096;
    writeFile(dir.file("odd.vhd"), buildDynamicVhd(disk, layout));
    FileReadSeekVHD reader;
    ASSERT_TRUE(reader.open(dir.file("odd.vhd")));
    EXPECT_EQ(readWholeDisk(reader), disk);

    layout.blockSize = 8 << 20;  // a bitmap of more than one sector
    ByteVector big = sampleDisk(20 << 20, 8 << 20);
    writeFile(dir.file("big.vhd"), buildDynamicVhd(big, layout));
    FileReadSeekVHD bigReader;
    ASSERT_TRUE(bigReader.open(dir.file("big.vhd")));
    EXPECT_EQ(readWholeDisk(bigReader), big);
}

TEST_F(VhdReaderTest, LastSectorAndTrailingPartialSectorReadCorrectly) {
    ByteVector disk = sampleDisk(4 << 20, 2 << 20);
    writeFile(dir.file("d.vhd"), buildDynamicVhd(disk));
    FileReadSeekVHD reader;
    ASSERT_TRUE(reader.open(dir.file("d.vhd")));
    ByteVector buf(512);
    // The last sector delivers its data and reports success.
    EXPECT_TRUE(reader.readAt(static_cast<std::int64_t>(disk.size() - 512), buf.data(), 512));
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), disk.end() - 512));
    // A read of whole sectors plus a partial one, crossing into a zero block.
    ByteVector odd(1024 + 100);
    std::int64_t at = (2 << 20) - 1024;
    EXPECT_TRUE(reader.readAt(at, odd.data(), static_cast<std::uint32_t>(odd.size())));
    EXPECT_TRUE(std::equal(odd.begin(), odd.end(), disk.begin() + at));
    // Past the end of the block table nothing maps.
    EXPECT_FALSE(reader.readAt(static_cast<std::int64_t>(disk.size()), buf.data(), 512));
}

TEST_F(VhdReaderTest, TableEntriesOverrideLimitsTheMappedRange) {
    ByteVector disk = sampleDisk(24 << 20, 2 << 20);
    writeFile(dir.file("d.vhd"), buildDynamicVhd(disk));
    OpenOptions options;
    options.tableEntriesOverride = 10;
    FileReadSeekVHD reader;
    ASSERT_TRUE(reader.open(dir.file("d.vhd"), options));
    EXPECT_EQ(reader.blockTable.size(), 10u);
    ByteVector buf(512);
    EXPECT_TRUE(reader.readAt((20 << 20) - 512, buf.data(), 512));
    EXPECT_FALSE(reader.readAt(20 << 20, buf.data(), 512));
}

TEST_F(VhdReaderTest, SizeOverrideSetsTheSectorCountOnly) {
    ByteVector disk = sampleDisk(4 << 20, 2 << 20);
    writeFile(dir.file("d.vhd"), buildDynamicVhd(disk));
    OpenOptions options;
    options.diskSizeOverride = 1 << 20;
    FileReadSeekVHD reader;
    ASSERT_TRUE(reader.open(dir.file("d.vhd"), options));
    EXPECT_EQ(reader.sectorCount(), 2048u);
    // The blocks past the corrected size still read as the table maps them.
    ByteVector buf(512);
    ASSERT_TRUE(reader.readAt(2048 * 512, buf.data(), 512));
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), disk.begin() + 1048576));
}

TEST_F(VhdReaderTest, WrongExtensionMissingFileAndForeignContentAreRefused) {
    ByteVector vhd = buildDynamicVhd(sampleDisk(2 << 20, 2 << 20));
    writeFile(dir.file("disk.img"), vhd);
    OpenOptions wizard;
    wizard.requireVhdExtension = true;
    FileReadSeekVHD byName;
    EXPECT_FALSE(byName.open(dir.file("disk.img"), wizard));
    EXPECT_EQ(byName.lastMessage(), "Not a valid vhd file");
    FileReadSeekVHD byContent;
    EXPECT_TRUE(byContent.open(dir.file("disk.img")));

    FileReadSeekVHD missing;
    EXPECT_FALSE(missing.open(dir.file("missing.vhd")));
    EXPECT_EQ(missing.lastMessage(), "Invalid handle.");

    // A plain disk chosen as a dynamic VHD has no dynamic header.
    writeFile(dir.file("plain.vhd"), patternDisk(1 << 20));
    FileReadSeekVHD plain;
    EXPECT_FALSE(plain.open(dir.file("plain.vhd")));
    EXPECT_EQ(plain.lastMessage(), "Not a valid vhd file");
}

TEST_F(VhdReaderTest, TruncatedFilesOpenWithAWarningAndReadWhatIsThere) {
    ByteVector disk = sampleDisk(8 << 20, 2 << 20);
    ByteVector vhd = buildDynamicVhd(disk);

    writeFile(dir.file("headers.vhd"), ByteVector(vhd.begin(), vhd.begin() + 1000));
    FileReadSeekVHD tiny;
    EXPECT_FALSE(tiny.open(dir.file("headers.vhd")));
    EXPECT_NE(tiny.lastMessage().find("truncated"), std::string::npos);

    std::size_t cut = vhd.size() - 512 - (1 << 20);
    writeFile(dir.file("cut.vhd"), ByteVector(vhd.begin(), vhd.begin() + static_cast<std::ptrdiff_t>(cut)));
    FileReadSeekVHD reader;
    ASSERT_TRUE(reader.open(dir.file("cut.vhd")));
    ASSERT_EQ(reader.warnings().size(), 1u);
    ByteVector buf(512);
    EXPECT_TRUE(reader.readAt(0, buf.data(), 512));
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), disk.begin()));
    EXPECT_FALSE(reader.readAt(static_cast<std::int64_t>(disk.size() - 512), buf.data(), 512));
    EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](auto b) { return b == 0; }));
}

TEST_F(VhdReaderTest, HostileHeaderValuesAreRefusedOrBounded) {
    ByteVector vhd = buildDynamicVhd(sampleDisk(2 << 20, 2 << 20));
    ByteVector bad = vhd;
    putBe(bad, 512 + 0x20, 3000, 4);  // not a power of two
    writeFile(dir.file("bad.vhd"), bad);
    FileReadSeekVHD reader;
    EXPECT_FALSE(reader.open(dir.file("bad.vhd")));

    ByteVector huge = vhd;
    putBe(huge, 512 + 0x1C, 0xFFFFFFFF, 4);  // four billion entries claimed
    writeFile(dir.file("huge.vhd"), huge);
    FileReadSeekVHD bounded;
    ASSERT_TRUE(bounded.open(dir.file("huge.vhd")));
    EXPECT_LE(bounded.blockTable.size(), huge.size() / 4);
    EXPECT_FALSE(bounded.warnings().empty());
}

}  // namespace ondrel::test
