// The ext fixture volumes made by mke2fs, debugfs and the kernel: every file of
// ext2, ext3 and ext4 (extent trees, indirect blocks, holes, unwritten extents,
// inline data, hash-indexed folders), deleted files, special files, and a
// volume whose first superblock is gone.
#include "diskimage/FileReadSeek.h"
#include "fs/ext/ExtAdapter.h"
#include "results/ScanDriver.h"
#include "unit/AdapterPaths.h"
#include "unit/TestSupport.h"

#include <gtest/gtest.h>
#include <set>

namespace ondrel::test {

namespace {

struct Opened {
    FileReadSeek reader;
    std::unique_ptr<ExtAdapter> adapter;
};

std::unique_ptr<Opened> scanned(const std::string& image) {
    auto o = std::make_unique<Opened>();
    EXPECT_TRUE(o->reader.open(fixture(image)));
    o->adapter = std::make_unique<ExtAdapter>(o->reader, VolumeRecord{"extX", "", "0", std::to_string(o->reader.fileLength >> 20), 0});
    ScanDriver driver(*o->adapter, silentObserver());
    EXPECT_TRUE(driver.run(RecoveryMode::Standard)) << image;
    return o;
}

}  // namespace

TEST(ExtFixtureTest, EveryFileOfEveryVolumeByPath) {
    int images = 0;
    for (const char* image : {"ext4-1k.img", "ext4-small.img", "ext4-mounted.img", "ext4-inline.img", "ext3.img", "ext2.img",
                              "ext2-nofiletype.img"}) {
        if (fixture(image).empty()) continue;
        ++images;
        auto o = scanned(image);
        auto saved = saveAllHashes(*o->adapter);
        int live = 0, deleted = 0;
        for (const auto& m : fixtureManifest("ext-files.manifest", image)) {
            if (m.state == "live") {
                auto it = saved.find(m.path);
                ASSERT_NE(it, saved.end()) << image << ": " << m.path;
                EXPECT_EQ(it->second, m.hash) << image << ": " << m.path;
                ++live;
            } else if (std::string(image) == "ext4-mounted.img") {
                // The kernel clears a deleted file's size and extents: nothing
                // is there to save, and nothing is claimed.
                EXPECT_FALSE(saved.count(m.path)) << image << ": deleted " << m.path;
            } else if (saved.count(m.path)) {
                // debugfs keeps the block map or extents of what it removes.
                // (A name whose inode now serves another file is not listed;
                // one the kernel deleted has nothing to save. The TSK oracle
                // checks every deleted file it can read.)
                EXPECT_EQ(saved[m.path], m.hash) << image << ": deleted " << m.path;
                ++deleted;
            }
        }
        EXPECT_GT(live, 0) << image;
        if (std::string(image) != "ext4-mounted.img") {
            EXPECT_GT(deleted, 0) << image;
        }
    }
    EXPECT_GT(images, 0);
}

TEST(ExtFixtureTest, WithoutTheFirstSuperblockTheBackupGivesTheSameTree) {
    if (fixture("ext4-1k-zeroboot.img").empty() || fixture("ext4-1k.img").empty()) GTEST_SKIP();
    auto listing = [](const std::string& image) {
        CliResult r = runCli("ls " + quoted(fixture(image)) + " --start-sector 0 --fs ext4");
        EXPECT_EQ(r.status, 0) << image << "\n" << r.out.substr(0, 400);
        return r.out;
    };
    std::string original = listing("ext4-1k.img");
    EXPECT_GT(original.size(), 1000u);
    EXPECT_EQ(listing("ext4-1k-zeroboot.img"), original);
}

TEST(ExtFixtureTest, LinksNodesAndSocketsAreListedAsWhatTheyAre) {
    if (fixture("ext4-mounted.img").empty()) GTEST_SKIP();
    auto o = scanned("ext4-mounted.img");
    auto paths = reachablePaths(*o->adapter);
    int links = 0, nodes = 0;
    for (const auto& [path, id] : paths) {
        if (o->adapter->isLink(id)) {
            ++links;
            // Saving a link writes its target's text, never a link.
            std::vector<std::uint8_t> target;
            o->adapter->readContent(id, target, 4096);
            EXPECT_EQ(target.size(), o->adapter->size(id)) << path;
            EXPECT_FALSE(target.empty()) << path;
        }
        if (o->adapter->countedButSkipped(id)) ++nodes;
    }
    EXPECT_GE(links, 2);  // a fast and a slow one
    EXPECT_GE(nodes, 2);  // a block device and a socket
    CliResult ls = runCli("ls " + quoted(fixture("ext4-mounted.img")) + " --start-sector 0 --fs ext4");
    EXPECT_NE(ls.out.find("\tl\t"), std::string::npos);
}

TEST(ExtFixtureTest, TheJournalBringsBackWhatTheKernelDeleted) {
    if (fixture("ext4-mounted.img").empty()) GTEST_SKIP();
    // The kernel cleared these inodes; their copies from before the deletion
    // are still in the journal, and their blocks were not reused.
    std::vector<ManifestLine> deleted;
    for (const auto& m : fixtureManifest("ext-files.manifest", "ext4-mounted.img"))
        if (m.state == "deleted") deleted.push_back(m);
    ASSERT_FALSE(deleted.empty());
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(fixture("ext4-mounted.img")));
    ExtAdapter adapter(reader, VolumeRecord{"extX", "", "0", std::to_string(reader.fileLength >> 20), 0});
    WorkControl control;
    AdvancedSearch found = adapter.findCandidates(3, silentObserver(), control);
    ASSERT_EQ(found.lists[0].items.size(), 1u);
    EXPECT_TRUE(found.chooseWithoutAsking);
    ASSERT_TRUE(choose(adapter, 0, 0));
    ScanDriver driver(adapter, silentObserver());
    ASSERT_TRUE(driver.run(RecoveryMode::Advanced));
    auto saved = saveAllHashes(adapter);
    std::set<std::string> hashes;
    for (const auto& [path, hash] : saved) hashes.insert(hash);
    for (const auto& m : deleted) EXPECT_TRUE(hashes.count(m.hash)) << m.path;
    // The live files are all still there too.
    for (const auto& m : fixtureManifest("ext-files.manifest", "ext4-mounted.img")) {
        if (m.state == "live") {
            EXPECT_EQ(saved[m.path], m.hash) << m.path;
        }
    }
    // A volume without a journal says so.
    if (!fixture("ext2.img").empty()) {
        CliResult r = runCli("ls " + quoted(fixture("ext2.img")) + " --start-sector 0 --fs ext2 --mode advanced");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("no journal"), std::string::npos) << r.out;
    }
}

}  // namespace ondrel::test
