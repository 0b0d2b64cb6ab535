// The FAT fixture volumes made by mkfs.fat and mtools: every file of every
// cluster size, volumes whose boot sectors are gone, and re-formatted volumes.
#include "diskimage/FileReadSeek.h"
#include "fs/fat/FatAdapter.h"
#include "results/SaveWalk.h"
#include "results/ScanDriver.h"
#include "unit/RecordingObserver.h"
#include "unit/TestSupport.h"

#include <array>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

namespace ondrel::test {

namespace {

std::vector<ManifestLine> manifest(const std::string& image) { return fixtureManifest("fat-files.manifest", image); }

// Scans a fixture and saves everything; the SHA-256 of each saved file by path.
std::map<std::string, std::string> recoverAll(const std::string& image, bool fat32, int mode, int sectorsPerCluster,
                                              bool formatted = false) {
    FileReadSeek reader;
    EXPECT_TRUE(reader.open(fixture(image)));
    FatAdapter adapter(reader, VolumeRecord{"FAT", "", "0", std::to_string(reader.fileLength >> 20), 0}, fat32);
    RecordingObserver observer;
    WorkControl control;
    if (mode == 2) {
        EXPECT_GE(adapter.findCandidates(3, observer, control).lists[0].items.size(), 1u);
        EXPECT_TRUE(test::choose(adapter, 0, sectorsPerCluster));
    }
    adapter.setDriveFormatted(formatted);
    ScanDriver driver(adapter, observer);
    EXPECT_TRUE(driver.run(recoveryModeFromNumber(mode))) << image;
    return saveAllHashes(adapter);
}

std::set<std::string> values(const std::map<std::string, std::string>& m) {
    std::set<std::string> out;
    for (const auto& [k, v] : m) out.insert(v);
    return out;
}

}  // namespace

TEST(FatFixtureTest, EveryClusterSizeGivesEveryLiveFileByPath) {
    for (auto [image, fat32] : {std::pair{"fat16-512.img", false}, {"fat16-2k.img", false}, {"fat16-8k.img", false},
                                {"fat16-32k.img", false}, {"fat32-512.img", true}, {"fat32-4k.img", true},
                                {"fat32-32k.img", true}, {"fat16-2k-msdos.img", false}, {"fat32-4k-msdos.img", true}}) {
        if (fixture(image).empty()) continue;
        auto saved = recoverAll(image, fat32, 1, 0);
        std::set<std::string> hashes = values(saved);
        for (const auto& m : manifest(image)) {
            if (m.state != "live") continue;
            if (m.path.find("/$R") != std::string::npos) {
                // Recycle-bin data files are shown under their names from before deletion.
                EXPECT_TRUE(hashes.count(m.hash)) << image << ": " << m.path;
                EXPECT_FALSE(saved.count(m.path)) << image << ": " << m.path << " kept its \"$R\" name";
                continue;
            }
            auto it = saved.find(m.path);
            ASSERT_NE(it, saved.end()) << image << ": " << m.path;
            EXPECT_EQ(it->second, m.hash) << image << ": " << m.path;
        }
    }
}

TEST(FatFixtureTest, ZeroedBootSectorsAreRecoveredFromAFoundFatCopy) {
    for (auto [image, original, fat32, spc] : {std::tuple{"fat16-2k-zeroboot.img", "fat16-2k.img", false, 4},
                                               std::tuple{"fat32-4k-zeroboot.img", "fat32-4k.img", true, 8}}) {
        if (fixture(image).empty()) continue;
        std::set<std::string> got = values(recoverAll(image, fat32, 2, spc));
        for (const auto& m : manifest(original)) {
            if (m.state == "live") {
                EXPECT_TRUE(got.count(m.hash)) << image << ": " << m.path;
            }
        }
    }
}

TEST(FatFixtureTest, ReformattedVolumesGiveTheOldFilesFromConsecutiveClusters) {
    for (auto [image, fat32, spc] : {std::tuple{"fat16-reformat.img", false, 0}, std::tuple{"fat32-reformat.img", true, 0}}) {
        if (fixture(image).empty()) continue;
        FileReadSeek probe;
        ASSERT_TRUE(probe.open(fixture(image)));
        std::array<std::uint8_t, 512> sector{};
        probe.readAt(0, sector.data(), 512);
        int sectorsPerCluster = spc ? spc : sector[13];
        std::set<std::string> got = values(recoverAll(image, fat32, 2, sectorsPerCluster, true));
        int old = 0;
        for (const auto& m : manifest(image)) {
            if (m.state != "old") continue;
            ++old;
            EXPECT_TRUE(got.count(m.hash)) << image << ": old " << m.path;
        }
        EXPECT_GT(old, 0);
    }
}

}  // namespace ondrel::test
