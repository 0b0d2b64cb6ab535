// LVM2 on disks made by pvcreate, vgcreate and lvcreate (a physical volume
// over a whole disk, and one in an MBR partition): every logical volume is
// listed by its name, its bytes are the ones dd assembles from the extents
// `lvs --segments` states (a volume in two segments with another between
// them included), and the files inside are the ones The Sleuth Kit reads
// there. Hostile labels and metadata texts are refused with their reason.
#include "diskimage/ImageKind.h"
#include "diskimage/MemoryReader.h"
#include "fs/FileSystemRegistry.h"
#include "results/ScanDriver.h"
#include "unit/TestSupport.h"
#include "volumes/Partition.h"
#include "volumes/lvm2/LvmLabel.h"
#include "volumes/lvm2/LvmText.h"
#include "volumes/lvm2/LvmVolumeGroup.h"
#include "volumes/lvm2/LvmVolumeSource.h"

#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

namespace ondrel::test {

namespace {

std::vector<VolumeRecord> listed(const std::string& image) {
    OpenedImage opened = openDiskImage(fixture(image), std::nullopt);
    std::shared_ptr<const ByteSource> disk(std::move(opened.reader));
    std::vector<VolumeRecord> records;
    if (!disk) return records;
    Partition partition(records, silentObserver(), fileSystemProbes());
    partition.scanPartitionTables(disk);
    return records;
}

std::string sha256Of(const ByteSource& source) {
    TempDir dir;
    {
        std::ofstream out(dir.file("bytes"), std::ios::binary);
        std::vector<char> buffer(1 << 20);
        for (std::int64_t at = 0; at < source.size(); at += static_cast<std::int64_t>(buffer.size())) {
            const auto n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(buffer.size()), source.size() - at));
            EXPECT_TRUE(source.readAt(at, buffer.data(), n)) << at;
            out.write(buffer.data(), static_cast<std::streamsize>(n));
        }
    }
    std::string out;
    runCommand("sha256sum " + quoted(dir.file("bytes")), &out);
    return out.substr(0, 64);
}

const char* kGroup = R"(vg0 {
id = "abc"
seqno = 4
extent_size = 8192 # 4 MiB
physical_volumes {
pv0 { id = "AAAAAA-BBBB" pe_start = 2048 pe_count = 10 }
}
logical_volumes {
)";

}  // namespace

TEST(Lvm2Test, LogicalVolumesAreListedByNameWithTheBytesDdAssembles) {
    if (fixture("lvm-bare.img").empty()) GTEST_SKIP() << "the LVM2 fixtures are missing";
    std::map<std::string, std::vector<VolumeRecord>> byImage;
    int compared = 0;
    for (const auto& row : manifestRows("lvm.expected")) {
        ASSERT_GE(row.size(), 5u);
        if (!byImage.count(row[0])) byImage[row[0]] = listed(row[0]);
        const VolumeRecord* lv = nullptr;
        for (const VolumeRecord& r : byImage[row[0]])
            if (r.label == row[1]) lv = &r;
        ASSERT_NE(lv, nullptr) << row[1] << " is not listed in " << row[0];
        EXPECT_EQ(lv->listedBy, "LVM2");
        EXPECT_EQ(lv->lengthBytes, std::stoll(row[2])) << row[1];
        EXPECT_EQ(sha256Of(*lv->source), row[3]) << row[1];
        // Its first extent's place on the disk.
        EXPECT_EQ(lv->startSector * 512, std::stoll(row[4].substr(0, row[4].find('+')))) << row[1];
        ++compared;
    }
    EXPECT_EQ(compared, 4);
    // The partition holding the physical volume says so.
    for (const VolumeRecord& r : byImage["lvm-mbr.img"])
        if (r.listedBy == "MBR") {
            EXPECT_EQ(r.kind, "LVM2");
        }
}

TEST(Lvm2Test, FilesInsideLogicalVolumesAreTheOnesTheSleuthKitReads) {
    if (fixture("lvm-bare.img").empty()) GTEST_SKIP() << "the LVM2 fixtures are missing";
    std::map<std::pair<std::string, std::string>, std::map<std::string, std::string>> want;
    for (const auto& row : manifestRows("lvm-files.manifest")) want[{row[0], row[1]}][row[4]] = row[3];
    ASSERT_EQ(want.size(), 3u);
    for (const auto& [where, files] : want) {
        const auto records = listed(where.first);
        const VolumeRecord* lv = nullptr;
        for (const VolumeRecord& r : records)
            if (r.label == where.second) lv = &r;
        ASSERT_NE(lv, nullptr) << where.second;
        auto adapter = createAdapter(*lv);
        ASSERT_TRUE(adapter) << where.second << " holds " << lv->fileSystem;
        ScanDriver driver(*adapter, silentObserver());
        ASSERT_TRUE(driver.run(RecoveryMode::Standard)) << where.second;
        auto saved = saveAllHashes(*adapter);
        for (const auto& [path, hash] : files) {
            ASSERT_TRUE(saved.count(path)) << where.second << path;
            EXPECT_EQ(saved[path], hash) << where.second << path;
        }
    }
}

