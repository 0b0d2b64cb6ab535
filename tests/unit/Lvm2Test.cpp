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
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

namespace ondrel::test {

namespace {

// What an observer was told to show the user.
struct Notices : ScanObserver {
    std::vector<std::string> messages;
    void message(const std::string& text) override { messages.push_back(text); }
};

// The volumes of one disk, or of several given comma-separated as one
// machine's, with the layouts older metadata describes.
std::vector<VolumeRecord> listed(const std::string& images, ScanObserver& observer = silentObserver(), bool earlier = true) {
    std::vector<std::shared_ptr<const ByteSource>> disks;
    std::stringstream names(images);
    for (std::string name; std::getline(names, name, ',');) {
        OpenedImage opened = openDiskImage(fixture(name), std::nullopt);
        if (!opened.reader) return {};
        disks.emplace_back(std::move(opened.reader));
    }
    std::vector<VolumeRecord> records;
    Partition partition(records, observer, fileSystemProbes());
    partition.earlierLayouts = earlier;
    partition.scanPartitionTables(disks);
    return records;
}

const VolumeRecord* named(const std::vector<VolumeRecord>& records, const std::string& label) {
    for (const VolumeRecord& r : records)
        if (r.label == label) return &r;
    return nullptr;
}

// Reads every file of a volume; the saved files' hashes by path.
std::map<std::string, std::string> filesOf(const VolumeRecord& volume) {
    auto adapter = createAdapter(volume);
    if (!adapter) return {};
    ScanDriver driver(*adapter, silentObserver());
    if (!driver.run(RecoveryMode::Standard)) return {};
    return saveAllHashes(*adapter);
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
    if (fixture("lvm-pair-a.img").empty()) GTEST_SKIP() << "the LVM2 fixtures are missing";
    std::map<std::string, std::vector<VolumeRecord>> byImage;
    int compared = 0;
    for (const auto& row : manifestRows("lvm.expected")) {
        ASSERT_GE(row.size(), 5u);
        if (!byImage.count(row[0])) byImage[row[0]] = listed(row[0]);
        const VolumeRecord* lv = named(byImage[row[0]], row[1]);
        ASSERT_NE(lv, nullptr) << row[1] << " is not listed in " << row[0];
        const bool earlier = row[1].find(" (seqno ") != std::string::npos;
        EXPECT_EQ(lv->listedBy, earlier ? "LVM2 history" : "LVM2");
        EXPECT_EQ(lv->lengthBytes, std::stoll(row[2])) << row[1];
        EXPECT_EQ(sha256Of(*lv->source), row[3]) << row[1];
        // Its first extent's place on the disk that holds it (a thin volume has none).
        if (row[4] == "-") {
            ++compared;
            continue;
        }
        std::string first = row[4].substr(0, row[4].find('+'));
        int disk = 0;
        if (const auto colon = first.find(':'); colon != std::string::npos) {
            disk = std::stoi(first.substr(0, colon));
            first = first.substr(colon + 1);
        }
        EXPECT_EQ(lv->disk, disk) << row[1];
        EXPECT_EQ(lv->startSector * 512, std::stoll(first)) << row[1];
        ++compared;
    }
    EXPECT_EQ(compared, 17);
    // The partition holding the physical volume says so.
    for (const VolumeRecord& r : byImage["lvm-mbr.img"])
        if (r.listedBy == "MBR") {
            EXPECT_EQ(r.kind, "LVM2");
        }
    // Mirror and RAID 1 say which leg is read.
    const auto& pair = byImage["lvm-pair-a.img,lvm-pair-b.img"];
    EXPECT_NE(named(pair, "vgpair/r1")->note.find("r1_rimage_0 is read"), std::string::npos);
    EXPECT_NE(named(pair, "vgpair/mir")->note.find("mir_mimage_0 is read"), std::string::npos);
    // An XFS root, as RHEL-family guests have it, is recognised inside its LV.
    EXPECT_EQ(named(byImage["lvm-snap.img"], "vgsnap/xfs")->fileSystem, "XFS");
}

TEST(Lvm2Test, FilesInsideLogicalVolumesAreTheOnesTheSleuthKitReads) {
    if (fixture("lvm-pair-a.img").empty()) GTEST_SKIP() << "the LVM2 fixtures are missing";
    std::map<std::pair<std::string, std::string>, std::map<std::string, std::string>> want;
    for (const auto& row : manifestRows("lvm-files.manifest")) want[{row[0], row[1]}][row[4]] = row[3];
    // Linear, two segments, striped, RAID 0, RAID 1, mirror, over two disks, one removed, thin, snapshots, and XFS.
    ASSERT_EQ(want.size(), 14u);
    std::map<std::string, std::vector<VolumeRecord>> byImage;
    for (const auto& [where, files] : want) {
        if (!byImage.count(where.first)) byImage[where.first] = listed(where.first);
        const VolumeRecord* lv = named(byImage[where.first], where.second);
        ASSERT_NE(lv, nullptr) << where.second;
        auto saved = filesOf(*lv);
        ASSERT_FALSE(saved.empty()) << where.second << " holds " << lv->fileSystem;
        for (const auto& [path, hash] : files) {
            ASSERT_TRUE(saved.count(path)) << where.second << path;
            EXPECT_EQ(saved[path], hash) << where.second << path;
        }
    }
}

// One disk of two: the missing physical volume is named, what lay on it
// reads as zeros and fails, and a RAID 1 reads the leg that is at hand.
TEST(Lvm2Test, AMissingPhysicalVolumeIsNamedAndTheWholeLegIsRead) {
    if (fixture("lvm-pair-b.img").empty()) GTEST_SKIP() << "the LVM2 fixtures are missing";
    Notices notices;
    const auto records = listed("lvm-pair-b.img", notices, false);
    bool named0 = false;
    for (const std::string& m : notices.messages) named0 = named0 || m.find("misses its physical volume pv0 (") != std::string::npos;
    EXPECT_TRUE(named0) << (notices.messages.empty() ? "" : notices.messages[0]);
    const VolumeRecord* stripes = named(records, "vgpair/stripes");
    ASSERT_NE(stripes, nullptr);
    EXPECT_NE(stripes->note.find("missing physical volume"), std::string::npos) << stripes->note;
    EXPECT_TRUE(stripes->incomplete);
    std::vector<std::uint8_t> chunk(65536, 0xAA);
    EXPECT_FALSE(stripes->source->readAt(0, chunk.data(), chunk.size()));  // the first stripe lay on pv0
    EXPECT_EQ(chunk[0], 0);
    EXPECT_TRUE(stripes->source->readAt(65536, chunk.data(), chunk.size()));
    const VolumeRecord* r1 = named(records, "vgpair/r1");
    ASSERT_NE(r1, nullptr);
    EXPECT_NE(r1->note.find("r1_rimage_1 is read"), std::string::npos) << r1->note;
    EXPECT_FALSE(r1->incomplete);
    std::map<std::string, std::string> want;
    for (const auto& row : manifestRows("lvm-files.manifest"))
        if (row[1] == "vgpair/r1") want[row[4]] = row[3];
    auto saved = filesOf(*r1);
    ASSERT_FALSE(want.empty());
    for (const auto& [path, hash] : want) EXPECT_EQ(saved[path], hash) << path;
    // Without the earlier layouts asked for, a removed volume is not listed.
    EXPECT_EQ(named(records, "vgpair/scratch (seqno 14)"), nullptr);
}

// Older copies in the ring bring back removed volumes; one whose extents a
// current volume took again is flagged with that volume's name.
TEST(Lvm2Test, EarlierLayoutsNameTheCurrentVolumesTheyOverlap) {
    if (fixture("lvm-pair-a.img").empty()) GTEST_SKIP() << "the LVM2 fixtures are missing";
    Notices notices;
    const auto records = listed("lvm-pair-a.img,lvm-pair-b.img", notices);
    std::string gone, scratch;
    for (const auto& row : manifestRows("lvm.expected")) {
        if (row[1].rfind("vgpair/gone (", 0) == 0) gone = row[1];
        if (row[1].rfind("vgpair/scratch (", 0) == 0) scratch = row[1];
    }
    const VolumeRecord* g = named(records, gone);
    const VolumeRecord* s = named(records, scratch);
    ASSERT_NE(g, nullptr) << gone;
    ASSERT_NE(s, nullptr) << scratch;
    EXPECT_NE(g->note.find("no longer lists"), std::string::npos) << g->note;
    EXPECT_EQ(g->note.find("overlap"), std::string::npos) << g->note;
    EXPECT_NE(s->note.find("overlap the current vgpair/reuse"), std::string::npos) << s->note;
    // The span before it was extended onto the second disk is the same volume, resized.
    bool resized = false;
    for (const VolumeRecord& r : records)
        resized = resized || (r.label.rfind("vgpair/span (seqno", 0) == 0 && r.note.find("the same volume") != std::string::npos);
    EXPECT_TRUE(resized);
    bool history = false;
    for (const std::string& m : notices.messages) history = history || m.find("the current seqno") != std::string::npos;
    EXPECT_TRUE(history);
}

// A thin volume reads through its pool's mapping; the pool itself is listed
// as what it is; a damaged mapping node is named, and the volume is not
// passed off as zeros.
TEST(Lvm2Test, ThinVolumesReadThroughThePoolMappingAndADamagedNodeIsSaid) {
    if (fixture("lvm-thin.img").empty()) GTEST_SKIP() << "the LVM2 fixtures are missing";
    const auto records = listed("lvm-thin.img");
    const VolumeRecord* pool = named(records, "vgthin/pool");
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->fileSystem, "LVM2 thin-pool");
    const VolumeRecord* thin = named(records, "vgthin/thin1");
    ASSERT_NE(thin, nullptr);
    EXPECT_EQ(thin->note, "");
    // Where the pool's metadata lies: the first extent of its hidden metadata LV, after the PV's data start.
    ByteVector disk = readFile(fixture("lvm-thin.img"));
    LvmPhysicalVolumeLabel label;
    std::string message;
    MemoryReader reader(disk);
    ASSERT_TRUE(readPhysicalVolumeLabel(reader, label, message));
    ASSERT_FALSE(label.dataAreas.empty());
    const std::size_t meta = static_cast<std::size_t>(label.dataAreas[0].offset);  // pool_tmeta is extent 0
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(disk.data() + meta + 32), 4), std::string("\xba\x52\x9c\x01", 4));
    // Each mapping node is a 4 KiB block after the superblock; damage every one.
    for (std::size_t b = 1; b < 64; ++b) disk[meta + b * 4096 + 100] ^= 0x55;
    auto damaged = std::make_shared<MemoryReader>(disk);
    std::vector<VolumeRecord> again;
    Partition partition(again, silentObserver(), fileSystemProbes());
    partition.scanPartitionTables(damaged);
    const VolumeRecord* broken = named(again, "vgthin/thin1");
    ASSERT_NE(broken, nullptr);
    EXPECT_NE(broken->note.find("checksum"), std::string::npos) << broken->note;
    std::uint8_t b[512];
    EXPECT_FALSE(broken->source->readAt(0, b, sizeof b));
}

