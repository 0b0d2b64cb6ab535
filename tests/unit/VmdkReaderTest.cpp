#include "diskimage/FileReadSeekVmdk.h"
#include "common/Endian.h"
#include "unit/ContainerBuilders.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace ondrel::test {

namespace {
bool haveQemu() { return runCommand("qemu-img --version >/dev/null 2>&1 && qemu-io --version >/dev/null 2>&1") == 0; }

// qemu-img's own reading of an image, as a raw disk.
ByteVector qemuRaw(const TempDir& dir, const std::string& image) {
    std::string out = dir.file("qemu-truth.raw");
    if (runCommand("qemu-img convert -O raw " + test::quoted(image) + " " + test::quoted(out)) != 0) return {};
    return readFile(out);
}

int qemu(const std::string& args) { return runCommand("qemu-img " + args + " >/dev/null 2>&1"); }

// Replaces text of the same length in a file (descriptor fields in place).
void patchFile(const std::string& path, const std::string& from, const std::string& to) {
    ByteVector bytes = readFile(path);
    std::string text(bytes.begin(), bytes.end());
    auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    ASSERT_EQ(from.size(), to.size());
    std::copy(to.begin(), to.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    writeFile(path, bytes);
}
}  // namespace

class VmdkReaderTest : public ::testing::Test {
protected:

    static ByteVector sampleDisk() {
        ByteVector disk = patternDisk(3 << 20, 31);
        std::fill(disk.begin() + 65536, disk.begin() + 3 * 65536, 0);  // two empty grains
        return disk;
    }
    TempDir dir;
};

TEST_F(VmdkReaderTest, GrainsMapThroughDirectoryAndTables) {
    ByteVector disk = sampleDisk();
    VmdkLayout layout;
    layout.entriesPerTable = 16;  // several grain tables
    writeFile(dir.file("d.vmdk"), buildVmdk(disk, layout));
    FileReadSeekVmdk reader;
    ASSERT_TRUE(reader.open(dir.file("d.vmdk")));
    EXPECT_EQ(reader.sectorCount(), disk.size() / 512);
    EXPECT_EQ(reader.descriptor.createType, "monolithicSparse");
    EXPECT_EQ(reader.descriptor.cylinders, "1024");
    EXPECT_EQ(reader.descriptor.heads, "16");
    EXPECT_EQ(reader.descriptor.sectors, "63");
    EXPECT_EQ(reader.gdEntryCount, 3);
    EXPECT_TRUE(reader.warnings().empty());
    EXPECT_EQ(readWholeDisk(reader), disk);
    EXPECT_EQ(readWholeDisk(reader, 1536), disk);
}

TEST_F(VmdkReaderTest, ZeroedGrainsAndEmptyDirectoryEntriesReadAsZeros) {
    ByteVector disk = sampleDisk();
    VmdkLayout layout;
    layout.zeroedGrainMarker = true;
    ByteVector vmdk = buildVmdk(disk, layout);
    writeFile(dir.file("z.vmdk"), vmdk);
    FileReadSeekVmdk reader;
    ASSERT_TRUE(reader.open(dir.file("z.vmdk")));
    EXPECT_EQ(readWholeDisk(reader), disk);

    // Emptying the directory entry hides the whole table's range.
    std::uint64_t gdSector = le64(vmdk, 0x30);
    putLe(vmdk, gdSector * 512, 0, 4);
    writeFile(dir.file("gd.vmdk"), vmdk);
    FileReadSeekVmdk noTable;
    ASSERT_TRUE(noTable.open(dir.file("gd.vmdk")));
    ByteVector all = readWholeDisk(noTable);
    EXPECT_TRUE(std::all_of(all.begin(), all.end(), [](auto b) { return b == 0; }));
}

TEST_F(VmdkReaderTest, DescriptorExtentsGiveTheDiskSize) {
    std::string text =
        "# Disk DescriptorFile\nversion=1\nCID=fffffffe\nparentCID=ffffffff\ncreateType=\"monolithicSparse\"\n"
        "# Extent description\nRW 1000000 SPARSE \"a.vmdk\"\nRW 2000000 SPARSE \"b.vmdk\"\nRW 5 ZERO\n"
        "# The Disk Data Base\nddb.geometry.cylinders = \"2\"\n";
    auto parsed = parseVmdkDescriptor(text);
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->extents.size(), 3u);
    EXPECT_EQ(parsed->extents[0].sizeSectors + parsed->extents[1].sizeSectors, 3000000u);
    EXPECT_EQ(parsed->extents[1].fileName, "b.vmdk");
    EXPECT_EQ(parsed->extents[2].type, "ZERO");
    EXPECT_EQ(parsed->version, "1");
    EXPECT_EQ(parsed->CID, "fffffffe");

