// The files an image names (a qcow2 backing file, a VMDK extent or parent) are
// opened only beside the image or in a folder below it, links resolved, and
// only when they are files or block devices of the kind the child expects;
// anything else is refused with a message naming the reference, unless the
// user allows that very file.
#include "diskimage/FileReadSeekVmdk.h"
#include "diskimage/ImageInfo.h"
#include "diskimage/ImageKind.h"
#include "unit/ContainerBuilders.h"
#include "unit/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace ondrel::test {

namespace {
bool haveQemu() { return runCommand("qemu-img --version >/dev/null 2>&1") == 0; }

class ReferenceRulesTest : public ::testing::Test {
protected:
    void SetUp() override {
        images = (root.path() / "images").string();
        elsewhere = (root.path() / "elsewhere").string();
        std::filesystem::create_directories(images);
        std::filesystem::create_directories(elsewhere);
        // What must never leak into an image: a host file outside the folder.
        secretBytes = patternDisk(1 << 20, 31);
        secret = elsewhere + "/secret.raw";
        writeFile(secret, secretBytes);
    }
    // A qcow2 image in images/ whose backing file is named as given (raw format).
    std::string qcow2Naming(const std::string& name, const std::string& backing) {
        std::string path = images + "/" + name;
        EXPECT_EQ(runCommand("qemu-img create -q -f qcow2 -u -b " + test::quoted(backing) + " -F raw " + test::quoted(path) + " 1M"), 0);
        return path;
    }
    std::string flatVmdkNaming(const std::string& name, const std::string& extent) {
        std::string text = "# Disk DescriptorFile\nversion=1\nCID=12345678\nparentCID=ffffffff\ncreateType=\"monolithicFlat\"\n"
                           "RW 2048 FLAT \"" + extent + "\" 0\n";
        std::string path = images + "/" + name;
        writeFile(path, ByteVector(text.begin(), text.end()));
        return path;
    }
    TempDir root;
    std::string images, elsewhere, secret;
    ByteVector secretBytes;
};
}  // namespace

TEST_F(ReferenceRulesTest, ABackingFileOutsideTheImagesFolderIsRefusedAndNamed) {
    if (!haveQemu()) GTEST_SKIP() << "qemu-img is not installed";
    for (const std::string& backing : {secret, std::string("../elsewhere/secret.raw")}) {
        std::string child = qcow2Naming("child.qcow2", backing);
        OpenedImage opened = openDiskImage(child, std::nullopt);
        EXPECT_FALSE(opened.reader) << backing;
        EXPECT_NE(opened.message.find(backing), std::string::npos) << opened.message;
        EXPECT_NE(opened.message.find("outside the folder"), std::string::npos) << opened.message;
        EXPECT_EQ(opened.refusedReference, std::filesystem::canonical(secret).string());

        // The command line exports nothing of it, says why and how to allow it.
        CliResult exported = runCli("export " + test::quoted(child) + " " + test::quoted(root.path().string()));
        EXPECT_EQ(exported.status, 1) << exported.out;
        EXPECT_NE(exported.out.find("--allow-parent"), std::string::npos) << exported.out;
        EXPECT_FALSE(std::filesystem::exists(root.file("child.qcow2.img")));
        // info names the reference either way.
        CliResult info = runCli("info " + test::quoted(child));
        EXPECT_EQ(info.status, 1);
        EXPECT_NE(info.out.find(backing), std::string::npos) << info.out;
        std::filesystem::remove(child);
    }
}

TEST_F(ReferenceRulesTest, TheUserCanAllowThatOneFile) {
    if (!haveQemu()) GTEST_SKIP() << "qemu-img is not installed";
    std::string child = qcow2Naming("child.qcow2", secret);
    OpenOptions allowed;
    allowed.allowedReferences = {secret};
    OpenedImage opened = openDiskImage(child, std::nullopt, allowed);
    ASSERT_TRUE(opened.reader) << opened.message;
    ByteVector first(512);
    ASSERT_TRUE(opened.reader->readAt(0, first.data(), first.size()));
    EXPECT_TRUE(std::equal(first.begin(), first.end(), secretBytes.begin()));
    CliResult info = runCli("info --allow-parent " + test::quoted(secret) + " " + test::quoted(child));
    EXPECT_EQ(info.status, 0) << info.out;
    // The image page offers the same choice: the refusal names the file to allow.
    ImageInfo page = readImageInfo(child, ImageChoice::Qcow2);
    EXPECT_FALSE(page.ok);
    EXPECT_EQ(page.refusedReference, std::filesystem::canonical(secret).string());
    EXPECT_TRUE(readImageInfo(child, ImageChoice::Qcow2, allowed).ok);
}

