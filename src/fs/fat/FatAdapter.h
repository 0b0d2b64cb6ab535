#pragma once
// A FAT16 or FAT32 volume as the results layer browses, saves and searches it.
#include "fs/fat/FatParser.h"
#include "fs/FileSystemAdapter.h"

#include <memory>

namespace ondrel {

class FatAdapter : public FileSystemAdapter {
public:
    void setDriveFormatted(bool formatted) override { parser_->setDriveFormatted(formatted); }
    FatAdapter(const ByteSource& reader, const VolumeRecord& volume, bool fat32);

    FileSystemKind kind() const override { return parser_->fat32() ? FileSystemKind::Fat32 : FileSystemKind::Fat16; }
    std::string fileSystemName() const override { return parser_->fat32() ? "FAT32" : "FAT16"; }
    bool scan(RecoveryMode mode, ScanObserver& observer, WorkControl& control, std::string& failure) override;
    // Sectors that start like a FAT; the choice the advanced scan reads chains from.
    AdvancedSearch findCandidates(int maxCount, ScanObserver& observer, WorkControl& control) override;
    bool chooseCandidate(const AdvancedChoice& choice, std::string& failure) override;
    // The clusters the first FAT marks free.
    bool freeSpace(std::vector<ByteRun>& runs, ScanObserver& observer, WorkControl& control,
                   std::string& message) override {
        return parser_->freeSpace(runs, observer, control, message);
    }

    EntryId rootEntry() const override { return parser_->records().empty() ? kNoEntry : 0; }
    std::vector<EntryId> children(EntryId folder) const override;
    bool isFolder(EntryId entry) const override;
    bool hasChildren(EntryId entry) const override;
    bool isDeleted(EntryId entry) const override;
    std::string name(EntryId entry) const override;
    std::uint64_t size(EntryId entry) const override;
    std::string sizeText(EntryId entry) const override;
    DisplayTexts displayTexts(EntryId entry) const override;
    EntryTimes times(EntryId entry) const override;

    WriteResult writeInto(EntryId entry, OutputFile& file) override;
    bool readContent(EntryId entry, std::vector<std::uint8_t>& out, std::size_t limit) override;
    void rename(EntryId entry, const std::string& newName) override;
    std::vector<std::string> damage() const override { return parser_->damage(); }
    bool namesRecycleBin(RecoveryMode mode) const override { return parser_->fat32() && mode != RecoveryMode::Deep; }

    const FatParser& parser() const { return *parser_; }

private:
    const FatEntryRecord* record(EntryId id) const;

    std::unique_ptr<FatParser> parser_;
    int fatChoice_ = 0;
    int sectorsPerCluster_ = 0;
};

}  // namespace ondrel
