// Damaged and hostile input that used to pass as success: folders whose
// records hide their entries, a root folder that is none, exports that stopped
// at the first bad cluster, settings files that never end, definitions whose
// numbers overflow, names that forge paths. Each case is built here from a
// fixture with a few byte edits, and each must say what is wrong, keep what
// can still be read and exit with 1.
#include "carving/CarvingJob.h"
#include "carving/SignatureRecord.h"
#include "common/Endian.h"
#include "diskimage/MemoryReader.h"
#include "unit/TestSupport.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

namespace ondrel::test {

namespace {
// Where the fixture ext2.img keeps the root's inode and its folder block (checked below).
constexpr std::size_t kExtRootInode = 132 * 1024 + 256, kExtRootBlock = 644 * 1024;

std::string lsOf(const std::string& image, const std::string& fs, int* status = nullptr) {
    CliResult r = runCli("ls --start-sector 0 --fs " + fs + " " + test::quoted(image));
    if (status) *status = r.status;
    return r.out;
}

class HostileInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        ext = readFile(fixture("ext2.img"));
        if (ext.empty()) GTEST_SKIP() << "ext2.img is missing";
        // The fixture is what the offsets say: the root inode is a folder
        // without flags, its block starts with "." and "..".
        ASSERT_EQ(le16(Bytes(ext), kExtRootInode) & 0xF000, 0x4000);
        ASSERT_EQ(le32(Bytes(ext), kExtRootInode + 0x20), 0u);
        ASSERT_EQ(ext[kExtRootBlock + 8], '.');
        ASSERT_EQ(le16(Bytes(ext), kExtRootBlock + 4), 12u);
        ASSERT_EQ(ext[kExtRootBlock + 12 + 8], '.');
    }
    std::string write(const std::string& name, const ByteVector& bytes) {
        std::string path = dir.file(name);
        writeFile(path, bytes);
        return path;
    }
    // The offset in the root block of the record named name.
    std::size_t recordOf(const std::string& name) const {
        for (std::size_t at = kExtRootBlock; at < kExtRootBlock + 1024;) {
            std::size_t rec = le16(Bytes(ext), at + 4), length = ext[at + 6];
            if (std::string(ext.begin() + static_cast<std::ptrdiff_t>(at + 8),
                            ext.begin() + static_cast<std::ptrdiff_t>(at + 8 + length)) == name)
                return at;
            if (rec == 0) break;
            at += rec;
        }
        ADD_FAILURE() << name << " is not in the root folder";
        return kExtRootBlock;
    }
    TempDir dir;
    ByteVector ext;
};

SignatureRecord definition(const std::string& start, const std::u16string& extension) {
    SignatureRecord r;
    r.extension = extension;
    r.extensionLength = static_cast<std::uint8_t>(extension.size());
    r.start.assign(start.begin(), start.end());
    r.category = u"Tests";
    return r;
}
}  // namespace

TEST_F(HostileInputTest, ExtFoldersWhoseRecordsHideTheirEntriesStillListThemAndSaySo) {
    const std::string healthy = lsOf(fixture("ext2.img"), "ext");
    ASSERT_NE(healthy.find("/README.txt\tf\t1300\tlive"), std::string::npos) << healthy;

    // Every flag of the root inode set: inline data, extents and a hash index it does not have.
    ByteVector flags = ext;
    putLe(flags, kExtRootInode + 0x20, 0xFFFFFFFF, 4);
    // The root's "." record swallowing the whole block.
    ByteVector dot = ext;
    putLe(dot, kExtRootBlock + 4, 1024, 2);
    // A record length of 0 (the walk used to stop after "." and "..").
    ByteVector zero = ext;
    putLe(zero, recordOf("lost+found") + 4, 0, 2);
    for (const auto& [name, bytes, why] :
         {std::make_tuple("flags.img", flags, "flags"), std::make_tuple("dot.img", dot, "covers the whole block"),
          std::make_tuple("zero.img", zero, "leads nowhere")}) {
        int status = 0;
        std::string out = lsOf(write(name, bytes), "ext", &status);
        EXPECT_EQ(status, 1) << name << ": damage is no clean success\n" << out;
        EXPECT_NE(out.find(why), std::string::npos) << name << "\n" << out;
        EXPECT_NE(out.find("/README.txt\tf\t1300\tlive"), std::string::npos) << name << ": the entries are still listed\n" << out;
        EXPECT_NE(out.find("/docs/paper 01.txt\tf\t3090\tlive"), std::string::npos) << name << "\n" << out;
        EXPECT_EQ(out.find("/..\t"), std::string::npos) << name << ": the folder's own links are not entries\n" << out;
    }
}

