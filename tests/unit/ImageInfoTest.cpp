// What the image page shows about an image, read from the fixture disks made
// by qemu-img (the same 96 MiB disk in every container).
#include "TestSupport.h"

#include "diskimage/ImageInfo.h"

#include <gtest/gtest.h>

using namespace ondrel;

namespace {
std::uint64_t rawMb() {
    return std::filesystem::file_size(test::fixture("mbr-disk.raw")) / 1048576;
}
}  // namespace

TEST(ImageInfo, EachContainerGivesTheDiskSize) {
    if (test::fixture("mbr-disk.raw").empty()) GTEST_SKIP() << "fixtures not unpacked";
    struct Case {
        const char* file;
        ImageChoice choice;
    } cases[] = {{"mbr-disk.vhd", ImageChoice::DynamicVhd},
                 {"mbr-disk-fixed.vhd", ImageChoice::Fixed},
                 {"mbr-disk.raw", ImageChoice::Fixed},
                 {"mbr-disk.vdi", ImageChoice::Vdi},
                 {"mbr-disk.vmdk", ImageChoice::Vmdk}};
    for (const Case& c : cases) {
        ImageInfo info = readImageInfo(test::fixture(c.file), c.choice);
        ASSERT_TRUE(info.ok) << c.file << ": " << info.message;
        EXPECT_EQ(info.sizeMb, rawMb()) << c.file;
        EXPECT_EQ(info.maxTableEntries.has_value(), c.choice == ImageChoice::DynamicVhd) << c.file;
    }
}

TEST(ImageInfo, DynamicVhdShowsFooterFields) {
    if (test::fixture("mbr-disk.vhd").empty()) GTEST_SKIP() << "fixtures not unpacked";
    ImageInfo info = readImageInfo(test::fixture("mbr-disk.vhd"), ImageChoice::DynamicVhd);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.version, "65536");  // 1.0
    EXPECT_NE(info.cylinders, "N/A");
    // qemu-img makes one table entry per 2 MiB block of the disk.
    EXPECT_EQ(*info.maxTableEntries, rawMb() / 2);
    ImageInfo fixed = readImageInfo(test::fixture("mbr-disk.raw"), ImageChoice::Fixed);
    EXPECT_EQ(fixed.heads, "N/A");
    EXPECT_TRUE(fixed.version.empty());
}

TEST(ImageInfo, WrongTypeOrMissingFileSaysSo) {
    test::TempDir dir;
    EXPECT_EQ(readImageInfo(dir.file("missing.vhd"), ImageChoice::Fixed).message, "invalid handle ...");
    test::writeFile(dir.file("disk.bin"), test::ByteVector(4096, 0));
    EXPECT_EQ(readImageInfo(dir.file("disk.bin"), ImageChoice::Fixed).message, "not a vhd file");
    test::writeFile(dir.file("disk.img"), test::ByteVector(3 * 1048576 + 100, 0));
    ImageInfo raw = readImageInfo(dir.file("disk.img"), ImageChoice::Fixed);
    ASSERT_TRUE(raw.ok);
    EXPECT_EQ(raw.sizeMb, 3u);
    // A plain file is no dynamic VHD, whatever its name.
    test::writeFile(dir.file("plain.vhd"), test::ByteVector(4096, 0));
    EXPECT_EQ(readImageInfo(dir.file("plain.vhd"), ImageChoice::DynamicVhd).message,
              "Please select valid vhd file to continue the recovery process.");
    EXPECT_EQ(readImageInfo(dir.file("disk.img"), ImageChoice::Vdi).message,
              "Please select valid vdi file to continue the recovery process.");
    EXPECT_FALSE(readImageInfo(dir.file("plain.vhd"), ImageChoice::Vmdk).ok);
}

TEST(ImageInfo, ExtensionTestIgnoresCaseAndShortPaths) {
    EXPECT_TRUE(hasImageExtension("C:\\DISK.VHD", "vhd"));
    EXPECT_TRUE(hasImageExtension("abc", "vhd"));
    EXPECT_FALSE(hasImageExtension("disk.vhdx", "vhd"));
    EXPECT_FALSE(hasImageExtension("disk.vdi", "vhd"));
}
