#pragma once
// Saving a recovered folder, depth first, into a mirror of its folder structure
// under the output folder the user chose, and saving single files.
#include "fs/FileSystemAdapter.h"
#include "platform/OutputFile.h"
#include "platform/SafeNames.h"

#include <string>
#include <vector>

namespace ondrel {

struct SaveOutcome {
    bool started = false;        // the user agreed and the walk ran
    std::int64_t counted = 0;    // files in the folder (the question's number)
    std::int64_t saved = 0;
    std::int64_t failed = 0;
    std::int64_t skipped = 0;    // counted but not read, or left out by liveOnly
    std::int64_t renamed = 0;    // files and folders saved under a safe name instead of their own
    bool stopped = false;
    std::vector<std::string> failures;  // "path: reason"
    std::string lastSaved;              // the host path of the last file written
};

class SaveWalk {
public:
    SaveWalk(FileSystemAdapter& adapter, ScanObserver& observer) : adapter_(adapter), observer_(observer) {}

    // Saves only entries that are in use.
    bool liveOnly = false;
    // Skips the Yes/No question (the command-line tool asks nothing).
    bool askFirst = true;

    // Its own stop flag: a stopped scan does not stop later saves.
    WorkControl& control() { return control_; }
    // A job's flags the walk obeys as well (Stop and Pause of a carving run).
    void obey(WorkControl& other) { also_ = &other; }

    std::int64_t countFiles(EntryId folder) const;
    SaveOutcome saveFolder(EntryId folder, const std::string& outputFolder);
    // One file into the output folder, without a question.
    SaveOutcome saveFile(EntryId file, const std::string& outputFolder);

private:
    // A host folder of the save: its path, and its names below the output folder joined by '/'.
    struct Place {
        std::string path;
        std::string at;
    };
    void walk(EntryId folder, const std::string& path, SaveOutcome& out);
    void saveOne(EntryId file, const Place& folder, SaveOutcome& out);
    void finish(const SaveOutcome& out);

    FileSystemAdapter& adapter_;
    ScanObserver& observer_;
    WorkControl control_;
    WorkControl* also_ = nullptr;
    UniqueNames names_;
    OutputFolder output_;
};

}  // namespace ondrel