TEST_F(HostileInputTest, UnknownExtFeaturesAreReported) {
    ByteVector odd = ext;
    putLe(odd, 1024 + 0x60, le32(Bytes(ext), 1024 + 0x60) | 0x80000000u, 4);
    int status = 0;
    std::string out = lsOf(write("features.img", odd), "ext", &status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("incompatible features Ondrel does not know (0x80000000)"), std::string::npos) << out;
}

TEST_F(HostileInputTest, ExtEntriesNamedDotOrDotDotAreSavedUnderSafeNamesAndCounted) {
    // The root's "docs" entry renamed "..": a folder with files.
    ByteVector renamed = ext;
    std::size_t at = recordOf("docs");
    renamed[at + 6] = 2;
    renamed[at + 8] = '.';
    renamed[at + 9] = '.';
    std::string image = write("dotdot.img", renamed);
    std::string listing = lsOf(image, "ext");
    EXPECT_NE(listing.find("/\\../paper 01.txt\tf\t3090\tlive"), std::string::npos)
        << "listed, and escaped so it reads as no step up\n" << listing;
    CliResult saved = runCli("recover --start-sector 0 --fs ext --out " + test::quoted(dir.file("out")) + " " + test::quoted(image));
    EXPECT_EQ(saved.status, 0) << saved.out;
    EXPECT_NE(saved.out.find("1 saved under safe names"), std::string::npos) << saved.out;
    EXPECT_TRUE(std::filesystem::exists(dir.file("out") + "/_../paper 01.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "paper 01.txt")) << "nothing lands above the output folder";
}

TEST_F(HostileInputTest, AnExFatRootThatIsNoFolderFallsBackToTheSweep) {
    ByteVector exfat = readFile(fixture("exfat-4k.img"));
    ASSERT_FALSE(exfat.empty());
    ASSERT_NE(le32(Bytes(exfat), 0x60), 2u);
    putLe(exfat, 0x60, 2, 4);  // cluster 2 holds the allocation bitmap, no folder
    int status = 0;
    std::string out = lsOf(write("root2.img", exfat), "exfat", &status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("holds no allocation bitmap entry"), std::string::npos) << out;
    EXPECT_NE(out.find("/README.txt\tf\t153\tlive"), std::string::npos) << "the real root is found by the sweep\n" << out;
}

TEST_F(HostileInputTest, AnExportGoesOnPastADamagedCompressedClusterAndNamesIt) {
    ByteVector image = readFile(fixture("mbr-disk-deflate.qcow2"));
    ByteVector disk = readFile(fixture("mbr-disk.raw"));
    ASSERT_FALSE(image.empty());
    ASSERT_FALSE(disk.empty());
    // The compressed cluster that holds the NTFS boot sector (cluster 16 of 64 KiB).
    Bytes b(image);
    const unsigned bits = be32(b, 20);
    ASSERT_EQ(bits, 16u);
    const std::uint64_t l2 = be64(b, be64(b, 40)) & 0x00FFFFFFFFFFFE00ull;
    const std::uint64_t entry = be64(b, l2 + 16 * 8);
    ASSERT_TRUE(entry & (1ull << 62)) << "cluster 16 is compressed";
    const std::uint64_t host = entry & ((1ull << (62 - (bits - 8))) - 1);
    for (std::size_t i = 0; i < 32; ++i) image[host + i] = 0xFF;  // a deflate stream no decoder takes
    std::string damaged = write("damaged.qcow2", image);

    CliResult exported = runCli("export " + test::quoted(damaged) + " " + test::quoted(dir.path().string()));
    EXPECT_EQ(exported.status, 1) << exported.out;
    EXPECT_NE(exported.out.find("sectors 2048\u20132175 could not be read: its compressed cluster is damaged"), std::string::npos)
        << exported.out;
    ByteVector copy = readFile(dir.file("damaged.qcow2.img"));
    ASSERT_EQ(copy.size(), disk.size()) << "the export runs to the disk's end";
    const std::size_t from = 16 << 16, to = 17 << 16;
    EXPECT_TRUE(std::equal(copy.begin(), copy.begin() + from, disk.begin()));
    EXPECT_TRUE(std::all_of(copy.begin() + from, copy.begin() + to, [](auto v) { return v == 0; }));
    EXPECT_TRUE(std::equal(copy.begin() + to, copy.end(), disk.begin() + to));
}

TEST_F(HostileInputTest, AStreamOptimizedVmdkWithABadGrainExportsTheRest) {
    ByteVector image = readFile(fixture("mbr-disk-stream.vmdk"));
    ByteVector disk = readFile(fixture("mbr-disk.raw"));
    ASSERT_FALSE(image.empty());
    // The grain of the NTFS boot sector: a marker (sector 2048, a size) then a zlib stream.
    std::size_t grain = 0;
    for (std::size_t at = 512; at + 14 < image.size(); at += 512)
        if (le64(Bytes(image), at) == 2048 && le32(Bytes(image), at + 8) > 0 && le32(Bytes(image), at + 8) < 200000 &&
            image[at + 12] == 0x78) {
            grain = at;
            break;
        }
    ASSERT_NE(grain, 0u) << "no grain marker for sector 2048";
    for (std::size_t i = 14; i < 40; ++i) image[grain + i] = 0xFF;
    std::string damaged = write("damaged.vmdk", image);
    CliResult exported = runCli("export " + test::quoted(damaged) + " " + test::quoted(dir.path().string()));
    EXPECT_EQ(exported.status, 1) << exported.out;
    EXPECT_NE(exported.out.find("sectors 2048\u20132175 could not be read: its compressed grain is damaged"), std::string::npos)
        << exported.out;
    ByteVector copy = readFile(dir.file("damaged.vmdk.img"));
    ASSERT_EQ(copy.size(), disk.size());
    EXPECT_TRUE(std::equal(copy.begin() + (2176 * 512), copy.end(), disk.begin() + (2176 * 512)));
}

TEST_F(HostileInputTest, AFlatVmdkWhoseExtentIsCutShortReadsZerosPastItsEnd) {
    ByteVector descriptor = readFile(fixture("mbr-disk-flat.vmdk"));
    ByteVector flat = readFile(fixture("mbr-disk-flat-flat.vmdk"));
    ASSERT_FALSE(descriptor.empty());
    ASSERT_FALSE(flat.empty());
    const std::size_t half = flat.size() / 2;
    write("mbr-disk-flat.vmdk", descriptor);
    write("mbr-disk-flat-flat.vmdk", ByteVector(flat.begin(), flat.begin() + static_cast<std::ptrdiff_t>(half)));
    TempDir out;
    CliResult exported = runCli("export " + test::quoted(dir.file("mbr-disk-flat.vmdk")) + " " + test::quoted(out.path().string()));
    EXPECT_EQ(exported.status, 1) << exported.out;
    EXPECT_NE(exported.out.find("the rest reads as zeros"), std::string::npos) << exported.out;
    EXPECT_NE(exported.out.find("could not be read: the image file ends before it"), std::string::npos) << exported.out;
    ByteVector copy = readFile(out.file("mbr-disk-flat.vmdk.img"));
    ASSERT_EQ(copy.size(), flat.size()) << "the image is not cut to nothing";
    EXPECT_TRUE(std::equal(copy.begin(), copy.begin() + static_cast<std::ptrdiff_t>(half), flat.begin()));
    EXPECT_TRUE(std::all_of(copy.begin() + static_cast<std::ptrdiff_t>(half), copy.end(), [](auto v) { return v == 0; }));
}

TEST_F(HostileInputTest, SettingsFilesThatAreNoFilesOrTooLargeAreRefusedAtOnce) {
    auto start = std::chrono::steady_clock::now();
    CliResult device = runCli("signatures /dev/zero");
    EXPECT_EQ(device.status, 1) << device.out;
    EXPECT_NE(device.out.find("Please select a valid file.."), std::string::npos) << device.out;
    CliResult carve = runCli("carve --list --signatures /dev/zero " + test::quoted(fixture("carving.img")));
    EXPECT_EQ(carve.status, 1) << carve.out;
    // A sparse file of 4 GiB is refused by its size, before a byte of it is read.
    std::string sparse = dir.file("huge.settings");
    ASSERT_EQ(runCommand("truncate -s 4G " + test::quoted(sparse)), 0);
    CliResult huge = runCli("signatures " + test::quoted(sparse));
    EXPECT_EQ(huge.status, 1) << huge.out;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(HostileInputTest, DefinitionsWhoseNumbersOverflowAreBounded) {
    // Offset to size 0x7FFFFFFF and a skip of INT64_MAX used to overflow.
    SignatureRecord offset = definition("OVFLSIZE", u"ovf");
    offset.sizeOffset = 0x7FFFFFFF;
    offset.sizeBytes = 4;
    SignatureRecord skip = definition("OVFLSKIP", u"skp");
    skip.sizeToSkip = INT64_MAX;
    skip.approximateSize = INT64_MAX;
    SignatureRecord ended = definition("OVFLEND", u"end");
    ended.end = {'E', 'N', 'D'};
    ended.sizeToSkip = INT64_MAX;
    std::string settings = dir.file("overflow.settings");
    std::string message;
    for (const SignatureRecord& r : {offset, skip, ended}) ASSERT_TRUE(appendSignatureRecord(settings, r, message)) << message;
    ByteVector disk(8 * 512, 0);
    for (const auto& [at, text] : {std::make_pair(512, "OVFLSIZE"), std::make_pair(1536, "OVFLSKIP"), std::make_pair(2560, "OVFLEND")})
        std::copy(text, text + std::strlen(text), disk.begin() + at);
    auto source = std::make_shared<MemoryReader>(disk);
    CarvingJob job;
    ASSERT_TRUE(job.loadDefinitions(false, "", {settings})) << job.message();
    WorkControl control;
    ASSERT_TRUE(job.scan(source, silentObserver(), control));
    for (const CarvedFile& f : job.scanner().files()) {
        EXPECT_GE(f.size, 0);
        EXPECT_LE(f.offset + 0, static_cast<std::int64_t>(disk.size()));
    }
}

TEST_F(HostileInputTest, CarveListingsEscapeWhatTheDefinitionsHold) {
    SignatureRecord odd = definition("ESCAPEME", u"a\nb");
    odd.category = u"c\td";
    odd.approximateSize = 512;
    std::string settings = dir.file("escape.settings");
    std::string message;
    ASSERT_TRUE(appendSignatureRecord(settings, odd, message)) << message;
    ByteVector disk(4 * 512, 0);
    std::string marker = "ESCAPEME";
    std::copy(marker.begin(), marker.end(), disk.begin() + 1024);
    std::string image = write("escape.img", disk);
    CliResult listed = runCli("carve --list --no-default --signatures " + test::quoted(settings) + " " + test::quoted(image));
    EXPECT_EQ(listed.status, 0) << listed.out;
    EXPECT_NE(listed.out.find("1024 .a\\nb\tc\\td\t1024\t512\tcap\n"), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find("a\nb"), std::string::npos) << "one find, one line:\n" << listed.out;
    CliResult signatures = runCli("signatures " + test::quoted(settings));
    EXPECT_NE(signatures.out.find("a\\nb\tc\\td"), std::string::npos) << signatures.out;
}

TEST_F(HostileInputTest, ALongCarveEndsPromptlyOnSigtermWithWhatItFound) {
    // 4 TiB of zeros (sparse) with one find at the start: far more than the
    // two seconds the carve is given, even where holes read at memory speed
    // (a memory file system reads 64 GiB of them in about two seconds).
    std::string image = dir.file("long.img");
    ASSERT_EQ(runCommand("truncate -s 4T " + test::quoted(image)), 0);
    SignatureRecord r = definition("FINDME!!", u"bin");
    r.approximateSize = 512;
    std::string settings = dir.file("find.settings");
    std::string message;
    ASSERT_TRUE(appendSignatureRecord(settings, r, message)) << message;
    ByteVector first(512, 0);
    std::string marker = "FINDME!!";
    std::copy(marker.begin(), marker.end(), first.begin());
    std::FILE* f = std::fopen(image.c_str(), "r+b");
    ASSERT_TRUE(f);
    std::fwrite(first.data(), 1, first.size(), f);
    std::fclose(f);
    auto start = std::chrono::steady_clock::now();
    std::string out;
    int status = runCommand("timeout --preserve-status -s TERM 2 " ONDREL_CLI " carve --list --no-default --signatures " +
                                test::quoted(settings) + " " + test::quoted(image) + " 2>&1",
                            &out);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(30)) << "SIGTERM must end the scan promptly";
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("0 .bin"), std::string::npos) << "what was found stays listed\n" << out;
    EXPECT_NE(out.find("stopped"), std::string::npos) << out;
}

}  // namespace ondrel::test
