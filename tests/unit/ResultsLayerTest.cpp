#include "fs/DisplayFormat.h"
#include "results/RecycleBinNames.h"
#include "results/ResultsTree.h"
#include "results/SaveWalk.h"
#include "results/Search.h"
#include "unit/FakeAdapter.h"
#include "unit/RecordingObserver.h"
#include "unit/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>

namespace ondrel::test {

namespace {
struct AnsweringObserver : RecordingObserver {
    bool answer = true;
    std::vector<std::string> questions;
    bool question(const std::string& text) override {
        questions.push_back(text);
        return answer;
    }
};
std::string slurp(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}
}  // namespace

TEST(DisplayFormatTest, SizesAndTimes) {
    EXPECT_EQ(formatSize(700), "700 Bytes");
    EXPECT_EQ(formatSize(1536), "1.50 KB");
    EXPECT_EQ(formatSize(5u << 20), "5.00 MB");
    EXPECT_EQ(formatSize(3ull << 30), "3.00 GB");
    EXPECT_EQ(formatSize(0), "0 Bytes");
    EXPECT_EQ(formatTime({2024, 3, 5, 12, 5, 0}), "03/05/2024  12:05 AM");
    EXPECT_EQ(formatTime({2024, 3, 5, 13, 5, 0}), "03/05/2024  01:05 PM");
    EXPECT_EQ(formatTime({2024, 12, 31, 0, 15, 0}), "12/31/2024  00:15 AM");
    EXPECT_EQ(formatDateOnly({1999, 7, 4, 10, 0, 0}), "07/04/1999 ");
    EXPECT_EQ(isoText({2024, 3, 5, 14, 7, 9}, true), "2024-03-05T14:07:09Z");
    EXPECT_EQ(isoText({2024, 3, 5, 14, 7, 9}, false), "2024-03-05T14:07:09");
    // 2024-01-01T00:00:00Z as an NTFS FILETIME.
    UnixTime t = fromFileTime(133485408000000000ull);
    EXPECT_EQ(t.seconds, 1704067200);
    EXPECT_EQ(isoText(toUtcCivil(t.seconds), true), "2024-01-01T00:00:00Z");
}

TEST(SaveWalkTest, SavesFoldersRecursivelyAfterAskingWithTheCount) {
    FakeAdapter fs;
    for (const char* folder : {"one", "two"}) {
        EntryId f = fs.add(0, folder, true);
        for (int i = 0; i < 3; ++i) fs.add(f, "f" + std::to_string(i) + ".txt", false, std::string(folder) + std::to_string(i));
    }
    AnsweringObserver observer;
    TempDir out;
    SaveWalk walk(fs, observer);
    EXPECT_EQ(walk.countFiles(0), 6);
    SaveOutcome r = walk.saveFolder(0, out.path().string());
    ASSERT_EQ(observer.questions.size(), 1u);
    EXPECT_EQ(observer.questions[0], "number of files found inside this folder = 6 .Do you want to continue dumping these files..?");
    EXPECT_EQ(r.saved, 6);
    EXPECT_EQ(slurp(out.path() / "two" / "f2.txt"), "two2");
    EXPECT_EQ(observer.messages.back(), "work done");
    EXPECT_EQ(observer.rangeHigh, 6);
    EXPECT_TRUE(observer.saw("saving File  " + (out.path() / "one" / "f0.txt").string()));

    AnsweringObserver no;
    no.answer = false;
    TempDir none;
    SaveOutcome declined = SaveWalk(fs, no).saveFolder(0, none.path().string());
    EXPECT_FALSE(declined.started);
    EXPECT_TRUE(std::filesystem::is_empty(none.path()));

    RecordingObserver quiet;
    EXPECT_EQ(SaveWalk(fs, quiet).saveFolder(0, "").saved, 0);
    EXPECT_EQ(quiet.messages, std::vector<std::string>{"Please select valid output folder"});
}

TEST(SaveWalkTest, HostileAndDuplicateNamesStayInsideTheFolder) {
    FakeAdapter fs;
    fs.add(0, "report.txt", false, "live");
    fs.add(0, "report.txt", false, "deleted", true);
    fs.add(0, "..", false, "dotdot");
    fs.add(0, "../../escape.txt", false, "escape");
    fs.add(0, std::string("nul\0name", 8), false, "nul");
    fs.add(0, "  padded name.txt  ", false, "trim");
    EntryId dots = fs.add(0, "..", true);
    fs.add(dots, "inner.txt", false, "inner");
    AnsweringObserver observer;
    TempDir parent;
    std::string out = (parent.path() / "out").string();
    SaveOutcome r = SaveWalk(fs, observer).saveFolder(0, out);
    EXPECT_EQ(r.saved, 7);
    EXPECT_EQ(slurp(std::filesystem::path(out) / "report.txt"), "live");
    EXPECT_EQ(slurp(std::filesystem::path(out) / "report (1).txt"), "deleted");
    EXPECT_EQ(slurp(std::filesystem::path(out) / "padded name.txt"), "trim");
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(out) / ".._.._escape.txt"));
    // Nothing was written outside the chosen folder.
    for (const auto& e : std::filesystem::directory_iterator(parent.path())) EXPECT_EQ(e.path().filename(), "out");
    std::size_t files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(out)) files += e.is_regular_file();
    EXPECT_EQ(files, 7u);
}