    EXPECT_FALSE(parseVmdkDescriptor("version=1\nCID=1\n# Extent description\nRW 8 SPARSE \"x\"\n"));
}

TEST_F(VmdkReaderTest, LongDescriptorHeaderStillFindsTheExtents) {
    std::string padding(700, '#');
    std::string text = "# Disk DescriptorFile\n" + padding + "\nversion=1\nCID=1\nparentCID=ffffffff\n"
                       "createType=\"monolithicSparse\"\n# Extent description\nRW 6144 SPARSE \"x.vmdk\"\n";
    ByteVector disk = sampleDisk();
    VmdkLayout layout;
    layout.descriptor = text;
    writeFile(dir.file("long.vmdk"), buildVmdk(disk, layout));
    FileReadSeekVmdk reader;
    ASSERT_TRUE(reader.open(dir.file("long.vmdk")));
    EXPECT_EQ(reader.sectorCount(), 6144u);
}

TEST_F(VmdkReaderTest, MissingDescriptorWarnsAndUsesTheCapacity) {
    ByteVector disk = sampleDisk();
    VmdkLayout layout;
    layout.withDescriptor = false;
    writeFile(dir.file("nodesc.vmdk"), buildVmdk(disk, layout));
    FileReadSeekVmdk reader;
    ASSERT_TRUE(reader.open(dir.file("nodesc.vmdk")));
    EXPECT_EQ(reader.warnings().size(), 1u);
    EXPECT_EQ(reader.sectorCount(), disk.size() / 512);
    EXPECT_EQ(readWholeDisk(reader), disk);
}

TEST_F(VmdkReaderTest, ForeignAndDamagedFilesAreRefused) {
    writeFile(dir.file("plain.vmdk"), patternDisk(4096));
    FileReadSeekVmdk plain;
    EXPECT_FALSE(plain.open(dir.file("plain.vmdk")));

    // A descriptor whose extent file is missing names the file it looked for.
    std::string descriptorOnly = standardVmdkDescriptor(2048);
    writeFile(dir.file("desc.vmdk"), ByteVector(descriptorOnly.begin(), descriptorOnly.end()));
    FileReadSeekVmdk desc;
    EXPECT_FALSE(desc.open(dir.file("desc.vmdk")));
    EXPECT_NE(desc.lastMessage().find(dir.file("test.vmdk")), std::string::npos) << desc.lastMessage();

    ByteVector vmdk = buildVmdk(sampleDisk());
    ByteVector tooMany = vmdk;
    putLe(tooMany, 0x2C, 4096, 4);
    writeFile(dir.file("gte.vmdk"), tooMany);
    FileReadSeekVmdk gte;
    EXPECT_FALSE(gte.open(dir.file("gte.vmdk")));

    ByteVector compressed = vmdk;  // compressed grains with no compression named
    putLe(compressed, 0x08, 0x30003, 4);
    writeFile(dir.file("stream.vmdk"), compressed);
    FileReadSeekVmdk stream;
    EXPECT_FALSE(stream.open(dir.file("stream.vmdk")));

    ByteVector noCreate = buildVmdk(sampleDisk(), VmdkLayout{128, 512, "version=1\nRW 6144 SPARSE \"x\"\n", true, false});
    writeFile(dir.file("nocreate.vmdk"), noCreate);
    FileReadSeekVmdk nc;
    EXPECT_FALSE(nc.open(dir.file("nocreate.vmdk")));
}

// Each kind qemu-img writes reads as qemu-img itself reads it.
TEST_F(VmdkReaderTest, HypervisorKindsReadAsQemuReadsThem) {
    if (!haveQemu()) GTEST_SKIP() << "qemu-img not installed";
    writeFile(dir.file("disk.raw"), sampleDisk());
    for (std::string kind : {"monolithicSparse", "streamOptimized", "monolithicFlat", "twoGbMaxExtentSparse",
                             "twoGbMaxExtentFlat"}) {
        std::string image = dir.file(kind + ".vmdk");
        ASSERT_EQ(qemu("convert -f raw -O vmdk -o subformat=" + kind + " " + test::quoted(dir.file("disk.raw")) + " " +
                       test::quoted(image)),
                  0);
        FileReadSeekVmdk reader;
        ASSERT_TRUE(reader.open(image)) << kind << ": " << reader.lastMessage();
        EXPECT_TRUE(reader.warnings().empty()) << kind;
        EXPECT_EQ(reader.layers().front().kind, "VMDK " + kind);
        ByteVector truth = qemuRaw(dir, image);
        ASSERT_FALSE(truth.empty());
        EXPECT_TRUE(readWholeDisk(reader) == truth) << kind;
        EXPECT_TRUE(readWholeDisk(reader, 1536) == truth) << kind;
    }
}

