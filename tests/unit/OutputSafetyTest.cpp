// What an image's names and an output folder's contents can do to a save and
// to ls/search output: names become safe host names, nothing is written
// through a link or over an existing file, control characters cannot forge
// lines.
#include "platform/OutputFile.h"
#include "platform/SafeNames.h"
#include "results/SaveWalk.h"
#include "unit/BootSectors.h"
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

// Saves the way the real adapters do: through OutputFile::create(hostPath).
// beforeWrite runs first, to change the output folder in the middle of a save.
class OutputFileAdapter : public FakeAdapter {
public:
    std::function<void(EntryId)> beforeWrite;
    WriteResult writeFile(EntryId e, const std::string& path) override {
        if (beforeWrite) beforeWrite(e);
        const Node& n = nodes[static_cast<std::size_t>(e)];
        OutputFile file;
        if (!file.create(path)) return WriteResult::CreateFailed;
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

}  // namespace ondrel::test