TEST(SaveWalkTest, FailuresAreCountedAndReportedAndLiveOnlySkipsDeleted) {
    FakeAdapter fs;
    fs.add(0, "good.txt", false, "ok");
    EntryId bad = fs.add(0, "bad.txt", false, "partial");
    fs.nodes[static_cast<std::size_t>(bad)].unreadable = true;
    fs.add(0, "gone.txt", false, "old", true);
    AnsweringObserver observer;
    TempDir out;
    SaveOutcome r = SaveWalk(fs, observer).saveFolder(0, out.path().string());
    EXPECT_EQ(r.saved, 2);
    EXPECT_EQ(r.failed, 1);
    EXPECT_NE(observer.messages.back().find("1 of 3 files could not be saved"), std::string::npos) << observer.messages.back();

    TempDir live;
    SaveWalk onlyLive(fs, observer);
    onlyLive.liveOnly = true;
    SaveOutcome l = onlyLive.saveFolder(0, live.path().string());
    EXPECT_EQ(l.skipped, 1);
    EXPECT_FALSE(std::filesystem::exists(live.path() / "gone.txt"));
}

TEST(SaveWalkTest, AStoppedScanDoesNotStopLaterSaves) {
    FakeAdapter fs;
    fs.add(0, "a.txt", false, "a");
    WorkControl scanControl;
    scanControl.requestStop();  // what Stop during the scan did
    AnsweringObserver observer;
    TempDir out;
    SaveWalk walk(fs, observer);
    EXPECT_EQ(walk.saveFolder(0, out.path().string()).saved, 1);
}

TEST(SearchTest, RegularExpressionsAnywhereInTheNameWithoutCase) {
    FakeAdapter fs;
    fs.add(0, "Report.DOCX", false, "");
    fs.add(0, "apple.txt", false, "");
    fs.add(0, "banana.txt", false, "");
    EntryId pics = fs.add(0, "Pictures", true);
    EntryId y = fs.add(pics, "2024", true);
    fs.add(y, "a.jpg", false, "");
    fs.add(y, "b.png", false, "", true);
    RecordingObserver observer;
    WorkControl control;
    auto paths = [&](const std::string& text) {
        std::vector<std::string> out;
        for (const auto& h : searchNames(fs, text, observer, control).hits) out.push_back(h.path);
        return out;
    };
    EXPECT_EQ(paths("doc"), std::vector<std::string>{"\\Report.DOCX"});
    EXPECT_EQ(paths("^a.*\\.txt$"), std::vector<std::string>{"\\apple.txt"});
    EXPECT_EQ(paths("jpg|png"), (std::vector<std::string>{"\\Pictures\\2024\\a.jpg", "\\Pictures\\2024\\b.png"}));
    EXPECT_TRUE(paths("").empty());
    EXPECT_TRUE(observer.saw("searched file 2"));
    EXPECT_EQ(observer.messages.back(), "Searching Finished");

    RecordingObserver bad;
    SearchOutcome invalid = searchNames(fs, "*.jpg", bad, control);
    EXPECT_FALSE(invalid.validPattern);
    EXPECT_TRUE(invalid.hits.empty());
    ASSERT_EQ(bad.messages.size(), 1u);
    EXPECT_NE(bad.messages[0].find("not a valid regular expression"), std::string::npos);
}

