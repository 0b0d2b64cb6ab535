#include "results/ResultsTree.h"

namespace ondrel {

void ResultsTree::clear() { nodes_.clear(); }

int ResultsTree::add(const FileSystemAdapter& adapter, int parent, EntryId entry, bool colourDeleted) {
    ResultNode n;
    n.entry = entry;
    n.parent = parent;
    n.text = adapter.name(entry);
    n.folder = adapter.isFolder(entry);
    n.deleted = adapter.isDeleted(entry);
    n.red = n.deleted && colourDeleted;
    int id = static_cast<int>(nodes_.size());
    nodes_.push_back(std::move(n));
    nodes_[static_cast<std::size_t>(parent)].children.push_back(id);
    if (nodes_[static_cast<std::size_t>(id)].folder && adapter.hasChildren(entry)) {
        ResultNode p;
        p.parent = id;
        p.text = kPlaceholderText;
        p.placeholder = true;
        nodes_.push_back(std::move(p));
        nodes_[static_cast<std::size_t>(id)].children.push_back(static_cast<int>(nodes_.size() - 1));
    }
    return id;
}

void ResultsTree::build(const FileSystemAdapter& adapter) {
    nodes_.clear();
    ResultNode rootNode;
    rootNode.folder = true;
    nodes_.push_back(rootNode);
    EntryId root = adapter.rootEntry();
    if (root == kNoEntry) return;
    nodes_[0].entry = root;
    nodes_[0].text = adapter.name(root);  // empty but for ext's "ROOT"
    for (EntryId child : adapter.children(root)) add(adapter, 0, child, true);
}

bool ResultsTree::populate(const FileSystemAdapter& adapter, int id, bool colourDeleted) {
    auto& kids = nodes_.at(static_cast<std::size_t>(id)).children;
    if (kids.empty() || !nodes_[static_cast<std::size_t>(kids.front())].placeholder) return false;
    kids.clear();  // the placeholder node stays unused in the vector
    EntryId entry = nodes_[static_cast<std::size_t>(id)].entry;
    for (EntryId child : adapter.children(entry)) add(adapter, id, child, colourDeleted);
    return true;
}

std::vector<int> ResultsTree::fileChildren(int id) const {
    std::vector<int> out;
    for (int c : node(id).children)
        if (!node(c).folder && !node(c).placeholder) out.push_back(c);
    return out;
}

}  // namespace ondrel
