// Volumes that are not a whole number of MiB (a FAT32 partition of 100.5 MiB
// whose last sector is a file's last, a bare ext2 volume of 100 KiB, a custom
// range ending mid-MiB) are listed, scanned, carved and exported to their
// last byte. The files' contents come from The Sleuth Kit (oddsize.manifest).
#include "carving/CarvingJob.h"
#include "carving/SignatureRecord.h"
#include "diskimage/ImageKind.h"
#include "fs/FileSystemRegistry.h"
#include "results/ScanDriver.h"
#include "unit/TestSupport.h"
#include "volumes/DiskExport.h"
#include "volumes/Partition.h"

#include <gtest/gtest.h>

namespace ondrel::test {

namespace {
constexpr std::int64_t kStart = 2048, kSectors = 205824;  // the FAT32 partition: 100.5 MiB
constexpr std::int64_t kLastSector = kStart + kSectors - 1;

std::map<std::string, std::string> manifestHashes(const std::string& image) {
    std::map<std::string, std::string> out;
    for (const ManifestLine& l : fixtureManifest("oddsize.manifest", image)) out[l.path] = l.hash;
    return out;
}

std::vector<VolumeRecord> listVolumes(std::shared_ptr<const ByteSource> disk) {
    std::vector<VolumeRecord> records;
    Partition partition(records, silentObserver(), fileSystemProbes());
    partition.scanPartitionTables(std::move(disk));
    return records;
}

// A settings file with one definition: "ONDRELTAIL" at a sector's start, 512 bytes long.
std::string tailSignatures(const TempDir& dir) {
    SignatureRecord r;
    r.extension = u"tail";
    r.extensionLength = 4;
    const std::string marker = "ONDRELTAIL";
    r.start.assign(marker.begin(), marker.end());
    r.approximateSize = 512;
    r.category = u"Tails";
    std::string path = dir.file("tail.settings");
    std::string message;
    EXPECT_TRUE(appendSignatureRecord(path, r, message)) << message;
    return path;
}

class OddSizeVolumeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (fixture("oddsize-fat32.raw").empty() || fixture("oddsize-ext2.img").empty())
            GTEST_SKIP() << "the odd-size fixtures are missing";
    }
    TempDir dir;
};
}  // namespace

TEST_F(OddSizeVolumeTest, A100AndAHalfMebibyteFat32IsListedScannedCarvedAndExportedToItsLastSector) {
    OpenedImage image = openDiskImage(fixture("oddsize-fat32.raw"), std::nullopt);
    ASSERT_TRUE(image.reader) << image.message;
    std::shared_ptr<const readWriteInterface> disk(std::move(image.reader));
    std::vector<VolumeRecord> records = listVolumes(disk);
    ASSERT_EQ(records.size(), 1u);
    const VolumeRecord& v = records[0];
    EXPECT_EQ(v.fileSystem, "FAT32");
    EXPECT_EQ(v.sizeText, "100   MB") << "the list's text stays whole megabytes";
    EXPECT_EQ(v.startSector, kStart);
    EXPECT_EQ(v.lengthBytes, kSectors * 512);
    ASSERT_TRUE(v.source);
    EXPECT_EQ(v.source->size(), kSectors * 512);

    // Scanned: the file that ends in the volume's last sector reads whole.
    auto adapter = createAdapter(v);
    ASSERT_TRUE(adapter);
    ScanDriver driver(*adapter, silentObserver());
    ASSERT_TRUE(driver.run(RecoveryMode::Standard));
    EXPECT_EQ(saveAllHashes(*adapter), manifestHashes("oddsize-fat32.raw"));

    // Carved: the marker in the last sector is found, named by its disk offset.
    CarvingJob job;
    ASSERT_TRUE(job.loadDefinitions(false, "", {tailSignatures(dir)})) << job.message();
    WorkControl control;
    ASSERT_TRUE(job.scan(v.source, silentObserver(), control, v.startSector * 512)) << job.message();
    ASSERT_EQ(job.scanner().files().size(), 1u);
    const CarvedFile& found = job.scanner().files().front();
    EXPECT_EQ(found.offset, (kSectors - 1) * 512);
    EXPECT_EQ(job.scanner().fileName(found), std::to_string(kLastSector * 512) + " .tail");

    // Exported: the volume alone, every byte of it.
    std::string out = dir.file("volume.img");
    ExportOutcome exported = DiskExport(*v.source, silentObserver(), control).run(out);
    ASSERT_TRUE(exported.ok) << exported.message;
    ByteVector copy = readFile(out);
    ByteVector whole = readFile(fixture("oddsize-fat32.raw"));
    ASSERT_EQ(copy.size(), static_cast<std::size_t>(kSectors * 512));
    EXPECT_TRUE(std::equal(copy.begin(), copy.end(), whole.begin() + kStart * 512));
    EXPECT_EQ(std::string(copy.end() - 512, copy.end() - 502), "ONDRELTAIL");
}

