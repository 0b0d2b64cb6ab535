#pragma once
// An in-memory file system for the results layer's tests: folders and files
// with names, sizes, deletion marks and contents.
#include "fs/FileSystemAdapter.h"

#include <fstream>
#include <map>

namespace ondrel::test {

class FakeAdapter : public FileSystemAdapter {
public:
    struct Node {
        std::string name;
        bool folder = false;
        bool deleted = false;
        std::string content;
        std::vector<EntryId> kids;
        bool unreadable = false;
    };

    FakeAdapter() { nodes.push_back({"", true, false, "", {}, false}); }

    EntryId add(EntryId parent, const std::string& name, bool folder, const std::string& content = "", bool deleted = false) {
        nodes.push_back({name, folder, deleted, content, {}, false});
        auto id = static_cast<EntryId>(nodes.size() - 1);
        nodes[static_cast<std::size_t>(parent)].kids.push_back(id);
        return id;
    }

    FileSystemKind kind() const override { return FileSystemKind::Ntfs; }
    std::string fileSystemName() const override { return "FAKE"; }
    bool scan(RecoveryMode, ScanObserver&, WorkControl&, std::string&) override { return true; }
    EntryId rootEntry() const override { return 0; }
    std::vector<EntryId> children(EntryId f) const override { return nodes[static_cast<std::size_t>(f)].kids; }
    bool isFolder(EntryId e) const override { return nodes[static_cast<std::size_t>(e)].folder; }
    bool hasChildren(EntryId e) const override { return !nodes[static_cast<std::size_t>(e)].kids.empty(); }
    bool isDeleted(EntryId e) const override { return nodes[static_cast<std::size_t>(e)].deleted; }
    std::string name(EntryId e) const override { return nodes[static_cast<std::size_t>(e)].name; }
    std::uint64_t size(EntryId e) const override { return nodes[static_cast<std::size_t>(e)].content.size(); }
    DisplayTexts displayTexts(EntryId) const override { return {}; }
    EntryTimes times(EntryId) const override { return {}; }
    WriteResult writeInto(EntryId e, OutputFile& file) override {
        const Node& n = nodes[static_cast<std::size_t>(e)];
        if (!file.write(n.content.data(), n.content.size()) || !file.finish()) return WriteResult::WriteFailed;
        return n.unreadable ? WriteResult::ReadFailed : WriteResult::Written;
    }
    bool readContent(EntryId e, std::vector<std::uint8_t>& out, std::size_t limit) override {
        const std::string& c = nodes[static_cast<std::size_t>(e)].content;
        out.assign(c.begin(), c.begin() + static_cast<std::ptrdiff_t>(std::min(limit, c.size())));
        return true;
    }
    void rename(EntryId e, const std::string& n) override { nodes[static_cast<std::size_t>(e)].name = n; }

    std::vector<Node> nodes;
};

}  // namespace ondrel::test
