// The Sleuth Kit as the oracle for a volume's free space: the bytes of the
// runs a file system's allocation map marks free are, in order, the bytes
// `blkls` (its unallocated units) writes for the same volume.
#include "diskimage/ImageKind.h"
#include "fs/FileSystemRegistry.h"
#include "unit/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>

namespace ondrel::test {

namespace {

struct FreeCase {
    const char* image;
    std::int64_t startSector;  // the volume's first sector
    const char* fileSystem;    // as the volume list names it
    const char* tskType;       // blkls -f (TSK cannot tell a small FAT32 by itself)
};

class FreeSpaceOracleTest : public ::testing::TestWithParam<FreeCase> {};

}  // namespace

TEST_P(FreeSpaceOracleTest, FreeRunsHoldTheBytesBlklsGives) {
    if (runCommand("command -v blkls >/dev/null 2>&1") != 0) GTEST_SKIP() << "blkls (sleuthkit) is not installed";
    const FreeCase& c = GetParam();
    const std::string path = fixture(c.image);
    if (path.empty()) GTEST_SKIP() << c.image << " is not among the fixtures";
    OpenedImage image = openDiskImage(path, std::nullopt);
    ASSERT_TRUE(image.reader) << image.message;
    std::shared_ptr<const readWriteInterface> disk(std::move(image.reader));
    // The volume to the disk's end, as a user places it by its first sector.
    const VolumeRecord record = customVolume(disk, c.fileSystem, c.startSector);
    const VolumeRecord* volume = &record;
    auto adapter = createAdapter(record);
    ASSERT_TRUE(adapter);

    std::vector<ByteRun> runs;
    std::string message;
    WorkControl control;
    ASSERT_TRUE(adapter->freeSpace(runs, silentObserver(), control, message)) << message;
    TempDir dir;
    std::int64_t total = 0, last = -1;
    {
        std::ofstream out(dir.file("ours"), std::ios::binary);
        std::vector<char> buffer;
        for (const ByteRun& r : runs) {
            EXPECT_GT(r.offset, last) << "runs are sorted and apart";
            EXPECT_GT(r.length, 0);
            EXPECT_LE(r.offset + r.length, volume->lengthBytes);
            last = r.offset + r.length;
            buffer.resize(static_cast<std::size_t>(r.length));
            ASSERT_TRUE(volume->source->readAt(r.offset, buffer.data(), buffer.size()));
            out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            total += r.length;
        }
    }
    const std::string theirs = dir.file("blkls");
    ASSERT_EQ(runCommand("blkls -o " + std::to_string(c.startSector) + " -f " + c.tskType + " " + quoted(path) + " >" +
                         quoted(theirs)),
              0);
    EXPECT_EQ(total, static_cast<std::int64_t>(std::filesystem::file_size(theirs)));
    EXPECT_EQ(runCommand("cmp -s " + quoted(dir.file("ours")) + " " + quoted(theirs)), 0)
        << "the free bytes differ from blkls's";
    RecordProperty("free_bytes", std::to_string(total));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FreeSpaceOracleTest,
                         ::testing::Values(FreeCase{"ntfs-main.img", 0, "NTFS", "ntfs"},
                                           FreeCase{"mbr-disk.raw", 2048, "NTFS", "ntfs"},
                                           FreeCase{"fat16-2k.img", 0, "FAT16", "fat16"},
                                           FreeCase{"fat32-512.img", 0, "FAT32", "fat32"},
                                           FreeCase{"carve-fat32.img", 0, "FAT32", "fat32"},
                                           FreeCase{"exfat-512.img", 0, "FAT64", "exfat"},
                                           FreeCase{"exfat-4k.img", 0, "FAT64", "exfat"},
                                           FreeCase{"ext2.img", 0, "extX", "ext2"},
                                           FreeCase{"ext4-small.img", 0, "extX", "ext4"},
                                           FreeCase{"ext4-inline.img", 0, "extX", "ext4"},
                                           FreeCase{"hfs-10ext.img", 0, "HFS+", "hfs"},
                                           FreeCase{"mbr-disk.raw", 190464, "HFS+", "hfs"}));

}  // namespace ondrel::test
