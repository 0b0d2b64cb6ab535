#pragma once
// The signature scanner: reads a volume or the whole disk sector by sector and
// finds files by their start signatures. A find whose extension has a
// structure check ends where its structure says (or is dropped as a false
// hit, or kept as truncated); the others end at their end signature
// (searched at every byte after the start), their size field, or their cap.
#include "carving/SignatureRecord.h"
#include "carving/UnreadableLog.h"
#include "carving/structure/StructureCheck.h"
#include "common/ScanObserver.h"
#include "common/WorkControl.h"
#include "diskimage/ByteSource.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace ondrel {

// One loaded definition, in the scanner's terms.
struct SignatureEntry {
    std::string extension;  // UTF-8
    std::string category;   // UTF-8; "Others" when the record names none
    std::vector<std::uint8_t> start, end;
    std::uint16_t startOffset = 0;
    std::int32_t sizeOffset = -1, sizeBytes = 0, headerSize = 0;
    bool sizeIncludesHeader = false;
    std::int64_t approximateSize = 0, sizeToSkip = 0;
    StructureCheck check = nullptr;  // by the extension; null: the definition's own rules

    bool hasSizeField() const {
        // In 64 bits: an offset near INT32_MAX must not wrap round into the sector.
        return end.empty() && sizeOffset >= 0 && sizeBytes > 0 && sizeBytes <= 8 &&
               static_cast<std::int64_t>(sizeOffset) + sizeBytes <= 512;
    }
    static SignatureEntry from(const SignatureRecord& r);
};

// How a find was closed: its structure ended it, it is only part of a file
// (its structure broke, or the source ended), or the definition's rules did.
enum class CarveEnd { EndSignature, SizeField, Cap, NoEnd, Structure, Truncated };
// "end signature", "size field", "cap", "no end", "structure", "truncated"
const char* carveEndText(CarveEnd how);

struct CarvedFile {
    std::int64_t offset = 0;  // in the source scanned
    std::int64_t size = 0;
    std::size_t entry = 0;    // into signatures()
    CarveEnd how = CarveEnd::EndSignature;
    const char* extension = nullptr;  // what the structure showed, when the entry's does not say it
    bool unreadable = false;          // some of its bytes could not be read
};

class myJpg {
public:
    // A file with no end that no cap bounds is closed at this size.
    static constexpr std::int64_t kDefaultCap = 64ll << 20;

    void addSignatures(const std::vector<SignatureRecord>& records);
    // Loads a settings file after the definitions already there; false with its message.
    bool loadSettings(const std::string& path, std::string& message);
    const std::vector<SignatureEntry>& signatures() const { return entries_; }

    // Prepares the matching; false when there is nothing to look for.
    bool buildMatchTable();
    // Scans size bytes from begin (reader offsets), replacing the finds of an
    // earlier scan. A stop keeps what was found; still-open finds are closed
    // where the scan ended.
    bool scan(const ByteSource& reader, std::int64_t begin, std::int64_t size, ScanObserver& observer,
              WorkControl& control);
    // Called on the scanning thread with each find as it is made (sizes of
    // truncated finds may shrink later, when the next find starts inside them).
    void onFind(std::function<void(const CarvedFile&)> listener) { listener_ = std::move(listener); }
    // The stretches the last scan could not read (reader offsets).
    const std::vector<UnreadableLog::Stretch>& unreadable() const { return unreadable_; }
    // Where the source scanned starts on the disk: finds are named and listed
    // by their place on the disk.
    void setDiskOffset(std::int64_t offset) { diskOffset_ = offset; }
    std::int64_t diskOffset() const { return diskOffset_; }
    // Where the source's positions lie on the disk when they are not one
    // stretch from diskOffset (runs of free space): position -> disk offset.
    void setPlacement(std::function<std::int64_t(std::int64_t)> onDisk) { placement_ = std::move(onDisk); }
    std::int64_t onDisk(std::int64_t position) const { return placement_ ? placement_(position) : position + diskOffset_; }

    const std::vector<CarvedFile>& files() const { return files_; }
    // Categories in the order the definitions name them, with their counts.
    const std::vector<std::string>& categories() const { return categoryOrder_; }
    std::int64_t count(const std::string& category) const;
    // "1048576 .jpg": the find's offset on the disk and its extension.
    std::string fileName(const CarvedFile& f) const;
    std::string extension(const CarvedFile& f) const { return f.extension ? f.extension : entries_[f.entry].extension; }

private:
    struct Pending {
        bool open = false;
        std::int64_t start = 0, searchFrom = 0;
    };
    std::int64_t cap(const SignatureEntry& e) const { return e.approximateSize > 0 ? e.approximateSize : kDefaultCap; }
    void record(std::size_t entry, std::int64_t offset, std::int64_t size, CarveEnd how, const char* extension = nullptr);
    void close(std::size_t entry, std::int64_t size, CarveEnd how);
    int matchStart(const std::uint8_t* sector) const;
    // The entry a refined extension belongs to: one loaded with that
    // extension and the same check, else the entry found.
    std::size_t refined(std::size_t entry, const char* extension) const;
    // A start at a sector: the structure's verdict recorded; the bytes to
    // move on by (0: the next sector), or -1 when the check does not apply.
    std::int64_t checkStructure(std::size_t entry, const ByteSource& reader, std::int64_t at, std::int64_t end,
                                WorkControl& control);

    std::vector<SignatureEntry> entries_;
    std::vector<std::vector<std::size_t>> byFirstByte_;  // entries whose signature starts the sector with that byte
    struct General {
        std::size_t entry;
        std::size_t at;     // where in the sector the first named byte of its start lies
        std::uint8_t byte;  // and what it is
    };
    std::vector<General> general_;                      // the others (an offset, a "*" first)
    std::vector<Pending> pending_;
    std::vector<CarvedFile> files_;
    std::vector<std::string> categoryOrder_;
    std::map<std::string, std::int64_t> counts_;
    std::int64_t diskOffset_ = 0;
    std::function<std::int64_t(std::int64_t)> placement_;
    CarveCursor cursor_;
    std::size_t openCount_ = 0;  // how many of pending_ are open
    std::int64_t scanEnd_ = 0;   // where the scan's range (and the source) ends
    std::size_t truncatedOpen_ = SIZE_MAX;  // the latest truncated find: a start inside it ends it
    std::function<void(const CarvedFile&)> listener_;
    std::vector<UnreadableLog::Stretch> unreadable_;
};

}  // namespace ondrel
