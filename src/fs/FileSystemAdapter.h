#pragma once
// One recovered volume as the results layer and the front ends see it, whatever
// its file system. Entries are identified by the parser's own record index.
#include "common/ScanObserver.h"
#include "common/WorkControl.h"
#include "fs/FileSystemKind.h"
#include "platform/FileTimes.h"
#include "platform/OutputFile.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ondrel {

class DataSink;
using EntryId = std::int64_t;
inline constexpr EntryId kNoEntry = -1;

// The four texts of a list row besides name and size.
struct DisplayTexts {
    std::string creation, access, modification, attributes;
};

// Times as stored: UTC instants (NTFS, ext, HFS+) or local wall times (FAT).
struct EntryTimes {
    std::optional<CivilTime> created, accessed, modified;  // in the zone the file system stores
    bool utc = true;
    std::optional<UnixTime> accessInstant, modifiedInstant;  // for the saved file
};

enum class WriteResult { Written, CreateFailed, ReadFailed, WriteFailed, NotAFile, NoData };

// One place the advanced mode's search found (an MFT record, a FAT copy, a heap start).
struct AdvancedCandidate {
    std::string label;            // "MFT_ENTRY:0", "FAT32_ENTRY:1", ...
    std::int64_t byteOffset = 0;  // from the volume's start
};

// What the advanced mode's search found, and how the front ends offer it.
struct AdvancedSearch {
    std::string entryKind;                 // "MFT", "FAT32", "FAT": "Number of %s-ENTRY found"
    std::vector<AdvancedCandidate> found;
    std::vector<int> clusterChoices;       // sectors per cluster, in the order offered
    int bootSectorsPerCluster = 0;         // the boot sector's value while it is still readable
    std::string message;                   // the notice when the search ends
    std::string doneStatus;                // the status line after it
    // exFAT: the cluster heap's start is chosen as well, and cluster sizes are
    // offered as shifts (sectors per cluster = 2^shift).
    bool offersHeapChoice = false;
    std::vector<AdvancedCandidate> heapStarts;
    bool clusterChoicesAreShifts = false;
    // One candidate and nothing to choose (the ext journal): the command line takes it.
    bool chooseWithoutAsking = false;
};

// What the user chose among the candidates.
struct AdvancedChoice {
    int entry = 0;              // index into AdvancedSearch::found
    int heap = 0;               // index into AdvancedSearch::heapStarts
    int sectorsPerCluster = 0;  // a count, not a shift; 0 or less: the file system's default
};

class FileSystemAdapter {
public:
    virtual ~FileSystemAdapter() = default;

    virtual FileSystemKind kind() const = 0;
    // "NTFS", "FAT16", ...
    virtual std::string fileSystemName() const = 0;

    // Runs the file system's scan for a recovery mode. False with a message
    // (shown once, by the caller) when the volume cannot be read as this file
    // system; a stop keeps what was found and still returns true.
    virtual bool scan(RecoveryMode mode, ScanObserver& observer, WorkControl& control, std::string& failure) = 0;

    // The advanced mode: look for what a damaged boot sector no longer leads
    // to, then choose one of the candidates with a cluster size (0 or less:
    // the file system's own default). False with a message for a bad choice.
    virtual AdvancedSearch findCandidates(int maxCount, ScanObserver& observer, WorkControl& control);
    virtual bool chooseCandidate(const AdvancedChoice& choice, std::string& failure);

    // "Is Drive Formated..?" for the scans and reads that follow (the registry's
    // formattedFlag says which file systems honour it).
    virtual void setDriveFormatted(bool formatted) { (void)formatted; }

    // The root folder whose children form the top level; kNoEntry when none.
    virtual EntryId rootEntry() const = 0;
    virtual std::vector<EntryId> children(EntryId folder) const = 0;
    virtual bool isFolder(EntryId entry) const = 0;
    // A symbolic link: listed as one; saving it writes its target's text.
    virtual bool isLink(EntryId) const { return false; }
    virtual bool hasChildren(EntryId entry) const = 0;
    virtual bool isDeleted(EntryId entry) const = 0;
    virtual std::string name(EntryId entry) const = 0;
    // The name as search also matches it (HFS+: composed, for names stored decomposed).
    virtual std::string searchName(EntryId entry) const { return name(entry); }
    virtual std::uint64_t size(EntryId entry) const = 0;
    virtual std::string sizeText(EntryId entry) const;
    virtual DisplayTexts displayTexts(EntryId entry) const = 0;
    // The attribute letters of the list (displayTexts' last column) alone.
    virtual std::string attributeText(EntryId entry) const { return displayTexts(entry).attributes; }
    virtual EntryTimes times(EntryId entry) const = 0;

    // Saving: a file counted but never read (NTFS "$BadClus"), folders not
    // descended into (NTFS "."), and the question's wording.
    virtual bool countedButSkipped(EntryId) const { return false; }
    virtual bool descendInto(EntryId) const { return true; }
    virtual bool capitalisedSaveQuestion() const { return false; }
    // The size shown while an entry is saved: whole KiB and " kb" unless the
    // file system shows its list text.
    virtual std::string saveSizeText(EntryId entry) const;
    // Why an entry could not be written, in the file system's own words; empty
    // for the common wording.
    virtual std::string writeFailureText(EntryId entry, WriteResult result) const {
        (void)entry;
        (void)result;
        return {};
    }

    // Writes the entry's data into file, already created and empty, then sets
    // its times and closes it. The save walk creates the file itself, beside
    // the folder it opened without following links.
    virtual WriteResult writeInto(EntryId entry, OutputFile& file) = 0;
    // Creates hostPath (never over an existing file) and writes the entry into
    // it; a file the entry gave nothing to is removed again.
    WriteResult writeFile(EntryId entry, const std::string& hostPath);
    // Reads up to limit bytes of the entry's data into memory.
    virtual bool readContent(EntryId entry, std::vector<std::uint8_t>& out, std::size_t limit) = 0;
    // Gives an entry a new name for the rest of the session.
    virtual void rename(EntryId entry, const std::string& newName) = 0;

    // Damage the last scan read past (folders cut short, records that could not
    // be read): the results are partial; shown once after the scan.
    virtual std::vector<std::string> damage() const { return {}; }

protected:
    // The common body of writeInto: lets extract write the data into file,
    // then sets the entry's times.
    WriteResult writeThrough(EntryId entry, OutputFile& file, const std::function<WriteResult(DataSink&)>& extract) const;
    // The common body of readContent: at most limit bytes into out.
    static void readThrough(std::vector<std::uint8_t>& out, std::size_t limit,
                            const std::function<WriteResult(DataSink&)>& extract);

public:
    // Whether the recycle-bin naming step runs after a scan in this mode.
    virtual bool namesRecycleBin(RecoveryMode mode) const {
        (void)mode;
        return false;
    }
};

}  // namespace ondrel
