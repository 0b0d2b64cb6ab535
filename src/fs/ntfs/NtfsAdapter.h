#pragma once
// The NTFS parser as the results layer browses, saves and searches it.
#include "fs/ntfs/ntfs.h"
#include "fs/FileSystemAdapter.h"

#include <memory>

namespace ondrel {

class NtfsAdapter : public FileSystemAdapter {
public:
    NtfsAdapter(const ByteSource& reader, const VolumeRecord& volume);

    FileSystemKind kind() const override { return FileSystemKind::Ntfs; }
    std::string fileSystemName() const override { return "NTFS"; }
    bool scan(RecoveryMode mode, ScanObserver& observer, WorkControl& control, std::string& failure) override;
    // Copies of the MFT's own record; the choice the advanced scan then reads the MFT along.
    AdvancedSearch findCandidates(int maxCount, ScanObserver& observer, WorkControl& control) override;
    bool chooseCandidate(const AdvancedChoice& choice, std::string& failure) override;
    // The clusters $Bitmap marks free.
    bool freeSpace(std::vector<ByteRun>& runs, ScanObserver& observer, WorkControl& control,
                   std::string& message) override {
        return parser_->freeSpace(runs, observer, control, message);
    }

    EntryId rootEntry() const override;
    std::vector<EntryId> children(EntryId folder) const override;
    bool isFolder(EntryId entry) const override;
    bool hasChildren(EntryId entry) const override;
    bool isDeleted(EntryId entry) const override;
    std::string name(EntryId entry) const override;
    std::uint64_t size(EntryId entry) const override;
    DisplayTexts displayTexts(EntryId entry) const override;
    EntryTimes times(EntryId entry) const override;

    bool countedButSkipped(EntryId entry) const override { return name(entry) == "$BadClus"; }
    bool descendInto(EntryId entry) const override { return name(entry) != "."; }
    bool capitalisedSaveQuestion() const override { return true; }
    std::string saveSizeText(EntryId entry) const override { return sizeText(entry); }
    std::string writeFailureText(EntryId entry, WriteResult result) const override;

    WriteResult writeInto(EntryId entry, OutputFile& file) override;
    bool readContent(EntryId entry, std::vector<std::uint8_t>& out, std::size_t limit) override;
    void rename(EntryId entry, const std::string& newName) override;
    bool namesRecycleBin(RecoveryMode) const override { return true; }
    std::vector<std::string> damage() const override { return parser_->damage(); }

    const ntfs& parser() const { return *parser_; }

private:
    const NtfsEntry* entry(EntryId id) const;

    std::unique_ptr<ntfs> parser_;
    int mftChoice_ = 0;
    int sectorsPerCluster_ = 0;
};

}  // namespace ondrel
