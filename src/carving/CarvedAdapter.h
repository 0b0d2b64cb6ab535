#pragma once
// The finds of a signature scan as the results layer shows them: the root
// "RAW RECOVERY ", one folder per category ("Pictures (12)"), the finds as
// files ("1048576 .jpg"). Writing a find copies its size bytes from its offset.
#include "carving/myJpg.h"
#include "common/IoBuffer.h"
#include "fs/FileSystemAdapter.h"

#include <memory>

namespace ondrel {

class CarvedAdapter : public FileSystemAdapter {
public:
    // The scanner has scanned through reader; offsets are the reader's.
    CarvedAdapter(const ByteSource& reader, std::shared_ptr<const myJpg> scanner);

    FileSystemKind kind() const override { return FileSystemKind::Raw; }
    std::string fileSystemName() const override { return "RAW"; }
    // The scan runs before the adapter exists.
    bool scan(RecoveryMode, ScanObserver&, WorkControl&, std::string&) override { return true; }

    EntryId rootEntry() const override { return 0; }
    std::vector<EntryId> children(EntryId folder) const override;
    bool isFolder(EntryId entry) const override { return entry >= 0 && entry <= categoryCount(); }
    bool hasChildren(EntryId entry) const override { return !children(entry).empty(); }
    bool isDeleted(EntryId) const override { return false; }
    std::string name(EntryId entry) const override;
    std::uint64_t size(EntryId entry) const override;
    DisplayTexts displayTexts(EntryId) const override { return {}; }
    EntryTimes times(EntryId) const override { return {}; }

    WriteResult writeInto(EntryId entry, OutputFile& file) override;
    bool readContent(EntryId entry, std::vector<std::uint8_t>& out, std::size_t limit) override;
    void rename(EntryId entry, const std::string& newName) override;

    // The find an entry stands for; null for the root and the categories.
    const CarvedFile* find(EntryId entry) const;
    const myJpg& scanner() const { return *scanner_; }

private:
    EntryId categoryCount() const { return static_cast<EntryId>(scanner_->categories().size()); }
    // Reads one find at a time (through buffer_).
    WriteResult extract(const CarvedFile& f, DataSink& sink);

    const ByteSource& reader_;
    std::shared_ptr<const myJpg> scanner_;
    std::vector<std::vector<EntryId>> byCategory_;
    std::map<EntryId, std::string> renamed_;
    IoBuffer buffer_;
};

}  // namespace ondrel
