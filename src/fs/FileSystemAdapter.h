#pragma once
// One recovered volume as the results layer and the front ends see it, whatever
// its file system. Entries are identified by the parser's own record index.
#include "common/ScanObserver.h"
#include "common/WorkControl.h"
#include "fs/FileSystemKind.h"
#include "platform/FileTimes.h"
#include "platform/OutputFile.h"
#include "volumes/ByteRuns.h"

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

// One list of places the advanced mode's search found, of which one is chosen.
struct CandidateList {
    std::string id;     // the command line's option for the choice: --mft-entry, --fat-entry, --heap-entry
    std::string kind;   // "MFT", "FAT32", "FAT", "FAT64", "HeapOffset", "JOURNAL": "Number of %s-ENTRY found"
    std::string label;  // the advanced page's label for the list ("" the page's own)
    std::vector<AdvancedCandidate> items;
};

// A number chosen among the values the search offers (the cluster size).
struct ParameterChoice {
    std::string id;           // "sectors-per-cluster"
    std::vector<int> values;  // in the order offered, the likeliest first
    bool shifts = false;      // the values are powers of two: value v stands for 2^v sectors
    int fromBootSector = 0;   // the boot sector's own value while it is still readable (0: none)
    // The sectors per cluster that value stands for (-1 when it stands for none).
    int sectorsFor(int value) const { return shifts ? (value >= 0 && value < 31 ? 1 << value : -1) : value; }
};

// What the advanced mode's search found: lists to choose from and parameters
// to set, which the front ends render without knowing the file system.
struct AdvancedSearch {
    std::vector<CandidateList> lists;  // the first is what the search looked for
    std::vector<ParameterChoice> parameters;
    std::string message;     // the notice when the search ends
    std::string doneStatus;  // the status line after it
    // One candidate and nothing to choose (the ext journal): the command line takes it.
    bool chooseWithoutAsking = false;

    const CandidateList* list(const std::string& id) const {
        for (const CandidateList& l : lists)
            if (l.id == id) return &l;
        return nullptr;
    }
};

// What the user chose: an index into each list and a value for each
// parameter, in the order the search gave them.
struct AdvancedChoice {
    std::vector<int> picks;
    std::vector<int> values;  // sectors per cluster as a count; 0 or less: the file system's default

    int pick(std::size_t list) const { return list < picks.size() ? picks[list] : 0; }
    int value(std::size_t parameter) const { return parameter < values.size() ? values[parameter] : 0; }
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

    // The volume's free space as the file system's allocation map marks it:
    // the byte runs of the clusters (blocks) no live file or structure uses,
    // sorted, merged and inside the volume. Callable on an adapter just
    // created, before scan(). False with a message when the file system keeps
    // no such map or it cannot be read; carving then cannot be limited to it.
    virtual bool freeSpace(std::vector<ByteRun>& runs, ScanObserver& observer, WorkControl& control,
                           std::string& message) {
        (void)runs, (void)observer, (void)control;
        message = "this file system's free space is not known";
        return false;
    }

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
