// What an image's names and an output folder's contents can do to a save and
// to ls/search output: names become safe host names, nothing is written
// through a link or over an existing file, control characters cannot forge
// lines.
#include "platform/OutputFile.h"
#include "platform/SafeNames.h"
#include "results/SaveWalk.h"
#include "unit/BootSectors.h"
#include "unit/TinyFat16.h"
#include "unit/FakeAdapter.h"
#include "unit/RecordingObserver.h"
#include "unit/TestSupport.h"
#include "volumes/DiskExport.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

namespace ondrel::test {

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
    ByteVector b = readFile(p.string());
    return std::string(b.begin(), b.end());
}

void put(const fs::path& p, const std::string& text) { writeFile(p.string(), ByteVector(text.begin(), text.end())); }

bool validUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// Saves the way the real adapters do: into the file the walk created.
// beforeWrite runs first, to change the output folder in the middle of a save.
class OutputFileAdapter : public FakeAdapter {
public:
    std::function<void(EntryId)> beforeWrite;
    WriteResult writeInto(EntryId e, OutputFile& file) override {
        if (beforeWrite) beforeWrite(e);
        const Node& n = nodes[static_cast<std::size_t>(e)];
        if (!file.write(n.content.data(), n.content.size())) return WriteResult::WriteFailed;
        return file.finish() ? WriteResult::Written : WriteResult::WriteFailed;
    }
};

struct Quiet : RecordingObserver {
    bool question(const std::string&) override { return true; }
};

std::size_t entriesIn(const fs::path& p) {
    std::size_t n = 0;
    for (auto it = fs::directory_iterator(p); it != fs::directory_iterator(); ++it) ++n;
    return n;
}

}  // namespace

TEST(SafeNamesTest, ANameEndsAtItsFirstNul) {
    EXPECT_EQ(sanitizeName(std::string("nul\0name.txt", 12)), "nul");
    EXPECT_EQ(sanitizeName(std::string("..\0x", 4)), "_..");
    EXPECT_EQ(sanitizeName(std::string("\0hidden", 7)), "_");
}

TEST(SafeNamesTest, ControlCharactersBecomeUnderscores) {
    EXPECT_EQ(sanitizeName("a\nb\tc\x1b[31m\x7f.txt"), "a_b_c_[31m_.txt");
    EXPECT_EQ(sanitizeName("line\rfeed\x01"), "line_feed_");
    EXPECT_EQ(sanitizeName("  padded\t\n"), "padded") << "white space at the ends is still trimmed";
    EXPECT_EQ(sanitizeName("dir/sub\\name"), "dir_sub_name");
    EXPECT_EQ(sanitizeName("caf\xc3\xa9.txt"), "caf\xc3\xa9.txt") << "other bytes stay";
    EXPECT_EQ(sanitizeName("."), "_.");
    EXPECT_EQ(sanitizeName(""), "_");
}

TEST(SafeNamesTest, LongNamesAreCutAtACharacterBoundaryAndKeepTheirExtension) {
    // 2-byte characters make a cut at 255 bytes land inside a character.
    std::string accented = repeat("\xc3\xa9", 130) + ".txt";
    std::string cut = sanitizeName(accented);
    EXPECT_LE(cut.size(), 255u);
    EXPECT_GE(cut.size(), 200u);
    EXPECT_TRUE(validUtf8(cut));
    EXPECT_EQ(cut.substr(cut.size() - 4), ".txt");

    std::string ascii = sanitizeName(std::string(300, 'a') + ".jpeg");
    EXPECT_EQ(ascii, std::string(250, 'a') + ".jpeg");
    std::string noExtension = sanitizeName(repeat("\xe2\x82\xac", 100));  // 300 bytes of 3-byte characters
    EXPECT_EQ(noExtension, repeat("\xe2\x82\xac", 85));
    EXPECT_EQ(sanitizeName(std::string(255, 'b')), std::string(255, 'b')) << "255 bytes fit whole";

    // The numbered names of a second and third entry still fit.
    UniqueNames names;
    EXPECT_EQ(names.claim("/out", cut), cut);
    for (const char* suffix : {" (1).txt", " (2).txt"}) {
        std::string next = names.claim("/out", cut);
        EXPECT_LE(next.size(), 255u) << next.size();
        EXPECT_TRUE(validUtf8(next));
        EXPECT_EQ(next.substr(next.size() - std::strlen(suffix)), suffix);
    }
    std::string full(255, 'c');
    EXPECT_EQ(names.claim("/out", full), full);
    EXPECT_EQ(names.claim("/out", full), std::string(251, 'c') + " (1)");
}

