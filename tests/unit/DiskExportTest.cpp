#include "common/WorkControl.h"
#include "diskimage/FileReadSeek.h"
#include "diskimage/FileReadSeekVHD.h"
#include "unit/ContainerBuilders.h"
#include "unit/RecordingObserver.h"
#include "volumes/DiskExport.h"

#include <gtest/gtest.h>

namespace ondrel::test {

class DiskExportTest : public ::testing::Test {
protected:
    TempDir dir;
    RecordingObserver observer;
    WorkControl control;
};

TEST_F(DiskExportTest, TwelveMegabyteDiskIsCopiedWholeIncludingItsLastByte) {
    ByteVector disk = patternDisk(12 << 20, 5);
    disk.back() = 0x5A;
    std::fill(disk.begin() + (2 << 20), disk.begin() + (6 << 20), 0);  // unallocated in the VHD
    writeFile(dir.file("disk.vhd"), buildDynamicVhd(disk));
    FileReadSeekVHD reader;
    ASSERT_TRUE(reader.open(dir.file("disk.vhd")));
    std::filesystem::create_directory(dir.path() / "out");
    std::string out = exportOutputPath(dir.file("disk.vhd"), (dir.path() / "out").string());
    EXPECT_EQ(out, (dir.path() / "out" / "disk.vhd.img").string());
    ExportOutcome outcome = DiskExport(reader, observer, control).run(out);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    EXPECT_EQ(readFile(out), disk);
    EXPECT_EQ(observer.statuses.front(), "5 MB of 12 MB or 0.004883 GB of 0.011719 GB Saved");
    EXPECT_EQ(observer.statuses.back(), "Image Saved,Choose any one of the mode and click next.");
    EXPECT_EQ(observer.rangeHigh, 12 * 2048);
    EXPECT_EQ(observer.positions.back(), 12 * 2048);
}

TEST_F(DiskExportTest, OutputNamesCountUpAndPathsWithoutFolderGetTheDefaultName) {
    std::string folder = dir.path().string();
    std::string first = exportOutputPath("/images/disk.vhd", folder);
    EXPECT_EQ(first, folder + "/disk.vhd.img");
    writeFile(first, {1});
    EXPECT_EQ(exportOutputPath("/images/disk.vhd", folder + "/"), folder + "/1disk.vhd.img");
    writeFile(folder + "/1disk.vhd.img", {1});
    EXPECT_EQ(exportOutputPath("/images/disk.vhd", folder), folder + "/2disk.vhd.img");
    EXPECT_EQ(exportOutputPath("disk.vhd", folder), folder + "/Recovered_diskimg.img");
}

TEST_F(DiskExportTest, StopKeepsTheChunksWrittenSoFar) {
    writeFile(dir.file("disk.img"), patternDisk(16 << 20, 6));
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(dir.file("disk.img")));
    struct StopAfterFirst : RecordingObserver {
        WorkControl* control = nullptr;
        void status(const std::string& text) override {
            RecordingObserver::status(text);
            control->requestStop();
        }
    } stopper;
    stopper.control = &control;
    std::string out = dir.file("out.img");
    ExportOutcome outcome = DiskExport(reader, stopper, control).run(out);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(std::filesystem::file_size(out), 5u << 20);
    EXPECT_EQ(stopper.statuses.back(), "Image Saved,Choose any one of the mode and click next.");
}

TEST_F(DiskExportTest, FailuresAreReportedAsFailures) {
    ByteVector disk = patternDisk(8 << 20, 7);
    ByteVector vhd = buildDynamicVhd(disk);
    writeFile(dir.file("cut.vhd"), ByteVector(vhd.begin(), vhd.begin() + static_cast<std::ptrdiff_t>(vhd.size() / 2)));
    FileReadSeekVHD reader;
    ASSERT_TRUE(reader.open(dir.file("cut.vhd")));
    ExportOutcome outcome = DiskExport(reader, observer, control).run(dir.file("cut.img"));
    // The copy goes on to the disk's end, with zeros where the file was cut,
    // and says how much could not be read; it is no success.
    EXPECT_FALSE(outcome.ok);
    EXPECT_GT(outcome.unreadableBytes, 0);
    EXPECT_NE(outcome.message.find("sectors could not be read"), std::string::npos) << outcome.message;
    EXPECT_EQ(observer.messages, std::vector<std::string>{outcome.message});
    ByteVector copy = readFile(dir.file("cut.img"));
    ASSERT_EQ(copy.size(), disk.size());
    // Every byte differs from the disk only where it could not be read, and is zero there.
    std::int64_t differing = 0;
    bool zerosOnly = true;
    for (std::size_t i = 0; i < copy.size(); ++i)
        if (copy[i] != disk[i]) {
            ++differing;
            zerosOnly = zerosOnly && copy[i] == 0;
        }
    EXPECT_TRUE(zerosOnly);
    EXPECT_GT(differing, 0);
    EXPECT_LE(differing, outcome.unreadableBytes);
    ASSERT_FALSE(reader.damage().empty());
    EXPECT_NE(reader.damage().describe().front().find("could not be read: the image file ends before it"), std::string::npos)
        << reader.damage().describe().front();

    FileReadSeek plain;
    writeFile(dir.file("p.img"), disk);
    ASSERT_TRUE(plain.open(dir.file("p.img")));
    RecordingObserver other;
    ExportOutcome noFolder = DiskExport(plain, other, control).run(dir.file("missing/out.img"));
    EXPECT_FALSE(noFolder.ok);
    EXPECT_EQ(noFolder.message, "File cannot be Created");
    EXPECT_EQ(other.messages, std::vector<std::string>{"File cannot be Created"});
}

TEST_F(DiskExportTest, ReadersThatCannotHandOverTheirFileAreCopiedThroughMemory) {
    struct OpaqueReader : FileReadSeek {
        const ReadOnlyFile* imageFile() const override { return nullptr; }
        std::optional<DiskExtent> extentAt(std::int64_t) const override { return std::nullopt; }
    };
    ByteVector disk = patternDisk(7 << 20, 9);
    std::fill(disk.begin() + (1 << 20), disk.begin() + (3 << 20), 0);
    writeFile(dir.file("disk.img"), disk);
    OpaqueReader reader;
    ASSERT_TRUE(reader.open(dir.file("disk.img")));
    std::string out = dir.file("copy.img");
    ExportOutcome outcome = DiskExport(reader, observer, control).run(out);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    EXPECT_EQ(readFile(out), disk);
}

}  // namespace ondrel::test
