#pragma once
// Writes the whole virtual disk, as the reader presents it, into a plain image
// file: unallocated blocks of a container come out as zeros.
#include "common/ScanObserver.h"
#include "common/WorkControl.h"
#include "diskimage/readWriteInterface.h"

#include <string>

namespace ondrel {

// The output file for an image exported into folder: the image's file name with
// ".img" appended ("Recovered_diskimg.img" when the path has no folder part),
// prefixed by 1, 2, ... while that name is taken.
std::string exportOutputPath(const std::string& imagePath, const std::string& folder);

struct ExportOutcome {
    bool ok = false;        // every byte was read and written
    bool stopped = false;   // the user stopped it; the file holds what was written
    std::string message;    // what went wrong, for the user
    std::int64_t bytesWritten = 0;
};

class DiskExport {
public:
    DiskExport(readWriteInterface& reader, ScanObserver& observer, WorkControl& control)
        : reader_(reader), observer_(observer), control_(control) {}

    ExportOutcome run(const std::string& outputPath);

private:
    readWriteInterface& reader_;
    ScanObserver& observer_;
    WorkControl& control_;
};

}  // namespace ondrel
