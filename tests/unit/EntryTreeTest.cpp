// The shared entry tree and tree walk: every parser's folders go through them,
// so a fault here hides files on every file system, or hangs on a damaged one.
#include "fs/EntryTree.h"
#include "results/SaveWalk.h"
#include "results/TreeWalk.h"
#include "unit/FakeAdapter.h"
#include "unit/RecordingObserver.h"
#include "unit/TestSupport.h"

#include <gtest/gtest.h>
#include <set>

namespace ondrel::test {

TEST(EntryTreeTest, LostEntriesAndParentLoopsHangUnderTheOrphanFolder) {
    using T = EntryTree;
    // 0 root, 1 orphan folder, 2 in the root, 3 and 4 name each other, 5 lives
    // in that loop, 6 lost its parent, 7 is not part of the tree, 8 names itself.
    std::vector<T::Index> parentOf{T::kOutside, T::kOutside, 0, 4, 3, 3, T::kLost, T::kOutside, 8};
    T tree;
    tree.build(parentOf, 0, 1);
    EXPECT_EQ(tree.children(0), (std::vector<T::Index>{2, 1})) << "the orphan folder is the root's last child";

    std::multiset<T::Index> seen;
    std::vector<T::Index> stack{0};
    while (!stack.empty()) {
        T::Index i = stack.back();
        stack.pop_back();
        ASSERT_LT(seen.size(), 20u) << "the tree loops";
        seen.insert(i);
        for (T::Index c : tree.children(i)) stack.push_back(c);
    }
    for (T::Index i : {0, 1, 2, 3, 4, 5, 6, 8}) EXPECT_EQ(seen.count(i), 1u) << "entry " << i << " reachable once";
    EXPECT_EQ(seen.count(7), 0u);
    EXPECT_EQ(tree.parent(6), 1);

    // Without an orphan folder, what cannot be placed stays out and the rest is kept.
    tree.build(parentOf, 0, T::kNone);
    EXPECT_EQ(tree.children(0), (std::vector<T::Index>{2}));
}

TEST(TreeWalkTest, LoopsEndAndDeepNestingIsCutWithAReport) {
    FakeAdapter fs;
    EntryId a = fs.add(0, "a", true);
    EntryId b = fs.add(a, "b", true);
    fs.nodes[static_cast<std::size_t>(b)].kids.push_back(a);  // b lists its own parent
    int visits = 0;
    TreeVisitor count;
    count.onEntry = [&](EntryId, int) {
        ++visits;
        return Visit::Enter;
    };
    EXPECT_TRUE(walkTree(fs, 0, count));
    EXPECT_EQ(visits, 3) << "a, b, and a once more without entering it again";

    FakeAdapter deep;
    EntryId at = 0;
    for (int d = 0; d < kMaxTreeDepth + 50; ++d) at = deep.add(at, "d", true);
    deep.add(at, "bottom.txt", false, "x");
    TempDir out;
    RecordingObserver observer;
    SaveWalk save(deep, observer);
    save.askFirst = false;
    SaveOutcome o = save.saveFolder(0, out.file("o"));
    ASSERT_EQ(o.failures.size(), 1u);
    EXPECT_NE(o.failures[0].find("nested too deep"), std::string::npos);
    EXPECT_EQ(o.saved, 0);
}

}  // namespace ondrel::test
