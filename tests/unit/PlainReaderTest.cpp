#include "diskimage/FileReadSeek.h"
#include "unit/TestSupport.h"
#include "volumes/ByteWindow.h"

#include <gtest/gtest.h>

namespace ondrel::test {

class PlainReaderTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(PlainReaderTest, PartialLastSectorIsNotCountedAndReadsPastTheEndAsZeros) {
    ByteVector bytes = patternDisk(1000);
    writeFile(dir.file("small.img"), bytes);
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(dir.file("small.img")));
    EXPECT_EQ(reader.sectorCount(), 1u);

    ByteVector buf(512, 0xAA);
    EXPECT_FALSE(reader.readAt(512, buf.data(), 512));
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 488, bytes.begin() + 512));
    EXPECT_TRUE(std::all_of(buf.begin() + 488, buf.end(), [](auto b) { return b == 0; }));

    // Entirely past the end: zeros, never what the buffer held before.
    std::fill(buf.begin(), buf.end(), 0xAA);
    EXPECT_FALSE(reader.readAt(4096, buf.data(), 512));
    EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](auto b) { return b == 0; }));
}

TEST_F(PlainReaderTest, ZeroByteReadSucceeds) {
    writeFile(dir.file("a.img"), patternDisk(4096));
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(dir.file("a.img")));
    std::uint8_t b = 7;
    EXPECT_TRUE(reader.readAt(0, &b, 0));
    EXPECT_EQ(b, 7);
}

TEST_F(PlainReaderTest, SizeOverrideReplacesTheFileLength) {
    writeFile(dir.file("a.img"), patternDisk(8192));
    OpenOptions options;
    options.diskSizeOverride = 100ull << 20;
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(dir.file("a.img"), options));
    EXPECT_EQ(reader.sectorCount(), 204800u);
}

TEST_F(PlainReaderTest, AVolumeWindowReadsFromItsStart) {
    ByteVector bytes = patternDisk(2048 * 512 + 4096, 3);
    writeFile(dir.file("a.img"), bytes);
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(dir.file("a.img")));
    ByteWindow volume(borrowSource(reader), 2048 * 512, 4096);
    ByteVector buf(512);
    ASSERT_TRUE(volume.readAt(0, buf.data(), 512));
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), bytes.begin() + 1048576));
    ASSERT_TRUE(volume.readAt(512, buf.data(), 512));
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), bytes.begin() + 1048576 + 512));
    EXPECT_FALSE(volume.readAt(-1048577, buf.data(), 512));
}

TEST_F(PlainReaderTest, MissingEmptyAndFolderInputsFailWithAMessage) {
    FileReadSeek missing;
    EXPECT_FALSE(missing.open(dir.file("nope.img")));
    EXPECT_EQ(missing.lastMessage(), "Invalid handle .");
    EXPECT_NE(missing.lastErrorCode(), 0);

    writeFile(dir.file("empty.img"), {});
    FileReadSeek empty;
    EXPECT_FALSE(empty.open(dir.file("empty.img")));
    EXPECT_FALSE(empty.lastMessage().empty());

    FileReadSeek folder;
    EXPECT_FALSE(folder.open(dir.path().string()));
}

TEST_F(PlainReaderTest, NeverOpensTheImageForWriting) {
    writeFile(dir.file("ro.img"), patternDisk(4096));
    std::filesystem::permissions(dir.file("ro.img"), std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    FileReadSeek reader;
    // Root ignores permission bits, so also check the descriptor's mode.
    ASSERT_TRUE(reader.open(dir.file("ro.img")));
    ByteVector buf(512);
    EXPECT_TRUE(reader.readAt(0, buf.data(), 512));
}

}  // namespace ondrel::test
