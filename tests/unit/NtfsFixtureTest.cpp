// The NTFS fixture volumes made by mkntfs and ntfs-3g: the recycle bin, a
// volume whose boot sectors are gone, and a re-formatted volume with two MFTs.
#include "diskimage/FileReadSeek.h"
#include "fs/ntfs/NtfsAdapter.h"
#include "results/SaveWalk.h"
#include "results/ScanDriver.h"
#include "unit/RecordingObserver.h"
#include "unit/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

namespace ondrel::test {

namespace {

std::string volumeSizeText(const std::string& image) {
    return std::to_string(std::filesystem::file_size(image) / 1048576);
}

// SHA-256 of every file under a folder, by path relative to it.
std::map<std::string, std::string> hashesUnder(const std::filesystem::path& folder) {
    std::string out;
    runCommand("cd '" + folder.string() + "' && find . -type f -print0 | xargs -0 -r sha256sum", &out);
    std::map<std::string, std::string> hashes;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (line.size() > 68) hashes[line.substr(68)] = line.substr(0, 64);
    return hashes;
}

struct Volume {
    FileReadSeek reader;
    std::unique_ptr<NtfsAdapter> adapter;
    RecordingObserver observer;

    explicit Volume(const std::string& image) {
        EXPECT_TRUE(reader.open(image));
        adapter = std::make_unique<NtfsAdapter>(reader, VolumeRecord{"NTFS", "", "0", volumeSizeText(image), 0});
    }
    std::map<std::string, std::string> saveAll(const TempDir& out) {
        SaveWalk walk(*adapter, observer);
        walk.askFirst = false;
        walk.saveFolder(adapter->rootEntry(), out.path().string());
        return hashesUnder(out.path());
    }
};

std::set<std::string> liveManifestHashes() {
    std::set<std::string> out;
    std::ifstream f(std::string(ONDREL_FIXTURE_SOURCE_DIR) + "/ntfs-files.manifest");
    for (std::string line; std::getline(f, line);) {
        if (line.rfind("live\t", 0) != 0) continue;
        auto a = line.find('\t', 5);
        auto b = line.find('\t', a + 1);
        out.insert(line.substr(a + 1, b - a - 1));
    }
    return out;
}

}  // namespace

TEST(NtfsFixtureTest, RecycleBinDataFilesTakeTheirNamesFromBeforeDeletion) {
    std::string image = fixture("ntfs-main.img");
    ASSERT_FALSE(image.empty());
    Volume v(image);
    ScanDriver driver(*v.adapter, v.observer);
    ASSERT_TRUE(driver.run(recoveryModeFromNumber(1)));
    TempDir out;
    auto saved = v.saveAll(out);
    const std::string user1 = "$RECYCLE.BIN/S-1-5-21-1004336348-1177238915-682003330-1001/";
    const std::string user2 = "$RECYCLE.BIN/S-1-5-21-1004336348-1177238915-682003330-1002/";
    // Version 1 and version 2 "$I" records both name their "$R" files.
    EXPECT_EQ(saved[user1 + "old letter.txt"], "12fcf7cc6fd28801b9c314556a5a76a887e30af3d15a4a6903b363e5e54c5d9d");
    EXPECT_EQ(saved[user1 + "budget 2024.xlsx"], "8a94ca5d1f722b361037a1272bd1ab98e3fb1ee8369a87813cbccd37add93339");
    EXPECT_EQ(saved[user2 + "report.docx"], "8b342b08aa012d063a32515c06c4872393cdab14c497a2f54ac22bddedef96d4");
    EXPECT_EQ(saved[user2 + "Holiday/notes/itinerary.txt"], "c8e42aa8e1d64b75327902558da34f0cbf7d07a05eac4c730111965d85b7f8f5")
        << "a deleted folder takes its name too";
    EXPECT_TRUE(saved.count(user1 + "$IABC123.txt")) << "the \"$I\" files keep their names";
    for (const auto& [path, hash] : saved)
        if (path.rfind("$RECYCLE.BIN/", 0) == 0) {
            EXPECT_EQ(path.find("/$R"), std::string::npos) << path;
        }
}

TEST(NtfsFixtureTest, ZeroedBootSectorsStillGiveEveryLiveFile) {
    std::string image = fixture("ntfs-zeroboot.img");
    ASSERT_FALSE(image.empty());
    std::set<std::string> want = liveManifestHashes();
    ASSERT_GT(want.size(), 2000u);
    for (int mode : {1, 3}) {
        Volume v(image);
        ScanDriver driver(*v.adapter, v.observer);
        ASSERT_TRUE(driver.run(recoveryModeFromNumber(mode)));
        TempDir out;
        auto saved = v.saveAll(out);
        std::set<std::string> got;
        for (const auto& [path, hash] : saved) got.insert(hash);
        std::size_t missing = 0;
        for (const auto& h : want) {
            missing += got.count(h) == 0;
            if (!got.count(h)) ADD_FAILURE() << "mode " << mode << ": no file with SHA-256 " << h;
        }
        EXPECT_EQ(missing, 0u) << "mode " << mode;
        if (mode == 3) {
            for (const auto& [path, hash] : saved)
                EXPECT_EQ(path.rfind("ORPHAN_ENTRY/", 0), 0u) << "deep mode puts everything under ORPHAN_ENTRY: " << path;
        }
    }
}

TEST(NtfsFixtureTest, AdvancedModeFindsBothMftsOfAReformattedVolume) {
    std::string image = fixture("ntfs-reformat.img");
    ASSERT_FALSE(image.empty());
    std::map<std::int64_t, std::int64_t> mfts;  // byte offset -> cluster size
    std::map<std::string, std::string> oldFiles;
    std::ifstream expected(std::string(ONDREL_FIXTURE_SOURCE_DIR) + "/ntfs-reformat.expected");
    for (std::string line; std::getline(expected, line);) {
        std::istringstream in(line);
        std::string kind;
        in >> kind;
        if (kind == "mft") {
            std::int64_t offset = 0, cluster = 0;
            std::string word;
            in >> offset >> word >> cluster;
            mfts[offset] = cluster;
        } else if (kind == "old") {
            std::string size, hash, path;
            in >> size >> hash;
            std::getline(in >> std::ws, path);
            oldFiles[path] = hash;
        }
    }
    ASSERT_EQ(mfts.size(), 2u);
    ASSERT_FALSE(oldFiles.empty());

    Volume probe(image);
    WorkControl control;
    AdvancedSearch search = probe.adapter->findCandidates(5, probe.observer, control);
    int found = static_cast<int>(search.lists[0].items.size());
    ASSERT_GE(found, 2);
    std::set<std::int64_t> offsets;
    for (const auto& c : search.lists[0].items) offsets.insert(c.byteOffset);
    for (const auto& [offset, cluster] : mfts) EXPECT_TRUE(offsets.count(offset)) << "MFT at " << offset;

    // The older MFT, read with its own cluster size, gives the older tree.
    int oldChoice = -1;
    for (int i = 0; i < found; ++i)
        if (search.lists[0].items[static_cast<std::size_t>(i)].byteOffset == mfts.rbegin()->first) oldChoice = i;
    ASSERT_GE(oldChoice, 0);
    Volume v(image);
    v.adapter->findCandidates(5, v.observer, control);
    EXPECT_TRUE(test::choose(*v.adapter, oldChoice, static_cast<int>(mfts.rbegin()->second / 512)));
    ScanDriver driver(*v.adapter, v.observer);
    ASSERT_TRUE(driver.run(recoveryModeFromNumber(2)));
    TempDir out;
    auto saved = v.saveAll(out);
    for (const auto& [path, hash] : oldFiles) EXPECT_EQ(saved[path], hash) << path;
}

}  // namespace ondrel::test