// A classic snapshot reads as its origin was when it was taken: the chunks
// the origin changed since come from the copy-on-write store (its table in
// two areas); a store never written reads as the origin is. A damaged header
// or table is said and the volume marked incomplete, and a table that never
// ends stops with the store.
TEST(Lvm2Test, SnapshotsReadAsTheirOriginWasAndADamagedStoreIsSaid) {
    if (fixture("lvm-snap.img").empty()) GTEST_SKIP() << "the LVM2 fixtures are missing";
    const auto records = listed("lvm-snap.img");
    EXPECT_EQ(named(records, "vgsnap/snapshot0"), nullptr);  // what ties a snapshot to its origin is no volume
    const VolumeRecord* before = named(records, "vgsnap/before");
    ASSERT_NE(before, nullptr);
    EXPECT_FALSE(before->incomplete);
    EXPECT_NE(before->note.find("A snapshot of data: "), std::string::npos) << before->note;
    EXPECT_EQ(before->fileSystem, "extX");
    const VolumeRecord* fresh = named(records, "vgsnap/fresh");
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh->note.find("never written"), std::string::npos) << fresh->note;

    // The store is the LV "before", extents 16 to 23 of the only PV.
    const ByteVector disk = readFile(fixture("lvm-snap.img"));
    LvmPhysicalVolumeLabel label;
    std::string message;
    MemoryReader reader(disk);
    ASSERT_TRUE(readPhysicalVolumeLabel(reader, label, message));
    ASSERT_FALSE(label.dataAreas.empty());
    const std::size_t store = static_cast<std::size_t>(label.dataAreas[0].offset) + (16u << 20);
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(disk.data() + store), 4), "SnAp");
    auto relisted = [&](const std::function<void(ByteVector&)>& damage) {
        ByteVector copy = disk;
        damage(copy);
        std::vector<VolumeRecord> again;
        Partition partition(again, silentObserver(), fileSystemProbes());
        partition.scanPartitionTables(std::make_shared<MemoryReader>(copy));
        const VolumeRecord* r = named(again, "vgsnap/before");
        return r ? std::make_pair(r->note, r->incomplete) : std::make_pair(std::string("not listed"), false);
    };
    const auto [badMagic, badMagicIncomplete] = relisted([&](ByteVector& d) { d[store] = 'X'; });
    EXPECT_TRUE(badMagicIncomplete);
    EXPECT_NE(badMagic.find("does not begin with a snapshot header"), std::string::npos) << badMagic;
    const auto [invalid, invalidIncomplete] = relisted([&](ByteVector& d) { std::fill_n(d.begin() + static_cast<std::ptrdiff_t>(store) + 4, 4, 0); });
    EXPECT_TRUE(invalidIncomplete);
    EXPECT_NE(invalid.find("marked invalid"), std::string::npos) << invalid;
    // The first exception's store chunk far past the 8 MiB store.
    const auto [past, pastIncomplete] = relisted([&](ByteVector& d) { d[store + 4096 + 8 + 6] = 0x7f; });
    EXPECT_TRUE(pastIncomplete);
    EXPECT_NE(past.find("beyond its origin or beyond the store"), std::string::npos) << past;
    // Every table entry used, in every area, to the end of the store.
    const auto [endless, endlessIncomplete] = relisted([&](ByteVector& d) {
        std::fill_n(d.begin() + static_cast<std::ptrdiff_t>(store) + 4096, (8u << 20) - 4096, std::uint8_t{0xff});
    });
    EXPECT_TRUE(endlessIncomplete);
    EXPECT_NE(endless.find("beyond its origin or beyond the store"), std::string::npos) << endless;
}

