#include "fs/FileSystemAdapter.h"

#include "fs/DataSink.h"
#include "fs/DisplayFormat.h"

namespace ondrel {

WriteResult FileSystemAdapter::writeFile(EntryId entry, const std::string& hostPath) {
    OutputFile file;
    if (!file.create(hostPath)) return WriteResult::CreateFailed;
    WriteResult r = writeInto(entry, file);
    if (r == WriteResult::NotAFile || r == WriteResult::NoData || r == WriteResult::CreateFailed) {
        file.close();
        removeCreatedFile(hostPath);
    }
    return r;
}

WriteResult FileSystemAdapter::writeThrough(EntryId entry, OutputFile& file,
                                            const std::function<WriteResult(DataSink&)>& extract) const {
    FileSink sink(file);
    WriteResult result = extract(sink);
    EntryTimes t = times(entry);
    if (!file.finish(t.accessInstant, t.modifiedInstant)) return WriteResult::WriteFailed;
    return result;
}

void FileSystemAdapter::readThrough(std::vector<std::uint8_t>& out, std::size_t limit,
                                    const std::function<WriteResult(DataSink&)>& extract) {
    out.clear();
    MemorySink sink(out, limit);
    extract(sink);
}

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
