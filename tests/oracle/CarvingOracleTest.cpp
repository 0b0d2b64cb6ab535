// Carving against files real tools wrote, with PhotoRec as the oracle on the
// same images: structure.img (many formats, intact, truncated, overwritten
// and fragmented, with and without gaps) and a FAT32 volume whose 60 files
// are carved after it was formatted again, and only its free space before.
#include "unit/TestSupport.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

namespace ondrel::test {

namespace {

// The SHA-256 of every file under folder.
std::multiset<std::string> hashesUnder(const std::filesystem::path& folder) {
    std::string out;
    runCommand("find " + quoted(folder.string()) + " -type f -print0 | xargs -0 -r sha256sum", &out);
    std::multiset<std::string> hashes;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (line.size() > 64) hashes.insert(line.substr(0, 64));
    return hashes;
}

struct Find {
    std::int64_t size = 0;
    std::string end, name;
    bool unreadable = false;
};

// ondrel-cli carve --list --json: the finds by offset.
std::map<std::int64_t, Find> carveList(const std::string& args) {
    std::string out;
    EXPECT_EQ(runCommand(std::string(ONDREL_CLI) + " carve --list --json " + args + " 2>/dev/null", &out), 0);
    std::map<std::int64_t, Find> finds;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        auto o = nlohmann::json::parse(line);
        finds[o["offset"].get<std::int64_t>()] = {o["size"], o["end"], o["name"], o.value("unreadable", false)};
    }
    return finds;
}

bool havePhotoRec() { return runCommand("command -v photorec >/dev/null 2>&1") == 0; }

// PhotoRec on image with every file type and 512-byte blocks (files start
// at any sector): the hashes of what it wrote.
std::multiset<std::string> photoRec(const std::string& image) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "out");
    runCommand("cd " + quoted(dir.path().string()) + " && photorec /log /d out/recup /cmd " + quoted(image) +
               " partition_none,options,paranoid,fileopt,everything,enable,blocksize,512,search </dev/null >/dev/null 2>&1");
    return hashesUnder(dir.path() / "out");
}

std::size_t countAmong(const std::set<std::string>& wanted, const std::multiset<std::string>& got) {
    std::size_t n = 0;
    for (const std::string& h : wanted) n += got.count(h) > 0;
    return n;
}

// carve-fat32.img with the re-formatted volume's first sectors written over a copy.
std::string reformattedFat32(const TempDir& dir) {
    const std::string volume = fixture("carve-fat32.img"), head = fixture("carve-fat32-reformat.head");
    if (volume.empty() || head.empty()) return {};
    const std::string out = dir.file("carve-fat32-reformat.img");
    std::filesystem::copy_file(volume, out);
    EXPECT_EQ(runCommand("dd if=" + quoted(head) + " of=" + quoted(out) + " conv=notrunc status=none"), 0);
    return out;
}

}  // namespace

TEST(CarvingOracleTest, StructureImageIntactFilesComeBackWholeAndBrokenOnesAreTruncated) {
    const std::string image = fixture("structure.img");
    if (image.empty()) GTEST_SKIP() << "structure.img is not among the fixtures";
    std::map<std::int64_t, Find> finds = carveList(quoted(image));
    TempDir saved;
    ASSERT_EQ(runCommand(std::string(ONDREL_CLI) + " carve --out " + quoted(saved.file("out")) + " " + quoted(image) +
                         " >/dev/null 2>&1"),
              0);
    const std::multiset<std::string> ours = hashesUnder(saved.path() / "out");

    std::set<std::string> intact;
    std::set<std::int64_t> placed;
    for (const auto& row : manifestRows("structure.manifest")) {
        ASSERT_GE(row.size(), 8u);
        const std::int64_t offset = std::stoll(row[0]), size = std::stoll(row[1]), present = std::stoll(row[5]);
        const std::string &hash = row[2], &type = row[3], &state = row[4];
        placed.insert(offset);
        SCOPED_TRACE(row[0] + " " + type + " " + state + ": " + row[7]);
        auto it = finds.find(offset);
        ASSERT_NE(it, finds.end()) << "not found";
        const Find& f = it->second;
        EXPECT_FALSE(f.unreadable);
        if (state == "intact") {
            intact.insert(hash);
            EXPECT_EQ(f.size, size);
            EXPECT_EQ(f.end, "structure");
            // The structure names the format (docx for a zip, mov for ISO media, a
            // SQLite database as .db, any gzip as .gz).
            const std::string ext = f.name.substr(f.name.rfind('.') + 1);
            EXPECT_EQ(ext, type == "sqlite" ? "db" : type);
            EXPECT_EQ(ours.count(hash), 1u) << "not saved byte-identical";
        } else if (state == "truncated" || state == "fragmented") {
            // Only the bytes that are its own and valid, and said to be short.
            EXPECT_EQ(f.end, "truncated");
            EXPECT_GT(f.size, 0);
            EXPECT_LE(f.size, present);
        } else {
            // Overwritten in the middle: a find that is either kept short or,
            // where the structure cannot see the damage (stored zip data), whole.
            EXPECT_LE(f.size, size);
            EXPECT_TRUE(f.end == "truncated" || f.end == "structure") << f.end;
        }
    }
    EXPECT_EQ(intact.size(), 52u);
    // No false hits: filler (zeros, text, random sectors) gives nothing.
    for (const auto& [offset, f] : finds) EXPECT_TRUE(placed.count(offset)) << "a false find: " << f.name;

    if (!havePhotoRec()) GTEST_SKIP() << "photorec (testdisk) is not installed: no comparison";
    const std::size_t theirs = countAmong(intact, photoRec(image)), mine = countAmong(intact, ours);
    RecordProperty("photorec_intact", std::to_string(theirs));
    RecordProperty("ondrel_intact", std::to_string(mine));
    EXPECT_GE(mine, theirs) << "PhotoRec brings back more intact files byte-identical";
}

