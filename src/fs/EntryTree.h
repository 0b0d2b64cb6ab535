#pragma once
// The folder tree of a parser's entry table: first-child and next-sibling
// links by entry index, built from each entry's parent reference. Entries whose
// parent is gone, and loops of parent references that reach no root, are hung
// under the parser's orphan folder, so every entry of the tree is reachable and
// every walk over it ends.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ondrel {

class EntryTree {
public:
    using Index = std::int64_t;
    static constexpr Index kNone = -1;     // no entry
    static constexpr Index kLost = -2;     // parent reference: the parent is gone
    static constexpr Index kOutside = -3;  // parent reference: the entry is not in the tree

    // A tree of count entries without links.
    void reset(std::size_t count);
    std::size_t size() const { return parent_.size(); }

    // Links each entry to the parent parentOf names, in index order, each at
    // the end of its parent's children. Entries marked kLost, and loops cut
    // where they close, go in front of the orphan folder's children; the
    // orphan folder is the root's last child. Without an orphan folder (kNone)
    // such entries stay out of the tree.
    void build(const std::vector<Index>& parentOf, Index root, Index orphan);

    void append(Index parent, Index child);
    void prepend(Index parent, Index child);

    Index parent(Index entry) const { return valid(entry) ? parent_[at(entry)] : kNone; }
    Index firstChild(Index entry) const { return valid(entry) ? firstChild_[at(entry)] : kNone; }
    Index nextSibling(Index entry) const { return valid(entry) ? nextSibling_[at(entry)] : kNone; }
    bool hasChildren(Index entry) const { return firstChild(entry) != kNone; }
    // The children in order; never more than the tree holds, whatever the links say.
    std::vector<Index> children(Index folder) const;

private:
    bool valid(Index i) const { return i >= 0 && i < static_cast<Index>(parent_.size()); }
    static std::size_t at(Index i) { return static_cast<std::size_t>(i); }
    void detach(Index child);
    void cutLoops(const std::vector<Index>& parentOf, Index root, Index orphan);

    std::vector<Index> parent_, firstChild_, lastChild_, nextSibling_;
};

}  // namespace ondrel