TEST(SaveWalkSafetyTest, TwoEntriesWithOneLongNameAreBothSaved) {
    OutputFileAdapter adapter;
    std::string name = repeat("\xc3\xa9", 130) + ".txt";
    adapter.add(0, name, false, "first");
    adapter.add(0, name, false, "second", true);
    EntryId folder = adapter.add(0, repeat("\xd0\x96", 140), true);
    adapter.add(folder, "in.txt", false, "in");
    adapter.add(0, repeat("\xd0\x96", 140), true);
    Quiet observer;
    TempDir out;
    SaveOutcome r = SaveWalk(adapter, observer).saveFolder(0, out.path().string());
    EXPECT_EQ(r.failed, 0) << (r.failures.empty() ? "" : r.failures.front());
    EXPECT_EQ(r.saved, 3);
    std::set<std::string> contents;
    for (const auto& e : fs::directory_iterator(out.path())) {
        std::string n = e.path().filename().string();
        EXPECT_LE(n.size(), 255u);
        EXPECT_TRUE(validUtf8(n)) << n;
        if (e.is_regular_file()) {
            EXPECT_EQ(n.substr(n.size() - 4), ".txt");
            contents.insert(slurp(e.path()));
        }
    }
    EXPECT_EQ(contents, (std::set<std::string>{"first", "second"}));
    EXPECT_EQ(entriesIn(out.path()), 4u);
}

TEST(SaveWalkSafetyTest, LinksAndFilesAlreadyInTheOutputFolderAreLeftAlone) {
    TempDir top;
    fs::path out = top.path() / "out", outside = top.path() / "outside";
    fs::create_directories(out);
    fs::create_directories(outside / "folder");
    put(outside / "victim.txt", "victim");
    fs::create_symlink(outside / "victim.txt", out / "a.txt");
    fs::create_symlink(outside / "created.txt", out / "dangling.txt");
    fs::create_symlink(outside / "folder", out / "dir");
    put(out / "keep.txt", "mine");
    put(out / "plain", "a file, not a folder");
    fs::create_directories(out / "real");
    put(out / "real" / "r.txt", "old");

    OutputFileAdapter adapter;
    adapter.add(0, "a.txt", false, "A");
    adapter.add(0, "dangling.txt", false, "D");
    adapter.add(0, "keep.txt", false, "K");
    adapter.add(adapter.add(0, "dir", true), "in.txt", false, "in");
    adapter.add(adapter.add(0, "plain", true), "p.txt", false, "p");
    adapter.add(adapter.add(0, "real", true), "r.txt", false, "new");
    Quiet observer;
    SaveOutcome r = SaveWalk(adapter, observer).saveFolder(0, out.string());
    EXPECT_EQ(r.failed, 0) << (r.failures.empty() ? "" : r.failures.front());
    EXPECT_EQ(r.saved, 6);

    EXPECT_EQ(slurp(outside / "victim.txt"), "victim");
    EXPECT_FALSE(fs::exists(fs::symlink_status(outside / "created.txt")));
    EXPECT_EQ(entriesIn(outside / "folder"), 0u);
    EXPECT_EQ(slurp(out / "keep.txt"), "mine");
    EXPECT_EQ(slurp(out / "plain"), "a file, not a folder");
    EXPECT_EQ(slurp(out / "real" / "r.txt"), "old");

    EXPECT_EQ(slurp(out / "a (1).txt"), "A");
    EXPECT_EQ(slurp(out / "dangling (1).txt"), "D");
    EXPECT_EQ(slurp(out / "keep (1).txt"), "K");
    EXPECT_EQ(slurp(out / "dir (1)" / "in.txt"), "in");
    EXPECT_EQ(slurp(out / "plain (1)" / "p.txt"), "p");
    EXPECT_EQ(slurp(out / "real" / "r (1).txt"), "new") << "a real folder is filled, its files kept";
    EXPECT_TRUE(fs::is_symlink(out / "a.txt"));
    EXPECT_TRUE(fs::is_symlink(out / "dir"));
}

