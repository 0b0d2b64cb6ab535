// Damaged and hostile images, each a case a careful attacker found: the reader
// or parser must bound its work, say what is wrong, and never report a silent
// empty success.
#include "diskimage/FileReadSeekVmdk.h"
#include "diskimage/MemoryReader.h"
#include "fs/FileSystemRegistry.h"
#include "fs/fat/FatAdapter.h"
#include "fs/ntfs/NtfsRunList.h"
#include "results/ScanDriver.h"
#include "unit/BootSectors.h"
#include "unit/ContainerBuilders.h"
#include "unit/RecordingObserver.h"
#include "volumes/ByteWindow.h"

#include <gtest/gtest.h>

namespace ondrel::test {

namespace {

// A disk in memory that remembers the furthest byte anyone asked for.
class WatchedDisk : public MemoryReader {
public:
    using MemoryReader::MemoryReader;
    bool readAt(std::int64_t offset, void* buffer, std::size_t length) const override {
        furthest = std::max(furthest, offset);
        return MemoryReader::readAt(offset, buffer, length);
    }
    mutable std::int64_t furthest = 0;
};

ByteVector truncatedCopy(const std::string& fixtureName, std::size_t bytes) {
    ByteVector all = readFile(fixture(fixtureName));
    if (all.size() > bytes) all.resize(bytes);
    return all;
}
}  // namespace

TEST(HostileImageTest, VmdkExtentsCannotMakeTheDiskLargerThanItsCapacity) {
    ByteVector disk(196608 * 512 / 64, 0);  // 1.5 MiB
    VmdkLayout layout;
    std::string descriptor = standardVmdkDescriptor(disk.size() / 512);
    descriptor.replace(descriptor.find("RW ") + 3, std::to_string(disk.size() / 512).size(), "18446744073709551615");
    layout.descriptor = descriptor;
    TempDir dir;
    writeFile(dir.file("huge.vmdk"), buildVmdk(disk, layout));
    FileReadSeekVmdk reader;
    ASSERT_TRUE(reader.open(dir.file("huge.vmdk")));
    EXPECT_EQ(reader.sectorCount(), disk.size() / 512);
    ASSERT_FALSE(reader.warnings().empty());
    EXPECT_NE(reader.warnings().back().find("18446744073709551615"), std::string::npos);

    // The export copies the disk the header describes and says what was wrong.
    CliResult exported = runCli("export " + quoted(dir.file("huge.vmdk")) + " " + quoted(dir.path().string()));
    EXPECT_EQ(exported.status, 1) << exported.out;
    EXPECT_NE(exported.out.find("more than the"), std::string::npos) << exported.out;
    EXPECT_EQ(exported.out.find("no sectors"), std::string::npos) << exported.out;

    // Listing advanced-mode candidates of a damaged image is no clean success either.
    CliResult candidates = runCli("ls --mode advanced --start-sector 0 --fs ntfs " + quoted(dir.file("huge.vmdk")));
    EXPECT_NE(candidates.out.find("MFT-ENTRY found"), std::string::npos) << candidates.out;
    EXPECT_EQ(candidates.status, 1) << candidates.out;
}

TEST(HostileImageTest, VolumeScansEndWithTheDiskWhateverTheVolumeClaims) {
    // An MBR entry of 0xFFFFFFFF sectors on a 4 MiB disk, and a size far past the disk.
    WatchedDisk disk(ByteVector(4 << 20, 0));
    for (const char* size : {"2097151", "9999999999999999999"}) {
        disk.furthest = 0;
        VolumeRecord volume = customVolume(borrowSource(disk), "NTFS", 2048);
        volume.sizeText = size;
        auto adapter = createAdapter(volume);
        ASSERT_TRUE(adapter);
        WorkControl control;
        adapter->findCandidates(3, silentObserver(), control);
        EXPECT_LE(disk.furthest, std::int64_t(4 << 20) + (1 << 20)) << "the MFT search read past the disk";
        ScanDriver driver(*adapter, silentObserver());
        EXPECT_FALSE(driver.run(RecoveryMode::Deep)) << "nothing on an empty volume is no success";
        EXPECT_LE(disk.furthest, std::int64_t(4 << 20) + (1 << 20)) << "the deep scan read past the disk";
    }
}

TEST(HostileImageTest, RunListOffsetsThatOverflowEndTheList) {
    // Two runs, each with the offset 0x7FFFFFFFFFFFFFF0: adding them overflows.
    ByteVector runs{0x81, 0x01, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F,
                    0x81, 0x01, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00};
    for (const NtfsRun& r : decodeRunList(Bytes(runs), 0))
        EXPECT_LE(r.startCluster + static_cast<std::int64_t>(r.length), kMaxNtfsClusters);
    // A run at cluster 2^56: its byte offset does not fit 64 bits with 4 KiB clusters.
    ByteVector far{0x71, 0x01, 0, 0, 0, 0, 0, 0, 0x01, 0x00};
    EXPECT_TRUE(decodeRunList(Bytes(far), 0).empty());
}

TEST(HostileImageTest, AFolderChainThatRunsOnIsCutAndSaidSo) {
    // A FAT16 folder whose chain runs through 6000 one-sector clusters: more
    // than the 65 536 entries (2 MiB) a FAT folder can hold.
    ByteVector d(16000 * 512, 0);
    fatBoot(d, 0, "MSWIN4.1", 16000, 1, 64, 0);
    auto setFat = [&](std::uint32_t c, std::uint16_t v) {
        putLe(d, 4 * 512 + c * 2, v, 2);
        putLe(d, (4 + 64) * 512 + c * 2, v, 2);
    };
    setFat(0, 0xFFF8);
    setFat(1, 0xFFFF);
    const std::size_t root = (4 + 128) * 512, data = root + 32 * 512;
    std::memcpy(d.data() + root, "LONG       ", 11);
    d[root + 11] = 0x10;
    putLe(d, root + 26, 2, 2);
    std::memcpy(d.data() + data, ".          ", 11);
    d[data + 11] = 0x10;
    for (std::uint32_t c = 2; c < 6002; ++c) setFat(c, static_cast<std::uint16_t>(c + 1));
    setFat(6002, 0xFFFF);
    MemoryReader reader(d);
    FatAdapter adapter(reader, VolumeRecord{"FAT16", "", "0", "7", 0}, false);
    RecordingObserver observer;
    ScanDriver driver(adapter, observer);
    ASSERT_TRUE(driver.run(RecoveryMode::Standard));
    EXPECT_TRUE(driver.damaged());
    ASSERT_FALSE(observer.messages.empty());
    EXPECT_NE(observer.messages.front().find("was cut there"), std::string::npos) << observer.messages.front();
}

TEST(HostileImageTest, TruncatedVolumesFailWithAMessageInsteadOfAnEmptySuccess) {
    TempDir dir;
    writeFile(dir.file("fat32-cut.img"), truncatedCopy("fat32-4k.img", 10 * 1024));
    writeFile(dir.file("ntfs-cut.img"), truncatedCopy("ntfs-main.img", 7 * 1024));
    for (const auto& [image, fs] : {std::pair<std::string, std::string>{"fat32-cut.img", "fat32"}, {"ntfs-cut.img", "ntfs"}}) {
        std::string args = " --start-sector 0 --size-mb 32 --fs " + fs + " " + quoted(dir.file(image));
        CliResult ls = runCli("ls" + args);
        EXPECT_EQ(ls.status, 1) << image << ": " << ls.out;
        EXPECT_NE(ls.out.find("ondrel-cli: "), std::string::npos) << image << ": " << ls.out;
        CliResult recover = runCli("recover" + args + " --out " + quoted(dir.file(image + ".out")));
        EXPECT_EQ(recover.status, 1) << image << ": " << recover.out;
        EXPECT_EQ(recover.out.find("saved 0 files, 0 failed"), std::string::npos) << image << ": " << recover.out;
    }
}

TEST(HostileImageTest, FatWriteFailuresAreNotReportedAsReadFailures) {
    // A sink that is full at once: the parser must say the write failed.
    struct FullSink : DataSink {
        bool write(const std::uint8_t*, std::size_t) override { return false; }
    };
    std::string image = fixture("fat16-2k.img");
    ASSERT_FALSE(image.empty());
    MemoryReader reader(readFile(image));
    Fat16Class parser(reader, VolumeRecord{"FAT16", "", "0", std::to_string(reader.sectorCount() / 2048), 0});
    std::string failure;
    ASSERT_TRUE(parser.scanStandard(failure)) << failure;
    const FatEntryRecord* file = nullptr;
    for (const auto& r : parser.records())
        if (!r.isDirectory() && r.fileSize > 0 && !r.deleted) file = &r;
    ASSERT_TRUE(file);
    FullSink full;
    EXPECT_EQ(parser.extract(*file, full), WriteResult::WriteFailed);
}

}  // namespace ondrel::test