// Runs that cross from one extent into the next: a flat extent starting one
// sector into its file, a sparse extent, another flat one, and a zero extent.
TEST_F(VmdkReaderTest, ExtentsMapTheirRangesInTurn) {
    if (!haveQemu()) GTEST_SKIP() << "qemu-img not installed";
    ByteVector a = patternDisk(2050 * 512, 5), b = patternDisk(100 * 512, 6), sparse = sampleDisk();
    writeFile(dir.file("a.bin"), a);
    writeFile(dir.file("b.bin"), b);
    writeFile(dir.file("s.raw"), sparse);
    ASSERT_EQ(qemu("convert -f raw -O vmdk " + test::quoted(dir.file("s.raw")) + " " + test::quoted(dir.file("s.vmdk"))), 0);
    std::string head = "# Disk DescriptorFile\nversion=1\nCID=12345678\nparentCID=ffffffff\ncreateType=\"monolithicFlat\"\n"
                       "RW 2049 FLAT \"a.bin\" 1\nRW 6144 SPARSE \"s.vmdk\"\nRW 100 FLAT \"b.bin\" 0\n";
    writeFile(dir.file("mix.vmdk"), ByteVector(head.begin(), head.end()));
    FileReadSeekVmdk reader;
    ASSERT_TRUE(reader.open(dir.file("mix.vmdk"))) << reader.lastMessage();
    EXPECT_EQ(reader.sectorCount(), 2049u + 6144u + 100u);
    ByteVector truth = qemuRaw(dir, dir.file("mix.vmdk"));
    ASSERT_EQ(truth.size(), reader.sectorCount() * 512);
    EXPECT_TRUE(readWholeDisk(reader, 1536) == truth);
    EXPECT_TRUE(readWholeDisk(reader) == truth);

    // qemu-img skips ZERO extents, so this one is checked against the pieces.
    std::string zero = head + "RW 77 ZERO\n";
    writeFile(dir.file("zero.vmdk"), ByteVector(zero.begin(), zero.end()));
    FileReadSeekVmdk withZero;
    ASSERT_TRUE(withZero.open(dir.file("zero.vmdk")));
    truth.insert(truth.end(), 77 * 512, 0);
    EXPECT_TRUE(readWholeDisk(withZero, 1536) == truth);

    std::filesystem::remove(dir.file("b.bin"));
    FileReadSeekVmdk missing;
    EXPECT_FALSE(missing.open(dir.file("mix.vmdk")));
    EXPECT_NE(missing.lastMessage().find(dir.file("b.bin")), std::string::npos) << missing.lastMessage();
}

// A stream written in one pass keeps its directory at the end, found through
// the footer; a grain that does not inflate reads as zeros and fails alone.
TEST_F(VmdkReaderTest, StreamOptimizedFooterAndDamagedGrains) {
    if (!haveQemu()) GTEST_SKIP() << "qemu-img not installed";
    ByteVector disk = sampleDisk();
    writeFile(dir.file("disk.raw"), disk);
    ASSERT_EQ(qemu("convert -f raw -O vmdk -o subformat=streamOptimized " + test::quoted(dir.file("disk.raw")) + " " +
                   test::quoted(dir.file("so.vmdk"))),
              0);
    ByteVector so = readFile(dir.file("so.vmdk"));
    ByteVector atEnd = so;
    putLe(atEnd, 0x38, ~std::uint64_t(0), 8);
    ByteVector footer(1536, 0);
    putLe(footer, 0, 1, 8);
    putLe(footer, 12, 3, 4);  // footer marker, then the header copy, then end of stream
    std::copy(so.begin(), so.begin() + 512, footer.begin() + 512);
    atEnd.insert(atEnd.end(), footer.begin(), footer.end());
    writeFile(dir.file("footer.vmdk"), atEnd);
    FileReadSeekVmdk reader;
    ASSERT_TRUE(reader.open(dir.file("footer.vmdk"))) << reader.lastMessage();
    EXPECT_TRUE(readWholeDisk(reader) == qemuRaw(dir, dir.file("footer.vmdk")));
    EXPECT_TRUE(readWholeDisk(reader) == disk);

    // Without its footer the directory cannot be found.
    atEnd.resize(so.size());
    writeFile(dir.file("cut.vmdk"), atEnd);
    FileReadSeekVmdk cut;
    EXPECT_FALSE(cut.open(dir.file("cut.vmdk")));

    // Scramble the deflate data of the grain holding the second MiB.
    std::uint64_t gt = le32(so, le64(so, 0x38) * 512);
    std::uint64_t grain = le32(so, gt * 512 + 16 * 4);
    ASSERT_GT(grain, 1u);
    for (std::size_t i = 40; i < 200; ++i) so[grain * 512 + i] ^= 0x5A;
    writeFile(dir.file("bad.vmdk"), so);
    FileReadSeekVmdk bad;
    ASSERT_TRUE(bad.open(dir.file("bad.vmdk")));
    ByteVector expect = disk;
    std::fill(expect.begin() + (1 << 20), expect.begin() + (1 << 20) + 65536, 0);
    EXPECT_TRUE(readWholeDisk(bad) == expect);
    ByteVector sector(512);
    EXPECT_FALSE(bad.readAt((1 << 20) + 4096, sector.data(), 512));
    EXPECT_TRUE(bad.readAt((1 << 20) + 65536, sector.data(), 512));
}