TEST(Lvm2Test, DamagedLabelsAndMetadataAreRefusedWithTheirReason) {
    if (fixture("lvm-bare.img").empty()) GTEST_SKIP() << "the LVM2 fixtures are missing";
    ByteVector disk = readFile(fixture("lvm-bare.img"));
    LvmPhysicalVolumeLabel label;
    std::string message;
    {
        MemoryReader reader(disk);
        ASSERT_TRUE(readPhysicalVolumeLabel(reader, label, message)) << message;
        EXPECT_EQ(label.uuid, "OndrelBarePV0000000000000000Ond0");
        ASSERT_EQ(label.metadataAreas.size(), 1u);
        LvmMetadataText text;
        ASSERT_TRUE(readCurrentMetadata(reader, label.metadataAreas[0], text, message)) << message;
        EXPECT_TRUE(text.checksumMatches);
        EXPECT_NE(text.text.find("vgbare {"), std::string::npos);
    }
    // A changed byte in the label fails its checksum.
    ByteVector bad = disk;
    bad[512 + 40] ^= 1;
    MemoryReader badLabel(bad);
    EXPECT_FALSE(readPhysicalVolumeLabel(badLabel, label, message));
    EXPECT_NE(message.find("checksum"), std::string::npos) << message;
    // A changed byte in the current metadata text: read, but its checksum says so.
    LvmMetadataText text;
    {
        MemoryReader reader(disk);
        ASSERT_TRUE(readCurrentMetadata(reader, label.metadataAreas[0], text, message));
    }
    bad = disk;
    bad[static_cast<std::size_t>(label.metadataAreas[0].offset + text.offset)] ^= 1;
    MemoryReader badText(bad);
    ASSERT_TRUE(readCurrentMetadata(badText, label.metadataAreas[0], text, message));
    EXPECT_FALSE(text.checksumMatches);
}

TEST(Lvm2Test, MetadataTextIsParsedWithinBoundsAndMalformedTextIsRefused) {
    LvmNode root;
    std::string message;
    ASSERT_TRUE(parseLvmText("a = 1\nb = \"x\\\"y\" # note\nc = [\"p\", 2, [3]]\ns { t = -4 }\n", root, message)) << message;
    EXPECT_EQ(root.numberOf("a", 0), 1);
    EXPECT_EQ(root.stringOf("b"), "x\"y");
    ASSERT_NE(root.child("c"), nullptr);
    EXPECT_EQ(root.child("c")->items.size(), 3u);
    EXPECT_EQ(root.child("s")->numberOf("t", 0), -4);
    for (const char* text : {"s {", "a = ", "a = \"open", "a 1", "}", "a = [1 2]", "a = 99999999999999999999", "= 1",
                             "a = [1,"}) {
        EXPECT_FALSE(parseLvmText(text, root, message)) << text;
        EXPECT_NE(message.find("at byte"), std::string::npos) << text << ": " << message;
    }
    // Nesting without end is refused, not followed.
    EXPECT_FALSE(parseLvmText(std::string(100000, '[').insert(0, "a = "), root, message));
    EXPECT_NE(message.find("too deep"), std::string::npos) << message;
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "s {";
    EXPECT_FALSE(parseLvmText(deep, root, message));
}

TEST(Lvm2Test, SegmentsThatCannotBeReadMakeTheVolumeUnreadableWithTheReason) {
    auto group = [](const std::string& lvs) {
        LvmNode root;
        std::string message;
        EXPECT_TRUE(parseLvmText(std::string(kGroup) + lvs + "}\n}\n", root, message)) << message;
        LvmVolumeGroup vg;
        EXPECT_TRUE(readVolumeGroup(root, vg, message)) << message;
        return vg;
    };
    auto why = [&](const std::string& segments) {
        LvmVolumeGroup vg = group("lv { status = [\"VISIBLE\"] " + segments + " }\n");
        return vg.lvs.empty() ? std::string("none") : vg.lvs[0].unreadable;
    };
    const std::string linear = "type = \"striped\" stripe_count = 1 stripes = [\"pv0\", ";
    EXPECT_EQ(why("segment1 { start_extent = 0 extent_count = 4 " + linear + "0] }"), "");
    EXPECT_NE(why("segment1 { start_extent = 0 extent_count = 4 " + linear + "8] }").find("past the extents"), std::string::npos);
    EXPECT_NE(why("segment1 { start_extent = 0 extent_count = 4 " + linear + "0] } segment2 { start_extent = 2 extent_count = 2 " +
                  linear + "5] }")
                  .find("overlap"),
              std::string::npos);
    EXPECT_NE(why("segment1 { start_extent = 0 extent_count = 4 type = \"raid5\" }").find("\"raid5\" are not read"),
              std::string::npos);
    EXPECT_NE(why("segment1 { start_extent = 0 extent_count = 4 " + linear + "0, \"pv0\", 1] }").find("stripe count"),
              std::string::npos);
    EXPECT_NE(why("segment1 { start_extent = 0 extent_count = 4 type = \"striped\" stripe_count = 1 stripes = [\"pv9\", 0] }")
                  .find("pv9"),
              std::string::npos);
    EXPECT_NE(why("segment1 { start_extent = 0 extent_count = 99999999999999999 " + linear + "0] }").find("extents"),
              std::string::npos);
    EXPECT_EQ(why(""), "it has no segments");
    // The PV is found by the label's UUID, without the dashes the text writes.
    EXPECT_EQ(group("").pvIndex("AAAAAABBBB"), 0);
    EXPECT_EQ(group("").pvIndex("AAAAAA"), -1);
}

