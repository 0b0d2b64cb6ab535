#pragma once
// An exFAT volume as the results layer browses, saves and searches it.
#include "fs/FileSystemAdapter.h"
#include "fs/exfat/Fat64Class.h"

#include <memory>

namespace ondrel {

class ExFatAdapter : public FileSystemAdapter {
public:
    void setDriveFormatted(bool formatted) override { parser_->setDriveFormatted(formatted); }
    ExFatAdapter(const ByteSource& reader, const VolumeRecord& volume);

    FileSystemKind kind() const override { return FileSystemKind::ExFat; }
    std::string fileSystemName() const override { return "exFAT"; }
    bool scan(RecoveryMode mode, ScanObserver& observer, WorkControl& control, std::string& failure) override;
    // FAT copies and heap starts; the advanced scan reads with the chosen pair.
    AdvancedSearch findCandidates(int maxCount, ScanObserver& observer, WorkControl& control) override;
    bool chooseCandidate(const AdvancedChoice& choice, std::string& failure) override;
    // The clusters the allocation bitmap marks free.
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
    DisplayTexts displayTexts(EntryId entry) const override;
    std::string attributeText(EntryId entry) const override;
    EntryTimes times(EntryId entry) const override;

    WriteResult writeInto(EntryId entry, OutputFile& file) override;
    bool readContent(EntryId entry, std::vector<std::uint8_t>& out, std::size_t limit) override;
    void rename(EntryId entry, const std::string& newName) override;
    std::vector<std::string> damage() const override { return parser_->damage(); }
    bool namesRecycleBin(RecoveryMode mode) const override { return mode != RecoveryMode::Deep; }

    const Fat64Class& parser() const { return *parser_; }

private:
    const ExFatEntryRecord* record(EntryId id) const;

    std::unique_ptr<Fat64Class> parser_;
    AdvancedChoice choice_;
};

}  // namespace ondrel
