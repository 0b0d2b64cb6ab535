// The HFS+ fixture volumes made by xorriso (2 KiB and 512-byte blocks) and the
// script's byte-edited copies (catalog and a file in 10 extents, HFSX, damaged
// nodes): every file by path in both modes, symbolic links, and what survives
// damage.
#include "diskimage/FileReadSeek.h"
#include "fs/hfsplus/HfsAdapter.h"
#include "results/ScanDriver.h"
#include "unit/AdapterPaths.h"
#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace ondrel::test {

namespace {

struct Opened {
    FileReadSeek reader;
    std::unique_ptr<HfsAdapter> adapter;
    bool ok = false;
};

std::unique_ptr<Opened> scanned(const std::string& image, RecoveryMode mode) {
    auto o = std::make_unique<Opened>();
    EXPECT_TRUE(o->reader.open(fixture(image)));
    o->adapter = std::make_unique<HfsAdapter>(o->reader, VolumeRecord{"HFS+", "", "0", std::to_string(o->reader.fileLength >> 20), 0});
    ScanDriver driver(*o->adapter, silentObserver());
    o->ok = driver.run(mode);
    return o;
}

// "# symlink<TAB>IMAGE<TAB>PATH<TAB>-> TARGET" lines of the manifest.
std::map<std::string, std::string> symlinks(const std::string& image) {
    std::map<std::string, std::string> out;
    std::ifstream in(std::string(ONDREL_FIXTURE_SOURCE_DIR) + "/hfs-files.manifest");
    for (std::string line; std::getline(in, line);) {
        std::istringstream f(line);
        std::string kind, img, path, target;
        if (std::getline(f, kind, '\t') && kind == "# symlink" && std::getline(f, img, '\t') && img == image &&
            std::getline(f, path, '\t') && std::getline(f, target))
            out[path] = target.substr(3);
    }
    return out;
}

}  // namespace

TEST(HfsFixtureTest, EveryFileOfEveryVolumeByPathInBothModes) {
    int images = 0;
    for (const char* image : {"hfs-2k.img", "hfs-512.img", "hfs-10ext.img", "hfsx.img"}) {
        if (fixture(image).empty()) continue;
        ++images;
        const auto manifest = fixtureManifest("hfs-files.manifest", image);
        ASSERT_GT(manifest.size(), 2900u) << image;
        for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep}) {
            auto o = scanned(image, mode);
            ASSERT_TRUE(o->ok) << image;
            auto saved = saveAllHashes(*o->adapter);
            for (const auto& m : manifest) {
                auto it = saved.find(m.path);
                ASSERT_NE(it, saved.end()) << image << (mode == RecoveryMode::Deep ? " deep: " : ": ") << m.path;
                EXPECT_EQ(it->second, m.hash) << image << ": " << m.path;
            }
            EXPECT_TRUE(o->adapter->damage().empty()) << image << ": " << o->adapter->damage().front();
        }
    }
    EXPECT_GT(images, 0);
}

TEST(HfsFixtureTest, SymbolicLinksAreListedAsLinksAndSaveTheirTarget) {
    if (fixture("hfs-2k.img").empty()) GTEST_SKIP();
    auto links = symlinks("hfs-2k.img");
    ASSERT_FALSE(links.empty());
    auto o = scanned("hfs-2k.img", RecoveryMode::Standard);
    auto paths = reachablePaths(*o->adapter);
    for (const auto& [path, target] : links) {
        ASSERT_TRUE(paths.count("/" + path)) << path;
        EntryId e = paths["/" + path];
        EXPECT_TRUE(o->adapter->isLink(e)) << path;
        std::vector<std::uint8_t> data;
        o->adapter->readContent(e, data, 4096);
        EXPECT_EQ(std::string(data.begin(), data.end()), target) << path;
    }
}

TEST(HfsFixtureTest, DamagedNodesLoseOnlyWhatTheyHold) {
    if (fixture("hfs-damaged.img").empty()) GTEST_SKIP();
    const auto intact = fixtureManifest("hfs-files.manifest", "hfs-damaged.img");
    ASSERT_GT(intact.size(), 2900u);
    for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep}) {
        auto o = scanned("hfs-damaged.img", mode);
        ASSERT_TRUE(o->ok);
        auto saved = saveAllHashes(*o->adapter);
        int found = 0;
        for (const auto& m : intact) {
            auto it = saved.find(m.path);
            if (it == saved.end()) continue;
            EXPECT_EQ(it->second, m.hash) << m.path;
            ++found;
        }
        // A damaged record can hide a folder's name, never the files it holds: they come
        // out under ORPHAN_ENTRY when not by their path.
        EXPECT_GE(found, static_cast<int>(intact.size()) - 200) << (mode == RecoveryMode::Deep ? "deep" : "standard");
        EXPECT_FALSE(o->adapter->damage().empty() && mode == RecoveryMode::Standard);
    }
}

}  // namespace ondrel::test
