// The VHDX reader against images qemu-img makes (and, for what it cannot make,
// tests/fixtures/vhdx_children.py builds from them), byte for byte against the
// raw disks qemu-img converts them to.
#include "diskimage/Crc32c.h"
#include "diskimage/FileReadSeekVhdx.h"
#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace ondrel::test {

namespace {
const std::string kScript = std::string(ONDREL_FIXTURE_SOURCE_DIR) + "/../vhdx_children.py";

bool haveTools() { return runCommand("qemu-img --version >/dev/null 2>&1") == 0 && runCommand("python3 -c 1") == 0; }

// A disk with data, zero runs and a last block that is only partly used.
ByteVector sampleDisk() {
    ByteVector disk = patternDisk(21 << 20, 7);
    std::fill(disk.begin() + (3 << 20), disk.begin() + (6 << 20), 0);
    std::fill(disk.begin() + (12 << 20) + 4096, disk.begin() + (13 << 20), 0);
    return disk;
}

void reseal(ByteVector& b, std::size_t at, std::size_t length) {
    putLe(b, at + 4, 0, 4);
    putLe(b, at + 4, crc32c(b.data() + at, length), 4);
}
}  // namespace

class VhdxReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveTools()) GTEST_SKIP() << "qemu-img or python3 missing";
        disk = sampleDisk();
        writeFile(dir.file("disk.raw"), disk);
    }

    // qemu-img's image of disk.raw with the options, and its own raw reading of it.
    std::string make(const std::string& name, const std::string& options) {
        std::string image = dir.file(name);
        EXPECT_EQ(runCommand("qemu-img convert -f raw -O vhdx -o " + options + " " + test::quoted(dir.file("disk.raw")) + " " +
                             test::quoted(image)),
                  0);
        return image;
    }
    ByteVector qemuRaw(const std::string& image) {
        std::string raw = image + ".qemu.raw";
        EXPECT_EQ(runCommand("qemu-img convert -f vhdx -O raw " + test::quoted(image) + " " + test::quoted(raw)), 0);
        return readFile(raw);
    }
    // The differencing child and the unreplayed-log copy of parent.vhdx.
    void makeDerived() {
        std::string parent = make("parent.vhdx", "subformat=dynamic,block_size=1M");
        writeFile(dir.file("parent.raw"), qemuRaw(parent));
        ASSERT_EQ(runCommand("python3 " + test::quoted(kScript) + " --parent " + test::quoted(parent) + " --parent-raw " +
                             test::quoted(dir.file("parent.raw")) + " --child " + test::quoted(dir.file("child.vhdx")) +
                             " --child-raw " + test::quoted(dir.file("child.raw")) + " --log " + test::quoted(dir.file("log.vhdx")) +
                             " --log-raw " + test::quoted(dir.file("log.raw"))),
                  0);
    }

    TempDir dir;
    ByteVector disk;
};

TEST_F(VhdxReaderTest, DynamicAndFixedImagesReadAsQemuReadsThem) {
    for (const char* options : {"subformat=dynamic", "subformat=dynamic,block_size=1M,log_size=2M",
                                "subformat=dynamic,block_size=256M", "subformat=fixed"}) {
        SCOPED_TRACE(options);
        std::string image = make("d.vhdx", options);
        ByteVector expected = qemuRaw(image);
        FileReadSeekVhdx reader;
        ASSERT_TRUE(reader.open(image)) << reader.lastMessage();
        EXPECT_TRUE(reader.warnings().empty());
        EXPECT_EQ(reader.sectorCount(), disk.size() / 512);
        EXPECT_EQ(reader.layers().front().kind, "VHDX");
        EXPECT_EQ(readWholeDisk(reader), expected);
        EXPECT_EQ(readWholeDisk(reader, 3 * 512 + 17), expected);
        std::filesystem::remove(image);
    }
}

TEST_F(VhdxReaderTest, TheValidHeaderWithTheHigherSequenceCounts) {
    std::string image = make("d.vhdx", "subformat=dynamic");
    ByteVector expected = qemuRaw(image);
    ByteVector file = readFile(image);
    std::uint64_t seq1 = 0, seq2 = 0;
    std::memcpy(&seq1, &file[(64 << 10) + 8], 8);
    std::memcpy(&seq2, &file[(128 << 10) + 8], 8);
    std::size_t newer = seq1 > seq2 ? 64 << 10 : 128 << 10, older = seq1 > seq2 ? 128 << 10 : 64 << 10;
    // A different DataWriteGuid in the older header shows which one was used.
    file[older + 32] ^= 0x55;
    reseal(file, older, 4096);
    writeFile(image, file);
    FileReadSeekVhdx reader;
    ASSERT_TRUE(reader.open(image)) << reader.lastMessage();
    EXPECT_EQ(reader.headerSequence, std::max(seq1, seq2));
    EXPECT_EQ(reader.dataWriteGuidBytes[0], file[newer + 32]);

    // The newer one damaged: the older one is used, with a warning.
    file[newer + 200] ^= 1;
    writeFile(image, file);
    FileReadSeekVhdx fallback;
    ASSERT_TRUE(fallback.open(image)) << fallback.lastMessage();
    EXPECT_EQ(fallback.headerSequence, std::min(seq1, seq2));
    EXPECT_EQ(fallback.warnings().size(), 1u);
    EXPECT_EQ(readWholeDisk(fallback), expected);

    file[older + 200] ^= 1;
    writeFile(image, file);
    FileReadSeekVhdx none;
    EXPECT_FALSE(none.open(image));
    EXPECT_NE(none.lastMessage().find("header"), std::string::npos);
}