TEST(ResultsTreeTest, PlaceholdersAndLazyLevels) {
    FakeAdapter fs;
    EntryId docs = fs.add(0, "docs", true);
    fs.add(docs, "old.txt", false, "x", true);
    fs.add(docs, "sub", true);
    fs.add(0, "gone.txt", false, "y", true);
    fs.add(0, "empty", true);
    ResultsTree tree;
    tree.build(fs);
    const ResultNode& root = tree.node(tree.root());
    ASSERT_EQ(root.children.size(), 3u);
    const ResultNode& docsNode = tree.node(root.children[0]);
    ASSERT_EQ(docsNode.children.size(), 1u);
    EXPECT_EQ(tree.node(docsNode.children[0]).text, kPlaceholderText);
    EXPECT_TRUE(tree.node(root.children[1]).red) << "a deleted top-level entry is red";
    EXPECT_TRUE(tree.node(root.children[2]).children.empty()) << "an empty folder gets no placeholder";

    int docsId = root.children[0];
    EXPECT_TRUE(tree.populate(fs, docsId, false));
    EXPECT_FALSE(tree.populate(fs, docsId, true)) << "populated once";
    const ResultNode& populated = tree.node(docsId);
    ASSERT_EQ(populated.children.size(), 2u);
    EXPECT_TRUE(tree.node(populated.children[0]).deleted);
    EXPECT_FALSE(tree.node(populated.children[0]).red) << "expansion does not colour";
    EXPECT_EQ(tree.fileChildren(docsId).size(), 1u);
}

TEST(RecycleBinTest, BothInfoFormatsNameTheirDataFiles) {
    auto info = [](int version, const std::u16string& path) {
        std::vector<std::uint8_t> r(version == 1 ? 544 : 28 + (path.size() + 1) * 2, 0);
        r[0] = static_cast<std::uint8_t>(version);
        std::size_t at = 24;
        if (version == 2) {
            r[24] = static_cast<std::uint8_t>(path.size() + 1);
            at = 28;
        }
        for (std::size_t i = 0; i < path.size(); ++i) {
            r[at + i * 2] = static_cast<std::uint8_t>(path[i] & 0xFF);
            r[at + i * 2 + 1] = static_cast<std::uint8_t>(path[i] >> 8);
        }
        return std::string(r.begin(), r.end());
    };
    FakeAdapter fs;
    EntryId bin = fs.add(0, "$RECYCLE.BIN", true);
    EntryId user = fs.add(bin, "S-1-5-21-1", true);
    fs.add(user, "$IAB12CD.txt", false, info(1, u"C:\\Users\\alice\\budget 2024.xlsx"));
    EntryId r1 = fs.add(user, "$RAB12CD.txt", false, "data1");
    fs.add(user, "$IXY99.doc", false, info(2, u"D:\\Docs\\\u00dcbersicht.doc"));
    EntryId r2 = fs.add(user, "$RXY99.doc", false, "data2");
    EntryId lonely = fs.add(user, "$RNOPAIR.txt", false, "x");
    EXPECT_EQ(nameRecycleBinEntries(fs), 2);
    EXPECT_EQ(fs.name(r1), "budget 2024.xlsx");
    EXPECT_EQ(fs.name(r2), "\xC3\x9c" "bersicht.doc");
    EXPECT_EQ(fs.name(lonely), "$RNOPAIR.txt");
    EXPECT_FALSE(parseRecycleBinInfo({1, 2, 3}));
}

}  // namespace ondrel::test