TEST(SaveWalkSafetyTest, AFolderSwappedForALinkDuringTheSaveIsNotFollowed) {
    TempDir top;
    fs::path out = top.path() / "out", outside = top.path() / "outside";
    fs::create_directories(outside);
    OutputFileAdapter adapter;
    EntryId d = adapter.add(0, "d", true);
    EntryId first = adapter.add(d, "x.txt", false, "x");
    EntryId deeper = adapter.add(d, "e", true);
    adapter.add(deeper, "z.txt", false, "z");
    adapter.add(d, "y.txt", false, "y");
    adapter.beforeWrite = [&](EntryId e) {
        if (e != first) return;
        fs::rename(out / "d", top.path() / "moved");
        fs::create_symlink(outside, out / "d");
    };
    Quiet observer;
    SaveWalk(adapter, observer).saveFolder(0, out.string());
    EXPECT_EQ(entriesIn(outside), 0u) << "nothing lands where the link points";
}

TEST(SaveWalkSafetyTest, TheChosenFolderMayItselfBeALink) {
    TempDir top;
    fs::create_directories(top.path() / "target");
    fs::create_symlink(top.path() / "target", top.path() / "chosen");
    OutputFileAdapter adapter;
    adapter.add(adapter.add(0, "sub", true), "f.txt", false, "f");
    adapter.add(0, "g.txt", false, "g");
    Quiet observer;
    SaveWalk walk(adapter, observer);
    EXPECT_EQ(walk.saveFolder(0, (top.path() / "chosen").string()).saved, 2);
    EXPECT_EQ(slurp(top.path() / "target" / "sub" / "f.txt"), "f");
    SaveOutcome single = walk.saveFile(2, (top.path() / "chosen").string());
    EXPECT_EQ(single.saved, 1);
    EXPECT_EQ(slurp(top.path() / "target" / "f.txt"), "f");
}

TEST(OutputFileTest, CreateNeitherReplacesNorFollowsALink) {
    TempDir dir;
    put(dir.path() / "existing.img", "keep");
    put(dir.path() / "victim", "victim");
    fs::create_symlink(dir.path() / "victim", dir.path() / "link.img");
    fs::create_symlink(dir.path() / "nowhere", dir.path() / "dangling.img");
    for (const char* name : {"existing.img", "link.img", "dangling.img"}) {
        OutputFile f;
        EXPECT_FALSE(f.create((dir.path() / name).string())) << name;
    }
    EXPECT_EQ(slurp(dir.path() / "existing.img"), "keep");
    EXPECT_EQ(slurp(dir.path() / "victim"), "victim");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.path() / "nowhere")));
    OutputFile fresh;
    EXPECT_TRUE(fresh.create((dir.path() / "fresh.img").string()));
}

TEST(OutputFileTest, ExportNamesStepOverDanglingLinks) {
    TempDir dir;
    fs::create_symlink(dir.path() / "nowhere", dir.path() / "disk.vhd.img");
    std::string path = exportOutputPath("/images/disk.vhd", dir.path().string());
    EXPECT_EQ(path, (dir.path() / "1disk.vhd.img").string());
    OutputFile f;
    EXPECT_TRUE(f.create(path));
}

// A name that would print a line of its own.
namespace {
const std::string kForged = "x\n/forged\tf\t1\tlive\t\t\t\t.txt";
}  // namespace

