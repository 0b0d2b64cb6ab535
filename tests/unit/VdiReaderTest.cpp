#include "diskimage/FileReadSeekVdi.h"
#include "unit/ContainerBuilders.h"

#include <gtest/gtest.h>

namespace ondrel::test {

class VdiReaderTest : public ::testing::Test {
protected:

    static ByteVector sampleDisk() {
        ByteVector disk = patternDisk(5 << 20, 21);
        std::fill(disk.begin() + (1 << 20), disk.begin() + (2 << 20), 0);  // block 1 stays unallocated
        return disk;
    }
    TempDir dir;
};

TEST_F(VdiReaderTest, BlocksMapThroughTheBlockMapInAnyOrder) {
    ByteVector disk = sampleDisk();
    VdiLayout layout;
    layout.reverseBlockOrder = true;
    writeFile(dir.file("d.vdi"), buildVdi(disk, layout));
    FileReadSeekVdi reader;
    ASSERT_TRUE(reader.open(dir.file("d.vdi")));
    EXPECT_EQ(reader.sectorCount(), disk.size() / 512);
    EXPECT_EQ(reader.mapEntries, 5);
    EXPECT_EQ(reader.blockMap[1], 0xFFFFFFFFu);
    EXPECT_EQ(readWholeDisk(reader), disk);
    EXPECT_EQ(readWholeDisk(reader, 4096 + 512), disk);
}

TEST_F(VdiReaderTest, MapExampleAndZeroBlocks) {
    ByteVector disk = sampleDisk();
    ByteVector vdi = buildVdi(disk);
    FileReadSeekVdi reader;
    writeFile(dir.file("d.vdi"), vdi);
    ASSERT_TRUE(reader.open(dir.file("d.vdi")));
    // Offset 3 MiB + 10 lies in block 3, stored as the third block of the data area.
    ByteVector buf(512);
    ASSERT_TRUE(reader.readAt((3 << 20) + 10, buf.data(), 502));
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 502, disk.begin() + (3 << 20) + 10));

    // A zero block marker (0xFFFFFFFE) reads as zeros, like an unallocated block.
    ByteVector marked = vdi;
    putLe(marked, 0x200 + 4 * 4, 0xFFFFFFFE, 4);
    writeFile(dir.file("z.vdi"), marked);
    FileReadSeekVdi zero;
    ASSERT_TRUE(zero.open(dir.file("z.vdi")));
    ASSERT_TRUE(zero.readAt(4 << 20, buf.data(), 512));
    EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](auto b) { return b == 0; }));
}

TEST_F(VdiReaderTest, BadHeadersAreRefused) {
    ByteVector vdi = buildVdi(sampleDisk());
    auto refuses = [&](std::size_t field, int width) {
        ByteVector bad = vdi;
        putLe(bad, field, 0, width);
        writeFile(dir.file("bad.vdi"), bad);
        FileReadSeekVdi reader;
        bool opened = reader.open(dir.file("bad.vdi"));
        return !opened && !reader.lastMessage().empty();
    };
    EXPECT_TRUE(refuses(0x184, 4)) << "no allocated blocks (a new, empty image)";
    EXPECT_TRUE(refuses(0x170, 8)) << "disk size 0";
    EXPECT_TRUE(refuses(0x178, 4)) << "block size 0";
    EXPECT_TRUE(refuses(0x48, 4)) << "header size 0";

    writeFile(dir.file("short.vdi"), ByteVector(vdi.begin(), vdi.begin() + 100));
    FileReadSeekVdi shortReader;
    EXPECT_FALSE(shortReader.open(dir.file("short.vdi")));
}

TEST_F(VdiReaderTest, HugeBlockCountIsBoundedByTheFile) {
    ByteVector vdi = buildVdi(sampleDisk());
    putLe(vdi, 0x180, 0xFFFFFFFF, 4);
    writeFile(dir.file("huge.vdi"), vdi);
    FileReadSeekVdi reader;
    ASSERT_TRUE(reader.open(dir.file("huge.vdi")));
    EXPECT_LE(reader.blockMap.size(), vdi.size() / 4);
    EXPECT_FALSE(reader.warnings().empty());
}

}  // namespace ondrel::test
