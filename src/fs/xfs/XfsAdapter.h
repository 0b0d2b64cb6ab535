#pragma once
// An XFS volume as the results layer browses, saves and searches it.
#include "fs/FileSystemAdapter.h"
#include "fs/xfs/XfsVolume.h"

#include <memory>

namespace ondrel {

class XfsAdapter : public FileSystemAdapter {
public:
    XfsAdapter(const ByteSource& reader, const VolumeRecord& volume);

    FileSystemKind kind() const override { return FileSystemKind::Xfs; }
    std::string fileSystemName() const override { return "XFS"; }
    bool scan(RecoveryMode mode, ScanObserver& observer, WorkControl& control, std::string& failure) override;
    // The advanced mode reads the log: one candidate, taken without asking.
    AdvancedSearch findCandidates(int maxCount, ScanObserver& observer, WorkControl& control) override;
    bool chooseCandidate(const AdvancedChoice& choice, std::string& failure) override;
    // The blocks the groups' free-space trees list.
    bool freeSpace(std::vector<ByteRun>& runs, ScanObserver& observer, WorkControl& control, std::string& message) override {
        observer.status("Reading the free-space trees....");
        const bool ok = volume_->freeSpace(runs, control, message);
        for (const std::string& line : volume_->damage()) observer.message(line);
        return ok;
    }

    EntryId rootEntry() const override { return volume_->records().empty() ? kNoEntry : 0; }
    std::vector<EntryId> children(EntryId folder) const override;
    bool isFolder(EntryId entry) const override;
    bool isLink(EntryId entry) const override;
    bool hasChildren(EntryId entry) const override;
    bool isDeleted(EntryId entry) const override;
    std::string name(EntryId entry) const override;
    std::uint64_t size(EntryId entry) const override;
    DisplayTexts displayTexts(EntryId entry) const override;
    std::string attributeText(EntryId entry) const override;
    EntryTimes times(EntryId entry) const override;
    std::string writeFailureText(EntryId entry, WriteResult result) const override;

    WriteResult writeInto(EntryId entry, OutputFile& file) override;
    bool readContent(EntryId entry, std::vector<std::uint8_t>& out, std::size_t limit) override;
    void rename(EntryId entry, const std::string& newName) override { volume_->rename(entry, newName); }
    std::vector<std::string> damage() const override { return volume_->damage(); }

    const XfsVolume& volume() const { return *volume_; }

private:
    const XfsRecord* record(EntryId id) const;

    std::unique_ptr<XfsVolume> volume_;
};

}  // namespace ondrel
