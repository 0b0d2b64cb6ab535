#include "diskimage/FileReadSeekVmdk.h"
#include "diskimage/ReaderState.h"
#include "common/Endian.h"
#include "unit/ContainerBuilders.h"

#include <gtest/gtest.h>

namespace ondrel::test {

class VmdkReaderTest : public ::testing::Test {
protected:
    void SetUp() override { resetReaderState(); }
    void TearDown() override { resetReaderState(); }

    static ByteVector sampleDisk() {
        ByteVector disk = patternDisk(3 << 20, 31);
        std::fill(disk.begin() + 65536, disk.begin() + 3 * 65536, 0);  // two empty grains
        return disk;
    }
    TempDir dir;
};

TEST_F(VmdkReaderTest, GrainsMapThroughDirectoryAndTables) {
    ByteVector disk = sampleDisk();
    VmdkLayout layout;
    layout.entriesPerTable = 16;  // several grain tables
    writeFile(dir.file("d.vmdk"), buildVmdk(disk, layout));
    FileReadSeekVmdk reader;
    ASSERT_TRUE(reader.open(dir.file("d.vmdk")));
    EXPECT_EQ(reader.sectorCount(), disk.size() / 512);
    EXPECT_EQ(reader.descriptor.createType, "monolithicSparse");
    EXPECT_EQ(reader.descriptor.cylinders, "1024");
    EXPECT_EQ(reader.descriptor.heads, "16");
    EXPECT_EQ(reader.descriptor.sectors, "63");
    EXPECT_EQ(reader.gdEntryCount, 3);
    EXPECT_TRUE(reader.warnings().empty());
    EXPECT_EQ(readWholeDisk(reader), disk);
    EXPECT_EQ(readWholeDisk(reader, 1536), disk);
}

TEST_F(VmdkReaderTest, ZeroedGrainsAndEmptyDirectoryEntriesReadAsZeros) {
    ByteVector disk = sampleDisk();
    VmdkLayout layout;
    layout.zeroedGrainMarker = true;
    ByteVector vmdk = buildVmdk(disk, layout);
    writeFile(dir.file("z.vmdk"), vmdk);
    FileReadSeekVmdk reader;
    ASSERT_TRUE(reader.open(dir.file("z.vmdk")));
    EXPECT_EQ(readWholeDisk(reader), disk);

    // Emptying the directory entry hides the whole table's range.
    std::uint64_t gdSector = le64(vmdk, 0x30);
    putLe(vmdk, gdSector * 512, 0, 4);
    writeFile(dir.file("gd.vmdk"), vmdk);
    FileReadSeekVmdk noTable;
    ASSERT_TRUE(noTable.open(dir.file("gd.vmdk")));
    ByteVector all = readWholeDisk(noTable);
    EXPECT_TRUE(std::all_of(all.begin(), all.end(), [](auto b) { return b == 0; }));
}

TEST_F(VmdkReaderTest, DescriptorExtentsGiveTheDiskSize) {
    std::string text =
        "# Disk DescriptorFile\nversion=1\nCID=fffffffe\nparentCID=ffffffff\ncreateType=\"monolithicSparse\"\n"
        "# Extent description\nRW 1000000 SPARSE \"a.vmdk\"\nRW 2000000 SPARSE \"b.vmdk\"\nRW 5 ZERO\n"
        "# The Disk Data Base\nddb.geometry.cylinders = \"2\"\n";
    auto parsed = parseVmdkDescriptor(text);
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->extents.size(), 3u);
    EXPECT_EQ(parsed->extents[0].sizeSectors + parsed->extents[1].sizeSectors, 3000000u);
    EXPECT_EQ(parsed->extents[1].fileName, "b.vmdk");
    EXPECT_EQ(parsed->extents[2].type, "ZERO");
    EXPECT_EQ(parsed->version, "1");
    EXPECT_EQ(parsed->CID, "fffffffe");

    EXPECT_FALSE(parseVmdkDescriptor("version=1\nCID=1\n# Extent description\nRW 8 SPARSE \"x\"\n"));
}

TEST_F(VmdkReaderTest, LongDescriptorHeaderStillFindsTheExtents) {
    std::string padding(700, '#');
    std::string text = "# Disk DescriptorFile\n" + padding + "\nversion=1\nCID=1\nparentCID=ffffffff\n"
                       "createType=\"monolithicSparse\"\n# Extent description\nRW 6144 SPARSE \"x.vmdk\"\n";
    ByteVector disk = sampleDisk();
    VmdkLayout layout;
    layout.descriptor = text;
    writeFile(dir.file("long.vmdk"), buildVmdk(disk, layout));
    FileReadSeekVmdk reader;
    ASSERT_TRUE(reader.open(dir.file("long.vmdk")));
    EXPECT_EQ(reader.sectorCount(), 6144u);
}

TEST_F(VmdkReaderTest, MissingDescriptorWarnsAndUsesTheCapacity) {
    ByteVector disk = sampleDisk();
    VmdkLayout layout;
    layout.withDescriptor = false;
    writeFile(dir.file("nodesc.vmdk"), buildVmdk(disk, layout));
    FileReadSeekVmdk reader;
    ASSERT_TRUE(reader.open(dir.file("nodesc.vmdk")));
    EXPECT_EQ(reader.warnings().size(), 1u);
    EXPECT_EQ(reader.sectorCount(), disk.size() / 512);
    EXPECT_EQ(readWholeDisk(reader), disk);
}

TEST_F(VmdkReaderTest, ForeignAndDamagedFilesAreRefused) {
    writeFile(dir.file("plain.vmdk"), patternDisk(4096));
    FileReadSeekVmdk plain;
    EXPECT_FALSE(plain.open(dir.file("plain.vmdk")));

    std::string descriptorOnly = standardVmdkDescriptor(2048);
    writeFile(dir.file("desc.vmdk"), ByteVector(descriptorOnly.begin(), descriptorOnly.end()));
    FileReadSeekVmdk desc;
    EXPECT_FALSE(desc.open(dir.file("desc.vmdk")));
    EXPECT_NE(desc.lastMessage().find("descriptor"), std::string::npos);

    ByteVector vmdk = buildVmdk(sampleDisk());
    ByteVector tooMany = vmdk;
    putLe(tooMany, 0x2C, 4096, 4);
    writeFile(dir.file("gte.vmdk"), tooMany);
    FileReadSeekVmdk gte;
    EXPECT_FALSE(gte.open(dir.file("gte.vmdk")));

    ByteVector compressed = vmdk;
    putLe(compressed, 0x08, 0x30003, 4);
    writeFile(dir.file("stream.vmdk"), compressed);
    FileReadSeekVmdk stream;
    EXPECT_FALSE(stream.open(dir.file("stream.vmdk")));

    ByteVector noCreate = buildVmdk(sampleDisk(), VmdkLayout{128, 512, "version=1\nRW 6144 SPARSE \"x\"\n", true, false});
    writeFile(dir.file("nocreate.vmdk"), noCreate);
    FileReadSeekVmdk nc;
    EXPECT_FALSE(nc.open(dir.file("nocreate.vmdk")));
}

}  // namespace ondrel::test
