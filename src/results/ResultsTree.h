#pragma once
// The folder tree of a scan's results. Only the top level exists after a scan;
// a folder's children are added when it is expanded or clicked, and until then
// a folder with children carries the placeholder child "..DUMY..".
#include "fs/FileSystemAdapter.h"

#include <string>
#include <vector>

namespace ondrel {

inline constexpr const char* kPlaceholderText = "..DUMY..";

struct ResultNode {
    EntryId entry = kNoEntry;  // the parser's record; kNoEntry for the root and placeholders
    int parent = -1;
    std::string text;
    bool folder = false;
    bool deleted = false;
    bool red = false;          // drawn in red (deleted, where the view colours it)
    bool placeholder = false;
    std::vector<int> children;
};

class ResultsTree {
public:
    // Empty root item (the shared, empty root label) and the top level under it.
    void build(const FileSystemAdapter& adapter);
    void clear();

    int root() const { return nodes_.empty() ? -1 : 0; }
    const ResultNode& node(int id) const { return nodes_.at(static_cast<std::size_t>(id)); }
    std::size_t size() const { return nodes_.size(); }

    // Replaces the placeholder of a folder by its children. Deleted children
    // are drawn red when the folder was clicked, not when it was expanded.
    // Returns false when there was nothing to add.
    bool populate(const FileSystemAdapter& adapter, int id, bool colourDeleted);

    // The file children of a folder (what the list shows for it).
    std::vector<int> fileChildren(int id) const;

private:
    int add(const FileSystemAdapter& adapter, int parent, EntryId entry, bool colourDeleted);

    std::vector<ResultNode> nodes_;
};

}  // namespace ondrel
