#include "results/TreeWalk.h"

#include <unordered_set>

namespace ondrel {

bool walkTree(const FileSystemAdapter& adapter, EntryId from, const TreeVisitor& visitor) {
    struct Frame {
        EntryId folder;
        std::vector<EntryId> children;
        std::size_t next = 0;
    };
    // An explicit stack: deep trees cannot exhaust the call stack.
    std::vector<Frame> stack;
    std::unordered_set<EntryId> entered{from};
    stack.push_back({from, adapter.children(from)});
    while (!stack.empty()) {
        Frame& top = stack.back();
        int depth = static_cast<int>(stack.size());
        if (top.next == top.children.size()) {
            if (depth > 1 && visitor.onLeave) visitor.onLeave(top.folder, depth - 1);
            stack.pop_back();
            continue;
        }
        EntryId child = top.children[top.next++];
        Visit v = visitor.onEntry(child, depth);
        if (v == Visit::Stop) return false;
        if (v != Visit::Enter || !adapter.isFolder(child) || !adapter.descendInto(child)) continue;
        if (depth > visitor.maxDepth) {
            if (visitor.onTooDeep) visitor.onTooDeep(child, depth);
            continue;
        }
        if (!entered.insert(child).second) continue;
        stack.push_back({child, adapter.children(child)});
    }
    return true;
}

std::int64_t countFiles(const FileSystemAdapter& adapter, EntryId folder) {
    std::int64_t n = 0;
    TreeVisitor count;
    count.onEntry = [&](EntryId c, int) {
        if (!adapter.isFolder(c)) ++n;
        return Visit::Enter;
    };
    walkTree(adapter, folder, count);
    return n;
}

}  // namespace ondrel