TEST(CarvingOracleTest, ReformattedFat32GivesBackAllSixtyFilesByteIdentical) {
    TempDir dir;
    const std::string image = reformattedFat32(dir);
    if (image.empty()) GTEST_SKIP() << "carve-fat32 is not among the fixtures";
    std::set<std::string> all;
    for (const auto& row : manifestRows("carve-fat32.manifest")) all.insert(row.at(2));
    ASSERT_EQ(all.size(), 60u);
    ASSERT_EQ(runCommand(std::string(ONDREL_CLI) + " carve --out " + quoted(dir.file("out")) + " " + quoted(image) +
                         " >/dev/null 2>&1"),
              0);
    const std::multiset<std::string> ours = hashesUnder(dir.path() / "out");
    EXPECT_EQ(countAmong(all, ours), 60u);
    EXPECT_EQ(ours.size(), 60u) << "one find per file, and nothing else";

    if (!havePhotoRec()) GTEST_SKIP() << "photorec (testdisk) is not installed: no comparison";
    const std::size_t theirs = countAmong(all, photoRec(image));
    RecordProperty("photorec_identical", std::to_string(theirs));
    EXPECT_GE(countAmong(all, ours), theirs);
}

TEST(CarvingOracleTest, FreeSpaceCarvingFindsTheDeletedFilesAndNoLiveOne) {
    const std::string image = fixture("carve-fat32.img");
    if (image.empty()) GTEST_SKIP() << "carve-fat32.img is not among the fixtures";
    std::set<std::string> deleted, live;
    for (const auto& row : manifestRows("carve-fat32.manifest")) (row.at(4) == "deleted" ? deleted : live).insert(row.at(2));
    ASSERT_EQ(deleted.size(), 20u);
    TempDir dir;
    CliResult run = runCli("carve --volume 0 --unallocated --out " + quoted(dir.file("out")) + " " + quoted(image));
    ASSERT_EQ(run.status, 0) << run.out;
    // What was carved is what blkls counts as unallocated.
    std::string blkls;
    ASSERT_EQ(runCommand("blkls -f fat32 " + quoted(image) + " | wc -c", &blkls), 0);
    EXPECT_NE(run.out.find("carved " + std::to_string(std::stoll(blkls)) + " bytes of free space"), std::string::npos)
        << run.out;
    const std::multiset<std::string> ours = hashesUnder(dir.path() / "out");
    EXPECT_EQ(countAmong(deleted, ours), 20u);
    EXPECT_EQ(countAmong(live, ours), 0u);
    EXPECT_EQ(ours.size(), 20u);
    // Finds are named by their place on the disk, not in the free space.
    std::map<std::int64_t, Find> finds = carveList("--volume 0 --unallocated " + quoted(image));
    std::set<std::int64_t> deletedAt;
    for (const auto& row : manifestRows("carve-fat32.manifest"))
        if (row.at(4) == "deleted") deletedAt.insert(std::stoll(row.at(0)));
    for (const auto& [offset, f] : finds) {
        EXPECT_TRUE(deletedAt.count(offset)) << f.name;
        EXPECT_EQ(f.name.substr(0, f.name.find(' ')), std::to_string(offset));
    }
}

}  // namespace ondrel::test
