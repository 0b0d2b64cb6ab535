#pragma once
// An HFS+ or HFSX volume as the results layer browses, saves and searches it.
#include "fs/FileSystemAdapter.h"
#include "fs/hfsplus/HFSP.h"

#include <memory>

namespace ondrel {

class HfsAdapter : public FileSystemAdapter {
public:
    HfsAdapter(const ByteSource& reader, const VolumeRecord& volume);

    FileSystemKind kind() const override { return FileSystemKind::HfsPlus; }
    std::string fileSystemName() const override { return "HFS+"; }
    // Standard reads the catalog; the other modes sweep the volume for it.
    bool scan(RecoveryMode mode, ScanObserver& observer, WorkControl& control, std::string& failure) override;
    // The allocation blocks the allocation file marks free.
    bool freeSpace(std::vector<ByteRun>& runs, ScanObserver& observer, WorkControl& control,
                   std::string& message) override {
        return parser_->freeSpace(runs, observer, control, message);
    }

    EntryId rootEntry() const override { return parser_->records().empty() ? kNoEntry : 0; }
    std::vector<EntryId> children(EntryId folder) const override;
    bool isFolder(EntryId entry) const override;
    bool isLink(EntryId entry) const override;
    bool hasChildren(EntryId entry) const override;
    bool isDeleted(EntryId entry) const override;
    std::string name(EntryId entry) const override;
    std::string searchName(EntryId entry) const override;
    std::uint64_t size(EntryId entry) const override;
    DisplayTexts displayTexts(EntryId entry) const override;
    std::string attributeText(EntryId entry) const override;
    EntryTimes times(EntryId entry) const override;
    std::string writeFailureText(EntryId entry, WriteResult result) const override;

    WriteResult writeInto(EntryId entry, OutputFile& file) override;
    bool readContent(EntryId entry, std::vector<std::uint8_t>& out, std::size_t limit) override;
    void rename(EntryId entry, const std::string& newName) override { parser_->rename(entry, newName); }
    std::vector<std::string> damage() const override { return parser_->damage(); }

    const HFSP& parser() const { return *parser_; }

private:
    const HfsCatalogRecord* record(EntryId id) const;

    std::unique_ptr<HFSP> parser_;
};

}  // namespace ondrel
