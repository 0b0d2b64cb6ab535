// The containers hypervisors write, made by qemu-img (and the children it
// cannot write, built from their layouts): each reads as what qemu-img
// converts it to, byte for byte, through the reader and through export; the
// volumes are those of the raw disk; the chain is listed; a broken chain
// names the file it lacks.
#include "diskimage/ImageKind.h"
#include "unit/TestSupport.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace ondrel::test {

namespace {
// Image name -> SHA-256 of what it reads as.
std::map<std::string, std::string> expectedReads() {
    std::map<std::string, std::string> out;
    std::ifstream in(std::string(ONDREL_FIXTURE_SOURCE_DIR) + "/CONTAINER-SHA256SUMS");
    std::string hash, name;
    while (in >> hash >> name) out[name] = hash;
    return out;
}

std::string sha256Of(const std::string& path) {
    std::string out;
    runCommand("sha256sum " + test::quoted(path), &out);
    return out.substr(0, 64);
}

std::string volumesOf(const std::string& image) {
    return runCli("volumes " + test::quoted(image)).out;
}

struct ContainerCase {
    const char* image;
    ImageKind kind;
    int layers;
};

class HypervisorImageTest : public ::testing::TestWithParam<ContainerCase> {
protected:
};
}  // namespace

TEST_P(HypervisorImageTest, ReadsAsQemuImgConvertsItAndExportsTheSame) {
    const ContainerCase& c = GetParam();
    std::string image = fixture(c.image);
    if (image.empty()) GTEST_SKIP() << c.image << " is not among the fixtures";
    std::string want = expectedReads()[c.image];
    ASSERT_EQ(want.size(), 64u) << c.image << " is missing from CONTAINER-SHA256SUMS";

    EXPECT_EQ(detectImageKind(image), c.kind);
    OpenedImage opened = openDiskImage(image, std::nullopt);
    ASSERT_TRUE(opened.reader) << opened.message;
    EXPECT_TRUE(opened.reader->warnings().empty()) << opened.reader->warnings().front();
    EXPECT_EQ(static_cast<int>(opened.reader->layers().size()), c.layers);

    // Exported beside the image, on its file system, so the copy inside the
    // kernel runs and must take each run from the file that holds it.
    std::filesystem::path out = std::filesystem::path(image).parent_path() / ("export-" + std::string(c.image));
    std::filesystem::remove_all(out);
    std::filesystem::create_directory(out);
    ASSERT_EQ(runCli("export " + test::quoted(image) + " " + test::quoted(out.string())).status, 0);
    std::string exported = (out / (std::string(c.image) + ".img")).string();
    EXPECT_EQ(sha256Of(exported), want) << "export of " << c.image;
    // Reads of an odd length cross every cluster, grain and block boundary.
    EXPECT_EQ(readWholeDisk(*opened.reader, 1000 * 1000 + 24), readFile(exported)) << c.image;
    std::filesystem::remove_all(out);

    // What reads as mbr-disk.raw shows mbr-disk's volumes.
    if (want == expectedReads()["mbr-split.001"]) {
        std::string ours = volumesOf(image), raw = volumesOf(fixture("mbr-disk.raw"));
        EXPECT_FALSE(raw.empty());
        EXPECT_EQ(ours, raw);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, HypervisorImageTest,
    ::testing::Values(ContainerCase{"mbr-disk-v2.qcow2", ImageKind::Qcow2, 1},
                      ContainerCase{"mbr-disk.qcow2", ImageKind::Qcow2, 1},
                      ContainerCase{"mbr-disk-deflate.qcow2", ImageKind::Qcow2, 1},
                      ContainerCase{"mbr-disk-zstd.qcow2", ImageKind::Qcow2, 1},
                      ContainerCase{"mbr-chain-mid.qcow2", ImageKind::Qcow2, 2},
                      ContainerCase{"mbr-chain-top.qcow2", ImageKind::Qcow2, 3},
                      ContainerCase{"mbr-chain-l2.qcow2", ImageKind::Qcow2, 3},
                      ContainerCase{"mbr-disk.vhdx", ImageKind::Vhdx, 1},
                      ContainerCase{"mbr-disk-fixed.vhdx", ImageKind::Vhdx, 1},
                      ContainerCase{"mbr-disk-log.vhdx", ImageKind::Vhdx, 1},
                      ContainerCase{"mbr-vhdx-child.vhdx", ImageKind::Vhdx, 2},
                      ContainerCase{"mbr-disk-stream.vmdk", ImageKind::Vmdk, 1},
                      ContainerCase{"mbr-disk-2gb.vmdk", ImageKind::Vmdk, 2},
                      ContainerCase{"mbr-disk-flat.vmdk", ImageKind::Vmdk, 2},
                      ContainerCase{"mbr-vmdk-child.vmdk", ImageKind::Vmdk, 2},
                      ContainerCase{"mbr-vhd-child.vhd", ImageKind::DynamicVhd, 2},
                      ContainerCase{"mbr-vdi-child.vdi", ImageKind::Vdi, 2},
                      ContainerCase{"mbr-split.001", ImageKind::SplitRaw, 4},
                      ContainerCase{"mbr-split.aa", ImageKind::SplitRaw, 2}),
    [](const ::testing::TestParamInfo<ContainerCase>& info) {
        std::string n = info.param.image;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

// A chain copied into a folder of its own, so its files can go missing or be changed.
class ImageChainTest : public ::testing::Test {
protected:
    std::string copy(const std::string& name, const std::string& as = "") {
        std::string to = dir.file(as.empty() ? name : as);
        std::filesystem::copy_file(fixture(name), to);
        return to;
    }
    TempDir dir;
};

TEST_F(ImageChainTest, InfoListsTheWholeChainChildFirst) {
    if (fixture("mbr-chain-top.qcow2").empty()) GTEST_SKIP();
    CliResult r = runCli("info " + test::quoted(fixture("mbr-chain-top.qcow2")));
    ASSERT_EQ(r.status, 0) << r.out;
    auto top = r.out.find("mbr-chain-top.qcow2 (qcow2 v3"), mid = r.out.find("mbr-chain-mid.qcow2 (qcow2 v3"),
         base = r.out.find("mbr-chain-base.qcow2 (qcow2 v3");
    ASSERT_NE(top, std::string::npos) << r.out;
    ASSERT_NE(mid, std::string::npos) << r.out;
    ASSERT_NE(base, std::string::npos) << r.out;
    EXPECT_LT(top, mid);
    EXPECT_LT(mid, base);
    EXPECT_NE(r.out.find("names parent \"mbr-chain-mid.qcow2\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Virtual size:           100663296 bytes"), std::string::npos) << r.out;
}

TEST_F(ImageChainTest, MissingParentsAreNamedAndFailTheCommand) {
    for (const char* child : {"mbr-chain-mid.qcow2", "mbr-vhd-child.vhd", "mbr-vmdk-child.vmdk", "mbr-vhdx-child.vhdx"}) {
        if (fixture(child).empty()) continue;
        std::string path = copy(child);
        CliResult r = runCli("info " + test::quoted(path));
        EXPECT_EQ(r.status, 1) << child;
        EXPECT_NE(r.out.find("cannot be found"), std::string::npos) << child << ": " << r.out;
        EXPECT_NE(r.out.find(dir.path().string()), std::string::npos) << child << " names the file looked for: " << r.out;
    }
    // The VDI child knows its parent by UUID only.
    if (!fixture("mbr-vdi-child.vdi").empty()) {
        CliResult r = runCli("info " + test::quoted(copy("mbr-vdi-child.vdi")));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("needs its parent, the VDI with UUID"), std::string::npos) << r.out;
    }
}

TEST_F(ImageChainTest, AParentThatIsNotTheOneRecordedIsRefused) {
    if (fixture("mbr-vhd-child.vhd").empty() || fixture("mbr-disk.vhd").empty()) GTEST_SKIP();
    // Same name, another disk: the unique ID differs.
    copy("mbr-vhd-child.vhd");
    copy("mbr-disk.vhd", "mbr-vhd-base.vhd");
    CliResult r = runCli("info " + test::quoted(dir.file("mbr-vhd-child.vhd")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("does not match"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("mbr-vhd-base.vhd"), std::string::npos) << r.out;
    // A parent of another size, for a VMDK child: qemu-img writes it.
    if (runCommand("command -v qemu-img >/dev/null") != 0) return;
    copy("mbr-vmdk-child.vmdk");
    ASSERT_EQ(runCommand("qemu-img create -q -f vmdk " + test::quoted(dir.file("mbr-vmdk-base.vmdk")) + " 64M"), 0);
    r = runCli("info " + test::quoted(dir.file("mbr-vmdk-child.vmdk")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("mbr-vmdk-base.vmdk"), std::string::npos) << r.out;
}

TEST_F(ImageChainTest, AChainThatLoopsBackIsRefused) {
    if (fixture("mbr-chain-mid.qcow2").empty()) GTEST_SKIP();
    // The base names the middle image as its backing file: mid -> base -> mid.
    copy("mbr-chain-mid.qcow2");
    std::string base = copy("mbr-chain-base.qcow2");
    if (runCommand("command -v qemu-img >/dev/null") != 0) GTEST_SKIP() << "qemu-img is not installed";
    ASSERT_EQ(runCommand("qemu-img rebase -q -u -f qcow2 -b mbr-chain-mid.qcow2 -F qcow2 " + test::quoted(base)), 0);
    CliResult r = runCli("info " + test::quoted(dir.file("mbr-chain-mid.qcow2")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("loops"), std::string::npos) << r.out;
    // A file that names itself.
    std::string self = copy("mbr-chain-mid.qcow2", "self.qcow2");
    ASSERT_EQ(runCommand("qemu-img rebase -q -u -f qcow2 -b self.qcow2 -F qcow2 " + test::quoted(self)), 0);
    r = runCli("info " + test::quoted(self));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("loops"), std::string::npos) << r.out;
}

}  // namespace ondrel::test
