#pragma once
// The check logic of the results tree (CXHtmlTree), free of any toolkit so it
// can be tested without a display: three-state check boxes that follow each
// other up and down the tree ("smart check"), items without a check box or
// disabled, and the state image each item shows.
#include <cstdint>
#include <functional>
#include <vector>

namespace ondrel {

class CheckTreeLogic {
public:
    using Item = int;
    static constexpr Item kNoItem = -1;

    // State images: 1 unchecked, 2 checked, 3 partly checked; +4 without a
    // check box; +8 hot (under the mouse after a click).
    enum : int { kUnchecked = 1, kChecked = 2, kPartly = 3, kNoCheckBox = 4, kHot = 8 };

    bool smartCheck = false;
    bool checkBoxes = true;
    bool readOnly = false;
    // Called after a check change, with the item and its new flag.
    std::function<void(Item, bool)> onCheckChanged;

    // Inserts an item at the end of parent's children (kNoItem: a top-level item).
    Item insertItem(Item parent, bool checked = false, bool hasCheckBox = true);
    void deleteItem(Item item);
    void clear();

    void setCheck(Item item, bool flag);
    bool getCheck(Item item) const;
    // Space, or a click on the check box: toggles unless disabled or read-only.
    void toggle(Item item);
    void setDisabled(Item item, bool disabled);

    int stateImage(Item item) const;
    int descendants(Item item) const { return at(item).descendants; }
    int checkedDescendants(Item item) const { return at(item).checkedDescendants; }
    Item parent(Item item) const { return at(item).parent; }
    const std::vector<Item>& children(Item item) const { return at(item).children; }
    bool exists(Item item) const {
        return item >= 0 && item < static_cast<Item>(items_.size()) && items_[static_cast<std::size_t>(item)].alive;
    }

private:
    struct Data {
        bool alive = true;
        bool checked = false;
        bool hasCheckBox = true;
        bool disabled = false;
        int descendants = 0;
        int checkedDescendants = 0;
        int excludedDescendants = 0;
        Item parent = kNoItem;
        std::vector<Item> children;
    };
    Data& at(Item item) { return items_.at(static_cast<std::size_t>(item)); }
    const Data& at(Item item) const { return items_.at(static_cast<std::size_t>(item)); }
    // Adds delta to an ancestor's checked count and returns the delta for the next one.
    int updateAncestor(Item item, int delta);
    void updateAncestors(Item from, int delta);
    void setDescendants(Item item, bool flag);

    std::vector<Data> items_;
};

// The header check box of the file list (CCheckListCtrl / CCheckHeadCtrl).
class CheckListHeaderLogic {
public:
    // Header image: 1 unchecked, 2 checked.
    int headerImage() const { return headerImage_; }
    // A click on column 0's header: flips the header and sets every row to it.
    void clickHeader(std::vector<bool>& rows);
    // After a row changed: checked when every row is (also when there are none).
    void rowsChanged(const std::vector<bool>& rows);

private:
    int headerImage_ = 1;
};

}  // namespace ondrel
