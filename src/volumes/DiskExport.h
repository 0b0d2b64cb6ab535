#pragma once
// Writes a whole source (the virtual disk as its reader presents it, or one
// volume) into a plain image file: unallocated blocks of a container come out
// as zeros, and so do the stretches that cannot be read, which are counted and
// reported while the copy goes on to the last byte.
#include "common/ScanObserver.h"
#include "common/WorkControl.h"
#include "diskimage/ByteSource.h"

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
    // Bytes that could not be read and were written as zeros (the image is
    // complete but not whole); the reader's damage log says where and why.
    std::int64_t unreadableBytes = 0;
};

class DiskExport {
public:
    DiskExport(const ByteSource& source, ScanObserver& observer, WorkControl& control)
        : reader_(source), observer_(observer), control_(control) {}

    ExportOutcome run(const std::string& outputPath);

private:
    const ByteSource& reader_;
    ScanObserver& observer_;
    WorkControl& control_;
};

}  // namespace ondrel
