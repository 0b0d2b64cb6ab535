#include "fs/EntryTree.h"

namespace ondrel {

void EntryTree::reset(std::size_t count) {
    parent_.assign(count, kNone);
    firstChild_.assign(count, kNone);
    lastChild_.assign(count, kNone);
    nextSibling_.assign(count, kNone);
}

void EntryTree::append(Index parent, Index child) {
    if (!valid(parent) || !valid(child) || parent == child) return;
    parent_[at(child)] = parent;
    nextSibling_[at(child)] = kNone;
    if (firstChild_[at(parent)] == kNone) firstChild_[at(parent)] = child;
    else nextSibling_[at(lastChild_[at(parent)])] = child;
    lastChild_[at(parent)] = child;
}

void EntryTree::prepend(Index parent, Index child) {
    if (!valid(parent) || !valid(child) || parent == child) return;
    parent_[at(child)] = parent;
    nextSibling_[at(child)] = firstChild_[at(parent)];
    firstChild_[at(parent)] = child;
    if (lastChild_[at(parent)] == kNone) lastChild_[at(parent)] = child;
}

void EntryTree::detach(Index child) {
    Index p = parent(child);
    if (!valid(p)) return;
    Index previous = kNone;
    std::size_t guard = 0;
    for (Index s = firstChild_[at(p)]; s != kNone && guard++ < size(); previous = s, s = nextSibling_[at(s)]) {
        if (s != child) continue;
        Index next = nextSibling_[at(s)];
        if (previous == kNone) firstChild_[at(p)] = next;
        else nextSibling_[at(previous)] = next;
        if (lastChild_[at(p)] == child) lastChild_[at(p)] = previous;
        break;
    }
    parent_[at(child)] = kNone;
    nextSibling_[at(child)] = kNone;
}

std::vector<EntryTree::Index> EntryTree::children(Index folder) const {
    std::vector<Index> out;
    for (Index c = firstChild(folder); valid(c) && out.size() < size(); c = nextSibling_[at(c)]) out.push_back(c);
    return out;
}

void EntryTree::build(const std::vector<Index>& parentOf, Index root, Index orphan) {
    reset(parentOf.size());
    std::vector<Index> lost;
    for (std::size_t i = 0; i < parentOf.size(); ++i) {
        auto idx = static_cast<Index>(i);
        Index p = parentOf[i];
        if (idx == root || idx == orphan || p == kOutside) continue;
        if (valid(p) && p != idx && p != orphan) append(p, idx);
        else lost.push_back(idx);
    }
    if (valid(orphan)) {
        if (valid(root)) append(root, orphan);
        for (Index i : lost) prepend(orphan, i);
    }
    cutLoops(parentOf, root, orphan);
}

void EntryTree::cutLoops(const std::vector<Index>& parentOf, Index root, Index orphan) {
    // Entries whose parents refer to each other in a loop are reachable from
    // nowhere; each such loop is cut where it closes and hung under the orphan folder.
    std::vector<char> reachable(size(), 0);
    std::vector<Index> stack;
    auto mark = [&](Index from) {
        stack.assign(1, from);
        while (!stack.empty()) {
            Index i = stack.back();
            stack.pop_back();
            if (!valid(i) || reachable[at(i)]) continue;
            reachable[at(i)] = 1;
            for (Index c : children(i)) stack.push_back(c);
        }
    };
    mark(root);
    mark(orphan);
    for (std::size_t i = 0; i < size(); ++i) {
        auto idx = static_cast<Index>(i);
        if (reachable[i] || parentOf[i] == kOutside || idx == root || idx == orphan) continue;
        // Climb the parents to the loop and cut it there.
        Index c = idx;
        for (std::size_t steps = 0; steps <= size(); ++steps) {
            Index p = parent_[at(c)];
            if (!valid(p) || reachable[at(p)] || p == idx) break;
            c = p;
        }
        detach(c);
        if (valid(orphan)) prepend(orphan, c);
        mark(c);  // without an orphan folder: left out, and not climbed again
    }
}

}  // namespace ondrel
