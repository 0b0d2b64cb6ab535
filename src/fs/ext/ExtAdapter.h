#pragma once
// An ext2/3/4 volume as the results layer browses, saves and searches it.
#include "fs/FileSystemAdapter.h"
#include "fs/ext/ext2Class.h"

#include <memory>

namespace ondrel {

class ExtAdapter : public FileSystemAdapter {
public:
    ExtAdapter(const ByteSource& reader, const VolumeRecord& volume);

    FileSystemKind kind() const override { return FileSystemKind::Ext; }
    std::string fileSystemName() const override { return "ext"; }
    bool scan(RecoveryMode mode, ScanObserver& observer, WorkControl& control, std::string& failure) override;
    // The journal mode has one candidate, the journal.
    AdvancedSearch findCandidates(int maxCount, ScanObserver& observer, WorkControl& control) override;
    bool chooseCandidate(const AdvancedChoice& choice, std::string& failure) override;
    // The blocks the groups' block bitmaps mark free.
    bool freeSpace(std::vector<ByteRun>& runs, ScanObserver& observer, WorkControl& control,
                   std::string& message) override {
        return parser_->freeSpace(runs, observer, control, message);
    }

    EntryId rootEntry() const override { return parser_->records().empty() ? kNoEntry : 0; }
    std::vector<EntryId> children(EntryId folder) const override;
    bool isFolder(EntryId entry) const override;
    bool isLink(EntryId entry) const override;
    // Device nodes, pipes and sockets: counted, and no data to save.
    bool countedButSkipped(EntryId entry) const override;
    bool hasChildren(EntryId entry) const override;
    bool isDeleted(EntryId entry) const override;
    std::string name(EntryId entry) const override;
    std::uint64_t size(EntryId entry) const override;
    DisplayTexts displayTexts(EntryId entry) const override;
    std::string attributeText(EntryId entry) const override;
    EntryTimes times(EntryId entry) const override;

    WriteResult writeInto(EntryId entry, OutputFile& file) override;
    bool readContent(EntryId entry, std::vector<std::uint8_t>& out, std::size_t limit) override;
    void rename(EntryId entry, const std::string& newName) override;
    std::vector<std::string> damage() const override { return parser_->damage(); }

    const ext2Class& parser() const { return *parser_; }

private:
    const ExtInodeRecord* record(EntryId id) const;

    std::unique_ptr<ext2Class> parser_;
};

}  // namespace ondrel
