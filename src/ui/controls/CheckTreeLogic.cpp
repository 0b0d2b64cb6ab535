#include "ui/controls/CheckTreeLogic.h"

#include <algorithm>

namespace ondrel {

CheckTreeLogic::Item CheckTreeLogic::insertItem(Item parent, bool checked, bool hasCheckBox) {
    Data d;
    d.checked = checked;
    d.hasCheckBox = hasCheckBox;
    d.parent = exists(parent) ? parent : kNoItem;
    auto item = static_cast<Item>(items_.size());
    items_.push_back(std::move(d));
    if (exists(parent)) at(parent).children.push_back(item);
    if (smartCheck) {
        int delta = checked ? 1 : 0;
        for (Item a = at(item).parent; a != kNoItem; a = at(a).parent) {
            at(a).descendants += 1;
            delta = updateAncestor(a, delta);
        }
    }
    return item;
}

int CheckTreeLogic::updateAncestor(Item item, int delta) {
    Data& d = at(item);
    d.checkedDescendants = std::max(0, d.checkedDescendants + delta);
    bool was = d.checked;
    d.checked = d.checkedDescendants == d.descendants - d.excludedDescendants;
    return delta + (d.checked && !was ? 1 : 0) - (!d.checked && was ? 1 : 0);
}

void CheckTreeLogic::updateAncestors(Item from, int delta) {
    for (Item a = from; a != kNoItem; a = at(a).parent) delta = updateAncestor(a, delta);
}

void CheckTreeLogic::setDescendants(Item item, bool flag) {
    for (Item c : at(item).children) {
        Data& d = at(c);
        d.checked = flag;
        d.checkedDescendants = flag ? std::max(0, d.descendants - d.excludedDescendants) : 0;
        setDescendants(c, flag);
    }
}

void CheckTreeLogic::setCheck(Item item, bool flag) {
    if (!checkBoxes || !exists(item)) return;
    Data& d = at(item);
    if (!d.hasCheckBox || d.disabled) return;
    bool old = d.checked;
    d.checked = flag;
    if (smartCheck && old != flag) {
        int delta = flag ? d.descendants - d.checkedDescendants + 1 : -(d.checkedDescendants + 1);
        d.checkedDescendants = flag ? std::max(0, d.descendants - d.excludedDescendants) : 0;
        setDescendants(item, flag);
        updateAncestors(d.parent, delta);
    }
    if (onCheckChanged) onCheckChanged(item, flag);
}

bool CheckTreeLogic::getCheck(Item item) const {
    if (!checkBoxes || !exists(item)) return false;
    const Data& d = at(item);
    if (smartCheck && d.descendants > 0)
        return d.checkedDescendants != 0 && d.checkedDescendants == d.descendants - d.excludedDescendants;
    return d.checked;
}

void CheckTreeLogic::toggle(Item item) {
    if (!exists(item) || readOnly || at(item).disabled || !at(item).hasCheckBox) return;
    setCheck(item, !getCheck(item));
}

void CheckTreeLogic::setDisabled(Item item, bool disabled) {
    if (!exists(item) || at(item).disabled == disabled) return;
    at(item).disabled = disabled;
    for (Item a = at(item).parent; a != kNoItem; a = at(a).parent)
        at(a).excludedDescendants = std::max(0, at(a).excludedDescendants + (disabled ? 1 : -1));
}

int CheckTreeLogic::stateImage(Item item) const {
    const Data& d = at(item);
    int image;
    if (smartCheck && d.descendants > 0) {
        if (d.checkedDescendants == 0) image = kUnchecked;
        else if (d.checkedDescendants == d.descendants - d.excludedDescendants) image = kChecked;
        else image = kPartly;
    } else {
        image = d.checked ? kChecked : kUnchecked;
    }
    return image + (d.hasCheckBox ? 0 : kNoCheckBox);
}

void CheckTreeLogic::deleteItem(Item item) {
    if (!exists(item)) return;
    // Children first, so the counts of the ancestors stay right.
    std::vector<Item> kids = at(item).children;
    for (Item c : kids) deleteItem(c);
    Data& d = at(item);
    for (Item a = d.parent; a != kNoItem; a = at(a).parent) {
        at(a).descendants = std::max(0, at(a).descendants - 1);
        if (d.disabled) at(a).excludedDescendants = std::max(0, at(a).excludedDescendants - 1);
    }
    if (smartCheck && d.checked) updateAncestors(d.parent, -1);
    else if (smartCheck) updateAncestors(d.parent, 0);
    if (d.parent != kNoItem) {
        auto& siblings = at(d.parent).children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), item), siblings.end());
    }
    d.alive = false;
    d.children.clear();
}

void CheckTreeLogic::clear() { items_.clear(); }

void CheckListHeaderLogic::clickHeader(std::vector<bool>& rows) {
    headerImage_ = headerImage_ == 2 ? 1 : 2;
    std::fill(rows.begin(), rows.end(), headerImage_ == 2);
}

void CheckListHeaderLogic::rowsChanged(const std::vector<bool>& rows) {
    headerImage_ = std::all_of(rows.begin(), rows.end(), [](bool r) { return r; }) ? 2 : 1;
}

}  // namespace ondrel
