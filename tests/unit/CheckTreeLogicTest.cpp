#include "ui/controls/CheckTreeLogic.h"

#include <gtest/gtest.h>

namespace ondrel::test {

namespace {
// root
//   F: three files
//   G: four files (five unchecked items besides F and its files)
struct Tree {
    CheckTreeLogic t;
    CheckTreeLogic::Item root, f, g;
    std::vector<CheckTreeLogic::Item> fFiles;
    Tree() {
        t.smartCheck = true;
        root = t.insertItem(CheckTreeLogic::kNoItem);
        f = t.insertItem(root);
        for (int i = 0; i < 3; ++i) fFiles.push_back(t.insertItem(f));
        g = t.insertItem(root);
        for (int i = 0; i < 4; ++i) t.insertItem(g);
    }
};
}  // namespace

TEST(CheckTreeLogicTest, CheckingAFolderChecksItsFilesAndMakesItsParentPartlyChecked) {
    Tree tree;
    std::vector<std::pair<int, bool>> told;
    tree.t.onCheckChanged = [&](int item, bool flag) { told.push_back({item, flag}); };
    tree.t.setCheck(tree.f, true);
    EXPECT_TRUE(tree.t.getCheck(tree.f));
    for (auto file : tree.fFiles) EXPECT_TRUE(tree.t.getCheck(file));
    EXPECT_EQ(tree.t.stateImage(tree.root), CheckTreeLogic::kPartly);
    EXPECT_FALSE(tree.t.getCheck(tree.root)) << "a partly checked item reads as unchecked";
    EXPECT_EQ(tree.t.checkedDescendants(tree.root), 4);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], std::make_pair(tree.f, true));
}

TEST(CheckTreeLogicTest, ClearingOneFileOfACheckedFolderLowersItsParentByTwo) {
    Tree tree;
    tree.t.setCheck(tree.f, true);
    tree.t.setCheck(tree.fFiles[1], false);
    EXPECT_EQ(tree.t.stateImage(tree.f), CheckTreeLogic::kPartly);
    EXPECT_FALSE(tree.t.getCheck(tree.f));
    EXPECT_EQ(tree.t.checkedDescendants(tree.root), 2) << "the file and the folder";
}

TEST(CheckTreeLogicTest, InsertingUnderAFullyCheckedFolder) {
    Tree tree;
    tree.t.setCheck(tree.f, true);
    tree.t.insertItem(tree.f, true);
    EXPECT_EQ(tree.t.stateImage(tree.f), CheckTreeLogic::kChecked);
    tree.t.insertItem(tree.f, false);
    EXPECT_EQ(tree.t.stateImage(tree.f), CheckTreeLogic::kPartly);
    EXPECT_FALSE(tree.t.getCheck(tree.f));
}

TEST(CheckTreeLogicTest, DisabledItemsAndItemsWithoutACheckBoxDoNotChange) {
    Tree tree;
    tree.t.setDisabled(tree.fFiles[0], true);
    tree.t.toggle(tree.fFiles[0]);
    EXPECT_FALSE(tree.t.getCheck(tree.fFiles[0])) << "space on a disabled item changes nothing";
    // A disabled descendant does not keep its folder from being fully checked.
    tree.t.setCheck(tree.fFiles[1], true);
    tree.t.setCheck(tree.fFiles[2], true);
    EXPECT_EQ(tree.t.stateImage(tree.f), CheckTreeLogic::kChecked);
    auto plain = tree.t.insertItem(tree.root, false, false);
    tree.t.setCheck(plain, true);
    EXPECT_FALSE(tree.t.getCheck(plain));
    EXPECT_EQ(tree.t.stateImage(plain), CheckTreeLogic::kUnchecked + CheckTreeLogic::kNoCheckBox);
    tree.t.readOnly = true;
    tree.t.toggle(tree.g);
    EXPECT_FALSE(tree.t.getCheck(tree.g));
}

TEST(CheckTreeLogicTest, DeletingACheckedItemUpdatesItsAncestors) {
    Tree tree;
    tree.t.setCheck(tree.g, true);
    EXPECT_EQ(tree.t.checkedDescendants(tree.root), 5);
    tree.t.deleteItem(tree.g);
    EXPECT_EQ(tree.t.descendants(tree.root), 4);
    EXPECT_EQ(tree.t.checkedDescendants(tree.root), 0);
    EXPECT_EQ(tree.t.stateImage(tree.root), CheckTreeLogic::kUnchecked);
}

TEST(CheckListHeaderLogicTest, HeaderTicksAllRowsAndFollowsThem) {
    CheckListHeaderLogic header;
    std::vector<bool> none;
    header.clickHeader(none);
    EXPECT_EQ(header.headerImage(), 2) << "with no rows the header shows checked";
    std::vector<bool> rows{false, true, false};
    header.rowsChanged(rows);
    EXPECT_EQ(header.headerImage(), 1);
    header.clickHeader(rows);
    EXPECT_EQ(header.headerImage(), 2);
    EXPECT_EQ(rows, (std::vector<bool>{true, true, true}));
    rows[1] = false;
    header.rowsChanged(rows);
    EXPECT_EQ(header.headerImage(), 1);
}

}  // namespace ondrel::test