TEST_F(OddSizeVolumeTest, ACustomRangeEndsWithItsLastSectorNotItsLastMebibyte) {
    std::string image = quoted(fixture("oddsize-fat32.raw"));
    std::string settings = quoted(tailSignatures(dir));
    // The range that ends with the partition sees the tail; one sector less does not.
    CliResult whole = runCli("carve --list --no-default --signatures " + settings + " --start-sector 2048 --end-sector " +
                             std::to_string(kLastSector) + " " + image);
    EXPECT_EQ(whole.status, 0) << whole.out;
    EXPECT_NE(whole.out.find(std::to_string(kLastSector * 512) + " .tail"), std::string::npos) << whole.out;
    CliResult shorter = runCli("carve --list --no-default --signatures " + settings + " --start-sector 2048 --end-sector " +
                               std::to_string(kLastSector - 1) + " " + image);
    EXPECT_EQ(shorter.out.find(".tail"), std::string::npos) << shorter.out;

    // Recovered through the same ranges: whole, or with its last sector missing.
    std::string out = dir.file("whole");
    CliResult saved = runCli("recover --start-sector 2048 --end-sector " + std::to_string(kLastSector) + " --fs fat32 --out " +
                             test::quoted(out) + " " + image);
    EXPECT_EQ(saved.status, 0) << saved.out;
    ByteVector fill = readFile(out + "/FILL.BIN");
    ASSERT_EQ(fill.size(), 103742976u);
    EXPECT_EQ(std::string(fill.end() - 512, fill.end() - 502), "ONDRELTAIL");
    CliResult cut = runCli("recover --start-sector 2048 --end-sector " + std::to_string(kLastSector - 1) +
                           " --fs fat32 --out " + test::quoted(dir.file("cut")) + " " + image);
    EXPECT_EQ(cut.status, 1) << "a file read past the volume's end is no clean save: " << cut.out;

    // The volume list and the export agree on the exact size.
    CliResult listed = runCli("volumes --json " + image);
    EXPECT_NE(listed.out.find("\"lengthBytes\": " + std::to_string(kSectors * 512)), std::string::npos) << listed.out;
    CliResult exported = runCli("export --volume 0 " + image + " " + quoted(dir.path().string()));
    EXPECT_EQ(exported.status, 0) << exported.out;
    EXPECT_EQ(readFile(dir.file("oddsize-fat32.raw.volume0.img")).size(), static_cast<std::size_t>(kSectors * 512));
}

TEST_F(OddSizeVolumeTest, A100KibibyteExt2IsAVolumeOfItsOwnSize) {
    OpenedImage image = openDiskImage(fixture("oddsize-ext2.img"), std::nullopt);
    ASSERT_TRUE(image.reader) << image.message;
    std::shared_ptr<const readWriteInterface> disk(std::move(image.reader));
    std::vector<VolumeRecord> records = listVolumes(disk);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].fileSystem, "extX");
    EXPECT_EQ(records[0].listedBy, "disk");
    EXPECT_EQ(records[0].lengthBytes, 102400);
    auto adapter = createAdapter(records[0]);
    ASSERT_TRUE(adapter);
    ScanDriver driver(*adapter, silentObserver());
    ASSERT_TRUE(driver.run(RecoveryMode::Standard));
    std::map<std::string, std::string> saved = saveAllHashes(*adapter);
    for (const auto& [path, hash] : manifestHashes("oddsize-ext2.img")) EXPECT_EQ(saved[path], hash) << path;

    WorkControl control;
    std::string out = dir.file("ext2.img");
    ASSERT_TRUE(DiskExport(*records[0].source, silentObserver(), control).run(out).ok);
    EXPECT_EQ(readFile(out), readFile(fixture("oddsize-ext2.img")));
}

}  // namespace ondrel::test