// Stripes take turns every stripe size (chunk c in stripe c % N, row c / N);
// segments follow each other whatever order the text lists them in; a gap
// between segments and a missing physical volume read as zeros and fail.
TEST(Lvm2Test, StripedAndSegmentedVolumesMapEveryByteToItsExtent) {
    // Two "PVs" of 64 sectors' extents each: every 512-byte sector holds its own PV and number.
    LvmVolumeGroup vg;
    vg.extentSectors = 8;  // 4 KiB extents
    vg.pvs = {{"pv0", "a", 2, 16}, {"pv1", "b", 2, 16}};
    auto pvBytes = [](std::uint8_t pv) {
        ByteVector b(static_cast<std::size_t>((2 + 16 * 8) * 512));
        for (std::size_t s = 0; s < b.size() / 512; ++s) {
            b[s * 512] = pv;
            b[s * 512 + 1] = static_cast<std::uint8_t>(s);
        }
        return b;
    };
    auto pv0 = std::make_shared<MemoryReader>(pvBytes(0)), pv1 = std::make_shared<MemoryReader>(pvBytes(1));
    LvmLogicalVolume lv;
    // Extents 2..5 striped over pv0 (from extent 4) and pv1 (from extent 1), 2 sectors a stripe;
    // extents 0..1 linear on pv1 from extent 10, listed after it.
    lv.segments = {{2, 4, "striped", 2, {{0, 4}, {1, 1}}}, {0, 2, "striped", 0, {{1, 10}}}};
    std::sort(lv.segments.begin(), lv.segments.end(), [](const LvmSegment& a, const LvmSegment& b) { return a.startExtent < b.startExtent; });
    LvmVolumeSource source(vg, lv, {pv0, pv1});
    ASSERT_EQ(source.size(), 6 * 4096);
    auto sectorAt = [&](std::int64_t lvSector) {
        std::uint8_t b[512];
        EXPECT_TRUE(source.readAt(lvSector * 512, b, sizeof b));
        return std::pair<int, int>(b[0], b[1]);
    };
    // Linear: LV sector 0 is pv1's sector 2 + 10 * 8.
    EXPECT_EQ(sectorAt(0), std::make_pair(1, 82));
    EXPECT_EQ(sectorAt(15), std::make_pair(1, 97));
    // Striped, from LV sector 16: chunks of 2 sectors, pv0 then pv1.
    EXPECT_EQ(sectorAt(16), std::make_pair(0, 2 + 32));
    EXPECT_EQ(sectorAt(17), std::make_pair(0, 2 + 33));
    EXPECT_EQ(sectorAt(18), std::make_pair(1, 2 + 8));
    EXPECT_EQ(sectorAt(20), std::make_pair(0, 2 + 34));
    EXPECT_EQ(sectorAt(47), std::make_pair(1, 2 + 8 + 15));
    // One read across the segment boundary and many stripes is the sectors one by one.
    ByteVector whole(static_cast<std::size_t>(source.size()));
    ASSERT_TRUE(source.readAt(0, whole.data(), whole.size()));
    for (std::int64_t s = 0; s < source.size() / 512; ++s) {
        const auto one = sectorAt(s);
        EXPECT_EQ(whole[static_cast<std::size_t>(s * 512)], one.first) << s;
        EXPECT_EQ(whole[static_cast<std::size_t>(s * 512 + 1)], one.second) << s;
    }
    // Past the end, and with a physical volume missing: zeros, and a failed read.
    std::uint8_t b[512];
    EXPECT_FALSE(source.readAt(source.size(), b, sizeof b));
    LvmVolumeSource missing(vg, lv, {pv0, nullptr});
    std::fill(std::begin(b), std::end(b), 0xAA);
    EXPECT_FALSE(missing.readAt(0, b, sizeof b));
    EXPECT_EQ(b[0], 0);
    EXPECT_TRUE(missing.readAt(16 * 512, b, sizeof b));  // the first stripe chunk is on pv0
}

}  // namespace ondrel::test