TEST_F(VhdxReaderTest, ABlockBeyondTheEndOfTheFileFailsToReadAndIsReported) {
    std::string image = make("d.vhdx", "subformat=dynamic,block_size=1M");
    ByteVector expected = qemuRaw(image);
    ByteVector file = readFile(image);
    // The block table is the region whose entries are mostly "fully present" (state 6) here; find block 0's entry.
    std::size_t bat = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        std::size_t at = (192 << 10) + 16 + 32 * k;
        if (file[at] == 0x66 && file[at + 1] == 0x77) std::memcpy(&bat, &file[at + 16], 4);
    }
    ASSERT_NE(bat, 0u);
    ASSERT_EQ(file[bat] & 7, 6);
    putLe(file, bat, (std::uint64_t(file.size() / (1 << 20) + 10) << 20) | 6, 8);
    writeFile(image, file);
    FileReadSeekVhdx reader;
    ASSERT_TRUE(reader.open(image)) << reader.lastMessage();
    ASSERT_FALSE(reader.warnings().empty());
    EXPECT_NE(reader.warnings().front().find("truncated"), std::string::npos);
    ByteVector block(1 << 20);
    EXPECT_FALSE(reader.readAt(0, block.data(), static_cast<std::uint32_t>(block.size())));
    EXPECT_EQ(block, ByteVector(1 << 20, 0));
    EXPECT_TRUE(reader.readAt(1 << 20, block.data(), static_cast<std::uint32_t>(block.size())));
    EXPECT_TRUE(std::equal(block.begin(), block.end(), expected.begin() + (1 << 20)));
}

TEST_F(VhdxReaderTest, AnUnreplayedLogIsReplayedInMemoryAsQemuReplaysIt) {
    makeDerived();
    std::string image = dir.file("log.vhdx");
    ByteVector before = readFile(image);
    FileReadSeekVhdx reader;
    ASSERT_TRUE(reader.open(image)) << reader.lastMessage();
    EXPECT_TRUE(reader.warnings().empty());
    EXPECT_EQ(reader.logEntriesReplayed, 2u);
    ByteVector replayed = readWholeDisk(reader);
    EXPECT_EQ(replayed, readFile(dir.file("log.raw")));
    EXPECT_NE(replayed, readFile(dir.file("parent.raw")));
    EXPECT_EQ(readFile(image), before);  // never written

    // qemu-img replays the log of a copy for real.
    std::string copy = dir.file("replayed.vhdx");
    writeFile(copy, before);
    runCommand("qemu-img check -r all -f vhdx " + test::quoted(copy) + " >/dev/null 2>&1");
    EXPECT_EQ(replayed, qemuRaw(copy));
}

TEST_F(VhdxReaderTest, ADamagedLogIsSkippedWithAWarning) {
    makeDerived();
    ByteVector file = readFile(dir.file("log.vhdx"));
    // Every entry header of the log (it starts at 1 MiB in qemu's layout) loses its signature.
    for (std::size_t at = 1 << 20; at < (2 << 20); at += 4096)
        if (std::memcmp(&file[at], "loge", 4) == 0) file[at] = 'X';
    writeFile(dir.file("log.vhdx"), file);
    FileReadSeekVhdx reader;
    ASSERT_TRUE(reader.open(dir.file("log.vhdx"))) << reader.lastMessage();
    EXPECT_EQ(reader.logEntriesReplayed, 0u);
    ASSERT_EQ(reader.warnings().size(), 1u);
    EXPECT_NE(reader.warnings().front().find("log"), std::string::npos);
    EXPECT_EQ(readWholeDisk(reader), readFile(dir.file("parent.raw")));
}

TEST_F(VhdxReaderTest, ADifferencingImageReadsItsSectorsOverItsParent) {
    makeDerived();
    FileReadSeekVhdx reader;
    ASSERT_TRUE(reader.open(dir.file("child.vhdx"))) << reader.lastMessage();
    EXPECT_TRUE(reader.hasParent);
    EXPECT_TRUE(reader.warnings().empty());
    ASSERT_EQ(reader.layers().size(), 2u);
    EXPECT_EQ(reader.layers()[0].kind, "differencing VHDX");
    EXPECT_EQ(reader.layers()[1].kind, "VHDX");
    ByteVector expected = readFile(dir.file("child.raw"));
    EXPECT_EQ(readWholeDisk(reader), expected);
    EXPECT_EQ(readWholeDisk(reader, 1536), expected);
}

TEST_F(VhdxReaderTest, AMissingParentIsNamed) {
    makeDerived();
    std::filesystem::remove(dir.file("parent.vhdx"));
    FileReadSeekVhdx reader;
    EXPECT_FALSE(reader.open(dir.file("child.vhdx")));
    EXPECT_NE(reader.lastMessage().find("parent.vhdx"), std::string::npos) << reader.lastMessage();
    EXPECT_NE(reader.lastMessage().find("cannot be found"), std::string::npos) << reader.lastMessage();
}

TEST_F(VhdxReaderTest, AParentThatIsNotTheOneTheChildWasMadeAgainstIsRefused) {
    makeDerived();
    // Same disk, new image: another DataWriteGuid.
    make("parent.vhdx", "subformat=dynamic,block_size=1M");
    FileReadSeekVhdx reader;
    EXPECT_FALSE(reader.open(dir.file("child.vhdx")));
    EXPECT_NE(reader.lastMessage().find("does not match"), std::string::npos) << reader.lastMessage();
    EXPECT_NE(reader.lastMessage().find("parent.vhdx"), std::string::npos) << reader.lastMessage();
}

}  // namespace ondrel::test
