#pragma once
// The one depth-first walk over a recovered tree, shared by saving, search,
// listing and the recycle-bin step: children in the adapter's order, each
// folder entered at most once per walk (a damaged tree cannot make it go
// round), folders the adapter keeps closed never entered, nesting bounded.
#include "fs/FileSystemAdapter.h"

#include <functional>

namespace ondrel {

// Trees rebuilt from damaged volumes can nest without end; host paths cannot.
inline constexpr int kMaxTreeDepth = 1024;

enum class Visit { Enter, Skip, Stop };

struct TreeVisitor {
    // Each entry below the starting folder, at depth 1 for its children. For
    // a folder, Enter walks its children next; Stop ends the whole walk.
    std::function<Visit(EntryId entry, int depth)> onEntry;
    // After the children of an entered folder (optional).
    std::function<void(EntryId folder, int depth)> onLeave;
    // A folder that would be entered deeper than the bound (optional).
    std::function<void(EntryId folder, int depth)> onTooDeep;
    int maxDepth = kMaxTreeDepth;
};

// False when onEntry stopped the walk.
bool walkTree(const FileSystemAdapter& adapter, EntryId from, const TreeVisitor& visitor);

// The files below a folder, in all its sub-folders (folders are not counted).
std::int64_t countFiles(const FileSystemAdapter& adapter, EntryId folder);

}  // namespace ondrel