TEST(OutputSafetyCliTest, ControlCharactersInNamesCannotForgeLinesOfLsOrSearch) {
    TinyFat16 v;
    std::size_t at = TinyFat16::kRoot;
    at = v.longEntry(at, std::u16string(kForged.begin(), kForged.end()), "FORGED  TXT", 0x20, 3, 5);
    at = v.longEntry(at, u"back\\slash\x1b[31m", "BACKSL~1   ", 0x20, 4, 5);
    v.file(3, "hello");
    v.file(4, "world");
    TempDir dir;
    writeFile(dir.file("fat.img"), v.d);
    std::string volume = "--start-sector 0 --fs fat16 " + quoted(dir.file("fat.img"));

    CliResult ls = runCli("ls " + volume);
    ASSERT_EQ(ls.status, 0) << ls.out;
    std::istringstream lines(ls.out);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        EXPECT_EQ(line.front(), '/') << line;
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 7) << line;
    }
    EXPECT_EQ(count, 2) << ls.out;
    // The "/" inside the name is escaped too: it is no folder.
    EXPECT_NE(ls.out.find("/x\\n\\/forged\\tf\\t1\\tlive\\t\\t\\t\\t.txt\tf\t5\tlive\t"), std::string::npos) << ls.out;
    EXPECT_NE(ls.out.find("/back\\\\slash\\x1b[31m\tf\t5\t"), std::string::npos) << ls.out;

    CliResult json = runCli("ls --json " + volume);
    ASSERT_EQ(json.status, 0) << json.out;
    std::set<std::string> paths;
    std::istringstream objects(json.out);
    for (std::string line; std::getline(objects, line);) paths.insert(nlohmann::json::parse(line)["path"]);
    EXPECT_EQ(paths, (std::set<std::string>{"/" + kForged, "/back\\slash\x1b[31m"}))
        << "JSON keeps the names as they are";
    EXPECT_NE(json.out.find("\"/x\\n/forged\\tf\\t1\\tlive\\t\\t\\t\\t.txt\""), std::string::npos) << json.out;

    CliResult search = runCli("search " + volume + " forged");
    ASSERT_EQ(search.status, 0) << search.out;
    EXPECT_EQ(std::count(search.out.begin(), search.out.end(), '\n'), 1) << search.out;
    EXPECT_EQ(search.out.rfind("/x\\n\\/forged\\tf\\t1\\tlive\\t\\t\\t\\t.txt\tf\t5\tlive\t", 0), 0u) << search.out;
}

TEST(OutputSafetyCliTest, RecoverNeitherFollowsLinksNorReplacesFiles) {
    TinyFat16 v;
    std::size_t at = TinyFat16::kRoot;
    at = v.longEntry(at, u"b.txt", "B       TXT", 0x20, 3, 5);
    at = v.longEntry(at, u"docs", "DOCS       ", 0x10, 4, 0);
    at = v.longEntry(at, u"c.txt", "C       TXT", 0x20, 6, 5);
    v.setFat(4, 0xFFFF);
    std::size_t in = v.entry(TinyFat16::cluster(4), ".          ", 0x10, 4, 0);
    in = v.entry(in, "..         ", 0x10, 0, 0);
    v.longEntry(in, u"a.txt", "A       TXT", 0x20, 5, 5);
    v.file(3, "hello");
    v.file(5, "inner");
    v.file(6, "third");
    TempDir dir;
    writeFile(dir.file("fat.img"), v.d);
    fs::path out = dir.path() / "out", outside = dir.path() / "outside";
    fs::create_directories(out);
    fs::create_directories(outside / "folder");
    put(outside / "victim.txt", "victim");
    fs::create_symlink(outside / "victim.txt", out / "b.txt");
    fs::create_symlink(outside / "folder", out / "docs");
    put(out / "c.txt", "mine");

    CliResult r =
        runCli("recover --start-sector 0 --fs fat16 --out " + quoted(out.string()) + " " + quoted(dir.file("fat.img")));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("saved 3 files, 0 failed"), std::string::npos) << r.out;
    EXPECT_EQ(slurp(outside / "victim.txt"), "victim");
    EXPECT_EQ(entriesIn(outside / "folder"), 0u);
    EXPECT_EQ(slurp(out / "c.txt"), "mine");
    EXPECT_EQ(slurp(out / "b (1).txt"), "hello");
    EXPECT_EQ(slurp(out / "docs (1)" / "a.txt"), "inner");
    EXPECT_EQ(slurp(out / "c (1).txt"), "third");
}

}  // namespace ondrel::test
