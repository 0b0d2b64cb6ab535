// The images made by real tools (qemu-img, sfdisk, sgdisk, mkfs.*): every
// container reads back as the raw disk it was made from, and the volumes are
// found where the tools put them.
#include "fs/FileSystemRegistry.h"
#include "common/WorkControl.h"
#include "diskimage/ImageKind.h"
#include "unit/RecordingObserver.h"
#include "unit/TestSupport.h"
#include "volumes/DiskExport.h"
#include "volumes/Partition.h"

#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace ondrel::test {

namespace {

std::string sha256(const std::string& path) {
    std::string out;
    runCommand("sha256sum '" + path + "'", &out);
    return out.substr(0, 64);
}

std::map<std::string, std::string> committedHashes() {
    std::map<std::string, std::string> hashes;
    std::ifstream f(std::string(ONDREL_FIXTURE_SOURCE_DIR) + "/SHA256SUMS");
    std::string hash, name;
    while (f >> hash >> name) hashes[name] = hash;
    return hashes;
}

std::string summary(const std::vector<VolumeRecord>& records) {
    std::string out;
    for (const auto& r : records) out += r.fileSystem + "@" + std::to_string(r.startSector) + ";";
    return out;
}

struct ContainerCase {
    const char* file;
    const char* raw;
    ImageKind kind;
};

class ContainerFixtureTest : public ::testing::TestWithParam<ContainerCase> {
protected:
};

}  // namespace

TEST(FixtureImageTest, UnpackedImagesMatchTheirCommittedHashes) {
    auto hashes = committedHashes();
    ASSERT_FALSE(hashes.empty());
    for (const auto& [name, hash] : hashes) {
        std::string path = fixture(name);
        ASSERT_FALSE(path.empty()) << name;
        EXPECT_EQ(sha256(path), hash) << name;
    }
}

TEST_P(ContainerFixtureTest, ReadsBackTheRawDiskAndFindsItsVolumes) {
    const ContainerCase& c = GetParam();
    std::string path = fixture(c.file);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(detectImageKind(path), c.kind);
    OpenedImage image = openDiskImage(path, std::nullopt);
    ASSERT_TRUE(image.reader) << image.message;
    EXPECT_TRUE(image.reader->warnings().empty());
    ByteVector raw = readFile(fixture(c.raw));
    ASSERT_EQ(image.reader->sectorCount(), raw.size() / 512);
    EXPECT_TRUE(readWholeDisk(*image.reader) == raw) << "whole-disk read differs from " << c.raw;
    // Odd-sized reads across block and grain boundaries give the same bytes.
    ByteVector part(3 * 1048576 + 1000);
    std::int64_t at = 2 * 1048576 - 3 * 512 - 7;
    image.reader->readAt(at, part.data(), static_cast<std::uint32_t>(part.size()));
    EXPECT_TRUE(std::equal(part.begin(), part.end(), raw.begin() + at));

    std::vector<VolumeRecord> records;
    RecordingObserver observer;
    Partition partition(records, observer, fileSystemProbes());
    partition.gptMode = std::string(c.raw) == "gpt-disk.raw";
    partition.scanPartitionTables(*image.reader);
    if (partition.gptMode)
        EXPECT_EQ(summary(records), "NTFS@4096;FAT32@36864;FAT64@118784;extX@135168;HFS+@151552;");
    else
        EXPECT_EQ(summary(records), "NTFS@2048;FAT32@34816;FAT16@118784;FAT64@153600;extX@172032;Unknown@190464;");
}

INSTANTIATE_TEST_SUITE_P(
    Containers, ContainerFixtureTest,
    ::testing::Values(ContainerCase{"mbr-disk.raw", "mbr-disk.raw", ImageKind::Raw},
                      ContainerCase{"mbr-disk.vhd", "mbr-disk.raw", ImageKind::DynamicVhd},
                      ContainerCase{"mbr-disk-fixed.vhd", "mbr-disk.raw", ImageKind::FixedVhd},
                      ContainerCase{"mbr-disk.vdi", "mbr-disk.raw", ImageKind::Vdi},
                      ContainerCase{"mbr-disk.vmdk", "mbr-disk.raw", ImageKind::Vmdk},
                      ContainerCase{"gpt-disk.raw", "gpt-disk.raw", ImageKind::Raw},
                      ContainerCase{"gpt-disk.vhd", "gpt-disk.raw", ImageKind::DynamicVhd}),
    [](const auto& info) {
        std::string name = info.param.file;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

TEST(FixtureImageTest, SweepFindsEveryVolumeOfADiskWithoutPartitionTables) {
    OpenedImage image = openDiskImage(fixture("swept-disk.raw"), std::nullopt);
    ASSERT_TRUE(image.reader);
    std::vector<VolumeRecord> records;
    RecordingObserver observer;
    Partition table(records, observer, fileSystemProbes());
    table.scanPartitionTables(*image.reader);
    EXPECT_TRUE(records.empty()) << summary(records);

    Partition sweeper(records, observer, fileSystemProbes());
    sweeper.sweepVolumes(*image.reader);
    std::ifstream expected(std::string(ONDREL_FIXTURE_SOURCE_DIR) + "/swept-disk.expected");
    std::string want;
    std::int64_t start = 0, sectors = 0;
    std::string fs;
    std::map<std::int64_t, std::int64_t> sizes;
    while (expected >> start >> fs >> sectors) {
        want += fs + "@" + std::to_string(start) + ";";
        sizes[start] = sectors / 2048;
    }
    EXPECT_EQ(summary(records), want);
    for (const auto& r : records) {
        // Sizes come from the file systems, which may end a little before their partitions.
        EXPECT_LE(sizeMegabytes(r.sizeText), sizes[r.startSector]) << r.fileSystem;
        EXPECT_GE(sizeMegabytes(r.sizeText), sizes[r.startSector] - 1) << r.fileSystem;
    }
}

TEST(FixtureImageTest, ExportOfEachContainerWritesTheRawDisk) {
    for (const char* name : {"mbr-disk.vhd", "mbr-disk.vdi", "mbr-disk.vmdk", "mbr-disk-fixed.vhd"}) {
        OpenedImage image = openDiskImage(fixture(name), std::nullopt);
        ASSERT_TRUE(image.reader) << name;
        TempDir out;
        RecordingObserver observer;
        WorkControl control;
        std::string target = exportOutputPath(fixture(name), out.path().string());
        ExportOutcome outcome = DiskExport(*image.reader, observer, control).run(target);
        ASSERT_TRUE(outcome.ok) << name << ": " << outcome.message;
        EXPECT_EQ(sha256(target), committedHashes()["mbr-disk.raw"]) << name;
    }
}

}  // namespace ondrel::test
