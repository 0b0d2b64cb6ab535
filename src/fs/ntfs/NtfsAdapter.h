#pragma once
// The NTFS parser as the results layer browses, saves and searches it.
#include "fs/ntfs/ntfs.h"
#include "results/FileSystemAdapter.h"

#include <memory>

namespace ondrel {

class NtfsAdapter : public FileSystemAdapter {
public:
    NtfsAdapter(readWriteInterface& reader, const VolumeRecord& volume);

    std::string fileSystemName() const override { return "NTFS"; }
    bool scan(int mode, ScanObserver& observer, WorkControl& control, std::string& failure) override;

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

    WriteResult writeFile(EntryId entry, const std::string& hostPath) override;
    bool readContent(EntryId entry, std::vector<std::uint8_t>& out, std::size_t limit) override;
    void rename(EntryId entry, const std::string& newName) override;
    bool namesRecycleBin(int) const override { return true; }

    // Advanced mode: the copies of the MFT's own record found on the volume,
    // and the choice the scan then uses.
    int findMftRecords(int maxCount, ScanObserver& observer, WorkControl& control);
    const std::vector<NtfsEntry>& foundMft() const { return parser_->foundMft; }
    void chooseMft(int choice, int sectorsPerCluster) {
        mftChoice_ = choice;
        sectorsPerCluster_ = sectorsPerCluster;
    }

    ntfs& parser() { return *parser_; }
    const ntfs& parser() const { return *parser_; }

private:
    const NtfsEntry* entry(EntryId id) const;

    std::unique_ptr<ntfs> parser_;
    int mftChoice_ = 0;
    int sectorsPerCluster_ = 0;
};

}  // namespace ondrel