// A segment type that is not read is listed with its type, and reading it fails
// rather than giving zeros. The metadata text is changed in place (its
// checksum then fails, which is said, and the text is read all the same).
TEST(Lvm2Test, AnUnreadTypeIsListedWithItsTypeAndNeverReadsAsZeros) {
    if (fixture("lvm-bare.img").empty()) GTEST_SKIP() << "the LVM2 fixtures are missing";
    ByteVector disk = readFile(fixture("lvm-bare.img"));
    LvmPhysicalVolumeLabel label;
    LvmMetadataText text;
    std::string message;
    {
        MemoryReader reader(disk);
        ASSERT_TRUE(readPhysicalVolumeLabel(reader, label, message));
        ASSERT_TRUE(readCurrentMetadata(reader, label.metadataAreas[0], text, message));
    }
    const std::size_t pad = text.text.find("\npad {");
    ASSERT_NE(pad, std::string::npos);
    const std::size_t type = text.text.find("type = \"striped\"", pad);
    ASSERT_NE(type, std::string::npos);
    const std::size_t at = static_cast<std::size_t>(label.metadataAreas[0].offset + text.offset + type);
    const std::string raid5 = "type = \"raid5\"  ";
    std::copy(raid5.begin(), raid5.end(), disk.begin() + static_cast<std::ptrdiff_t>(at));
    auto reader = std::make_shared<MemoryReader>(disk);
    std::vector<VolumeRecord> records;
    Notices notices;
    Partition partition(records, notices, fileSystemProbes());
    partition.scanPartitionTables(reader);
    const VolumeRecord* lv = named(records, "vgbare/pad");
    ASSERT_NE(lv, nullptr);
    EXPECT_EQ(lv->fileSystem, "LVM2 raid5");
    EXPECT_EQ(lv->lengthBytes, 2 << 20);
    EXPECT_NE(lv->note.find("\"raid5\" are not read"), std::string::npos) << lv->note;
    std::uint8_t b[512];
    EXPECT_FALSE(lv->source->readAt(0, b, sizeof b));
    EXPECT_FALSE(createAdapter(*lv));
    bool said = false;
    for (const std::string& m : notices.messages) said = said || m.find("fails its checksum") != std::string::npos;
    EXPECT_TRUE(said);
    ASSERT_NE(named(records, "vgbare/root"), nullptr);  // the others are read as before
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
    // Hidden volumes that name each other: built a bounded number of times, reads fail, nothing hangs.
    {
        LvmVolumeGroup loop = group(
            "a { status = [\"VISIBLE\"] segment1 { start_extent = 0 extent_count = 2 type = \"raid1\" device_count = 2 "
            "raids = [\"m\", \"b\", \"m\", \"a\"] } }\n"
            "b { segment1 { start_extent = 0 extent_count = 2 type = \"mirror\" mirror_count = 1 mirrors = [\"a\", 0] } }\n");
        ASSERT_EQ(loop.lvs.size(), 2u);
        EXPECT_NE(loop.lvs[0].unreadable.find("\"a\""), std::string::npos) << loop.lvs[0].unreadable;  // it names itself
        loop.lvs[0].unreadable.clear();  // read it anyway: the nesting bound must hold
        LvmVolumeSource source(loop, loop.lvs[0], {nullptr});
        std::uint8_t b[512];
        EXPECT_FALSE(source.readAt(0, b, sizeof b));
        EXPECT_FALSE(source.whole());
    }
    // A leg count beyond what the text lists, or beyond the bound.
    EXPECT_NE(why("segment1 { start_extent = 0 extent_count = 4 type = \"mirror\" mirror_count = 3 mirrors = [\"x\", 0] }")
                  .find("count"),
              std::string::npos);
    EXPECT_NE(why("segment1 { start_extent = 0 extent_count = 4 type = \"raid1\" device_count = 100000 raids = [] }").find("count"),
              std::string::npos);
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
    lv.segments = {{2, 4, "striped", 2, {{0, 4, false, {}}, {1, 1, false, {}}}}, {0, 2, "striped", 0, {{1, 10, false, {}}}}};
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
