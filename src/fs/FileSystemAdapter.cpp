#include "fs/FileSystemAdapter.h"

#include "fs/DisplayFormat.h"

namespace ondrel {

bool driveFormatted = false;

std::string FileSystemAdapter::sizeText(EntryId entry) const { return formatSize(size(entry)); }

std::string FileSystemAdapter::saveSizeText(EntryId entry) const {
    return std::to_string(static_cast<long>(size(entry) >> 10)) + " kb";
}

AdvancedSearch FileSystemAdapter::findCandidates(int, ScanObserver&, WorkControl&) { return {}; }

bool FileSystemAdapter::chooseCandidate(const AdvancedChoice&, std::string& failure) {
    failure = "the advanced mode of this file system is not available";
    return false;
}

}  // namespace ondrel