TEST_F(ReferenceRulesTest, ALinkInsideTheFolderThatPointsOutIsRefused) {
    if (!haveQemu()) GTEST_SKIP() << "qemu-img is not installed";
    std::filesystem::create_symlink(secret, images + "/base.raw");
    std::string child = qcow2Naming("child.qcow2", "base.raw");
    OpenedImage opened = openDiskImage(child, std::nullopt);
    EXPECT_FALSE(opened.reader);
    EXPECT_NE(opened.message.find("outside the folder"), std::string::npos) << opened.message;

    // A parent in a folder below the image's is the image's own business.
    std::filesystem::create_directories(images + "/parents");
    std::filesystem::copy_file(secret, images + "/parents/base.raw");
    std::string below = qcow2Naming("below.qcow2", "parents/base.raw");
    EXPECT_TRUE(openDiskImage(below, std::nullopt).reader);
    // And a link that stays inside the folder is followed.
    std::filesystem::create_symlink(images + "/parents/base.raw", images + "/inside.raw");
    std::string viaLink = qcow2Naming("via-link.qcow2", "inside.raw");
    EXPECT_TRUE(openDiskImage(viaLink, std::nullopt).reader);
}

TEST_F(ReferenceRulesTest, VmdkExtentsOutsideTheFolderAreRefused) {
    for (const std::string& extent : {secret, std::string("../elsewhere/secret.raw")}) {
        std::string descriptor = flatVmdkNaming("flat.vmdk", extent);
        FileReadSeekVmdk reader;
        EXPECT_FALSE(reader.open(descriptor)) << extent;
        EXPECT_NE(reader.lastMessage().find("outside the folder"), std::string::npos) << reader.lastMessage();
        EXPECT_NE(reader.lastMessage().find(extent), std::string::npos) << reader.lastMessage();
        CliResult exported = runCli("export " + test::quoted(descriptor) + " " + test::quoted(root.path().string()));
        EXPECT_EQ(exported.status, 1) << exported.out;
        CliResult allowed = runCli("info --allow-parent " + test::quoted(secret) + " " + test::quoted(descriptor));
        EXPECT_EQ(allowed.status, 0) << allowed.out;
    }
}

TEST_F(ReferenceRulesTest, AParentMustBeOfTheChildsKind) {
    // A differencing VHD whose parent name leads to a raw file beside it.
    ByteVector disk = patternDisk(4 << 20, 32);
    writeFile(images + "/base.vhd", disk);  // named like a VHD, but a raw disk
    ByteVector child = buildDynamicVhd(disk);
    // Turn it into a differencing disk naming base.vhd (disk type 4, Unicode parent name).
    auto setType = [&](std::size_t at) { putBe(child, at + 60, 4, 4); };
    setType(0);
    setType(child.size() - 512);
    std::u16string name = u"base.vhd";
    for (std::size_t i = 0; i < name.size(); ++i) putBe(child, 512 + 0x40 + i * 2, name[i], 2);
    writeFile(images + "/child.vhd", child);
    OpenedImage opened = openDiskImage(images + "/child.vhd", std::nullopt);
    EXPECT_FALSE(opened.reader);
    EXPECT_NE(opened.message.find("is not a VHD"), std::string::npos) << opened.message;

    // A VMDK child over a raw file.
    std::string text = "# Disk DescriptorFile\nversion=1\nCID=12345678\nparentCID=87654321\ncreateType=\"monolithicFlat\"\n"
                       "parentFileNameHint=\"base.raw\"\nRW 8192 FLAT \"extent.raw\" 0\n";
    writeFile(images + "/base.raw", disk);
    writeFile(images + "/extent.raw", disk);
    writeFile(images + "/child.vmdk", ByteVector(text.begin(), text.end()));
    OpenedImage vmdk = openDiskImage(images + "/child.vmdk", std::nullopt);
    EXPECT_FALSE(vmdk.reader);
    EXPECT_NE(vmdk.message.find("is not a VMDK"), std::string::npos) << vmdk.message;
}

}  // namespace ondrel::test
