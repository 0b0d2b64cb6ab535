// The exFAT fixture volumes made by mkfs.exfat and exfat-fuse: every file of
// every cluster size, deleted files and folders, a volume whose boot sectors
// are gone, a re-formatted volume, a time zone and the recycle bin.
#include "diskimage/FileReadSeek.h"
#include "fs/exfat/ExFatAdapter.h"
#include "results/ScanDriver.h"
#include "unit/AdapterPaths.h"
#include "unit/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <set>

namespace ondrel::test {

namespace {

struct Opened {
    FileReadSeek reader;
    std::unique_ptr<ExFatAdapter> adapter;
};

std::unique_ptr<Opened> open(const std::string& image) {
    auto o = std::make_unique<Opened>();
    EXPECT_TRUE(o->reader.open(fixture(image)));
    o->adapter = std::make_unique<ExFatAdapter>(o->reader, VolumeRecord{"FAT64", "", "0", std::to_string(o->reader.fileLength >> 20), 0});
    return o;
}

bool scan(Opened& o, RecoveryMode mode) {
    ScanDriver driver(*o.adapter, silentObserver());
    return driver.run(mode);
}

std::set<std::string> values(const std::map<std::string, std::string>& m) {
    std::set<std::string> out;
    for (const auto& [k, v] : m) out.insert(v);
    return out;
}

// "key=value" lines of a fixture's facts file.
std::map<std::string, std::int64_t> facts(const std::string& file) {
    std::map<std::string, std::int64_t> out;
    std::ifstream f(std::string(ONDREL_FIXTURE_SOURCE_DIR) + "/" + file);
    for (std::string line; std::getline(f, line);)
        if (auto eq = line.find('='); eq != std::string::npos) out[line.substr(0, eq)] = std::stoll(line.substr(eq + 1));
    return out;
}

}  // namespace

TEST(ExFatFixtureTest, EveryClusterSizeGivesEveryLiveAndDeletedFileByPath) {
    for (const char* image : {"exfat-512.img", "exfat-4k.img", "exfat-32k.img"}) {
        if (fixture(image).empty()) continue;
        auto o = open(image);
        ASSERT_TRUE(scan(*o, RecoveryMode::Standard)) << image;
        auto saved = saveAllHashes(*o->adapter);
        std::set<std::string> hashes = values(saved);
        std::set<std::string> swept;  // what the advanced mode's sweep adds
        int live = 0, deleted = 0;
        for (const auto& m : fixtureManifest("exfat-files.manifest", image)) {
            if (m.state == "deleted") {
                // exfat-fuse shrinks a folder as "rm -r" empties it: sets left
                // in its freed clusters are reached by no folder, only by the
                // advanced mode's sweep (TSK lists them as orphans too).
                if (saved.count(m.path)) {
                    EXPECT_EQ(saved[m.path], m.hash) << image << ": deleted " << m.path;
                } else if (!hashes.count(m.hash)) {
                    if (swept.empty()) {
                        auto a = open(image);
                        WorkControl control;
                        a->adapter->findCandidates(3, silentObserver(), control);
                        EXPECT_TRUE(choose(*a->adapter, 0, 0, 0));
                        EXPECT_TRUE(scan(*a, RecoveryMode::Advanced));
                        swept = values(saveAllHashes(*a->adapter));
                    }
                    EXPECT_TRUE(swept.count(m.hash)) << image << ": deleted " << m.path;
                }
                ++deleted;
                continue;
            }
            if (m.path.find("/$R") != std::string::npos) {
                // Recycle-bin data files are shown under their names from before deletion.
                EXPECT_TRUE(hashes.count(m.hash)) << image << ": " << m.path;
                EXPECT_FALSE(saved.count(m.path)) << image << ": " << m.path << " kept its \"$R\" name";
                continue;
            }
            auto it = saved.find(m.path);
            ASSERT_NE(it, saved.end()) << image << ": " << m.path;
            EXPECT_EQ(it->second, m.hash) << image << ": " << m.path;
            ++live;
        }
        EXPECT_GT(live, 0) << image;
        EXPECT_GT(deleted, 0) << image;
    }
}

TEST(ExFatFixtureTest, ZeroedBootSectorsAreReadWithTheFoundFatAndHeap) {
    const char* image = "exfat-4k-zeroboot.img";
    if (fixture(image).empty()) GTEST_SKIP();
    auto want = facts("exfat-4k-zeroboot.expected");
    auto o = open(image);
    WorkControl control;
    AdvancedSearch found = o->adapter->findCandidates(3, silentObserver(), control);
    // The FAT and the heap are among the candidates (the OEM parameter
    // sectors full of 0xFF are too); the cluster shift worked out comes first.
    int fat = -1, heap = -1;
    for (std::size_t i = 0; i < found.lists[0].items.size(); ++i)
        if (found.lists[0].items[i].byteOffset == want["fat_offset"]) fat = static_cast<int>(i);
    for (std::size_t i = 0; i < found.lists[1].items.size(); ++i)
        if (found.lists[1].items[i].byteOffset == want["heap_offset"]) heap = static_cast<int>(i);
    ASSERT_GE(fat, 0);
    ASSERT_GE(heap, 0);
    ASSERT_FALSE(found.parameters[0].values.empty());
    EXPECT_EQ(found.parameters[0].values.front(), want["cluster_shift"]);
    ASSERT_TRUE(choose(*o->adapter, fat, 1 << want["cluster_shift"], heap));
    ASSERT_TRUE(scan(*o, RecoveryMode::Advanced));
    auto saved = saveAllHashes(*o->adapter);
    int live = 0;
    for (const auto& m : fixtureManifest("exfat-files.manifest", image)) {
        if (m.state != "live" || m.path.find("/$R") != std::string::npos) continue;
        // Under its folder, or under "ORPHAN ENTRY" when no walk reaches it.
        auto it = saved.find(m.path);
        if (it == saved.end()) it = saved.find("ORPHAN ENTRY/" + m.path.substr(m.path.rfind('/') + 1));
        ASSERT_NE(it, saved.end()) << m.path;
        EXPECT_EQ(it->second, m.hash) << m.path;
        ++live;
    }
    EXPECT_GT(live, 1000);
}

TEST(ExFatFixtureTest, AReformattedVolumeShowsItsOldSetsInTheAdvancedMode) {
    const char* image = "exfat-reformat.img";
    if (fixture(image).empty()) GTEST_SKIP();
    auto o = open(image);
    WorkControl control;
    AdvancedSearch found = o->adapter->findCandidates(3, silentObserver(), control);
    ASSERT_FALSE(found.lists[0].items.empty());
    ASSERT_TRUE(choose(*o->adapter, 0, 0, 0));  // the boot sector's heap and cluster size
    ASSERT_TRUE(scan(*o, RecoveryMode::Advanced));
    std::set<std::string> got = values(saveAllHashes(*o->adapter));
    int old = 0;
    for (const auto& m : fixtureManifest("exfat-files.manifest", image)) {
        EXPECT_TRUE(got.count(m.hash)) << m.state << " " << m.path;
        old += m.state == "old";
    }
    EXPECT_GT(old, 0);
}

TEST(ExFatFixtureTest, TimesKeepTheirZoneAndTheRecycleBinNamesItsFiles) {
    if (fixture("exfat-4k.img").empty()) GTEST_SKIP();
    CliResult ls = runCli("ls " + quoted(fixture("exfat-4k.img")) + " --start-sector 0 --fs exfat");
    ASSERT_EQ(ls.status, 0) << ls.out;
    // Written at 10:00 UTC under Europe/Berlin: stored as 11:00 with offset +1 h.
    EXPECT_NE(ls.out.find("/renamed/berlin.txt\tf\t1300\tlive\t"), std::string::npos);
    std::size_t row = ls.out.find("/renamed/berlin.txt\t");
    ASSERT_NE(row, std::string::npos);
    std::string line = ls.out.substr(row, ls.out.find('\n', row) - row);
    EXPECT_NE(line.find("T10:00:00Z"), std::string::npos) << line;
    // The recycle bin's "$R" files carry their names from before deletion.
    EXPECT_NE(ls.out.find("/report.txt\tf\t2500\t"), std::string::npos);
}

TEST(ExFatFixtureTest, FormattedDrivesReadDeletedFilesFromConsecutiveClusters) {
    if (fixture("exfat-4k.img").empty()) GTEST_SKIP();
    auto o = open("exfat-4k.img");
    o->adapter->setDriveFormatted(true);
    bool scanned = scan(*o, RecoveryMode::Standard);
    std::vector<std::uint8_t> got;
    auto paths = reachablePaths(*o->adapter);
    bool listed = paths.count("/frag/pair deleted.txt") > 0;
    if (listed) o->adapter->readContent(paths["/frag/pair deleted.txt"], got, 1 << 20);
    o->adapter->setDriveFormatted(false);
    ASSERT_TRUE(scanned);
    ASSERT_TRUE(listed);
    // The file was written in 4 KiB pieces between another file's: read from
    // consecutive clusters it is that mix, not the file (which the allocation
    // bitmap gives back without the flag).
    const ExFatEntryRecord& r = o->adapter->parser().records()[static_cast<std::size_t>(paths["/frag/pair deleted.txt"])];
    std::vector<std::uint8_t> raw(r.dataLength);
    ASSERT_TRUE(o->reader.readAt(o->adapter->parser().geometry().clusterOffset(r.firstCluster), raw.data(),
                                 static_cast<std::uint32_t>(raw.size())));
    EXPECT_EQ(got, raw);
    std::vector<std::uint8_t> unflagged;
    o->adapter->readContent(paths["/frag/pair deleted.txt"], unflagged, 1 << 20);
    EXPECT_NE(unflagged, raw);
}

}  // namespace ondrel::test