// A child reads what it never wrote from its parent, zeroed grains as zeros,
// and refuses a parent that is missing, changed or itself.
TEST_F(VmdkReaderTest, ChildReadsThroughItsParent) {
    if (!haveQemu()) GTEST_SKIP() << "qemu-img not installed";
    writeFile(dir.file("disk.raw"), sampleDisk());
    std::string base = dir.file("base.vmdk"), child = dir.file("child.vmdk");
    ASSERT_EQ(qemu("convert -f raw -O vmdk " + test::quoted(dir.file("disk.raw")) + " " + test::quoted(base)), 0);
    ASSERT_EQ(qemu("create -f vmdk -o zeroed_grain=on -b base.vmdk -F vmdk " + test::quoted(child)), 0);
    ASSERT_EQ(runCommand("qemu-io -f vmdk -c 'write -P 0x5a 100000 70000' -c 'write -z 2M 128K' " + test::quoted(child) +
                         " >/dev/null 2>&1"),
              0);
    FileReadSeekVmdk reader;
    ASSERT_TRUE(reader.open(child)) << reader.lastMessage();
    ASSERT_EQ(reader.layers().size(), 2u);
    EXPECT_EQ(reader.layers()[0].parent, "base.vmdk");
    ByteVector truth = qemuRaw(dir, child);
    EXPECT_TRUE(readWholeDisk(reader) == truth);
    EXPECT_TRUE(readWholeDisk(reader, 1536) == truth);

    ByteVector childBytes = readFile(child);
    std::string text(childBytes.begin(), childBytes.begin() + 4096);
    // qemu-img writes content IDs without leading zeros.
    std::size_t at = text.find("parentCID=") + 10;
    std::string parentCID = text.substr(at, text.find('\n', at) - at);

    ByteVector baseBytes = readFile(base);
    std::string baseText(baseBytes.begin(), baseBytes.begin() + 4096);
    std::size_t cidAt = baseText.find("\nCID=") + 5;
    std::string baseCID = baseText.substr(cidAt, baseText.find('\n', cidAt) - cidAt);
    // A content ID of the same length, so the descriptor keeps its size.
    std::string otherCID(baseCID.size(), baseCID == std::string(baseCID.size(), 'b') ? 'c' : 'b');
    patchFile(base, "CID=" + baseCID, "CID=" + otherCID);
    FileReadSeekVmdk changed;
    EXPECT_FALSE(changed.open(child));
    EXPECT_NE(changed.lastMessage().find(base), std::string::npos) << changed.lastMessage();
    EXPECT_NE(changed.lastMessage().find(otherCID), std::string::npos) << changed.lastMessage();
    EXPECT_NE(changed.lastMessage().find(parentCID), std::string::npos) << changed.lastMessage();

    std::filesystem::remove(base);
    FileReadSeekVmdk orphan;
    EXPECT_FALSE(orphan.open(child));
    EXPECT_NE(orphan.lastMessage().find(base), std::string::npos) << orphan.lastMessage();

    patchFile(child, "\"base.vmdk\"", "\"loop.vmdk\"");
    std::filesystem::rename(child, dir.file("loop.vmdk"));
    FileReadSeekVmdk loop;
    EXPECT_FALSE(loop.open(dir.file("loop.vmdk")));
    EXPECT_NE(loop.lastMessage().find("loop"), std::string::npos) << loop.lastMessage();
}

}  // namespace ondrel::test
