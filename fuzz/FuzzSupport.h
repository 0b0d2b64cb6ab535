#pragma once
// What the fuzz targets share: the input as a file the readers can open (a
// memory file, so nothing touches the disk), bounded reads over a disk, and a
// full scan of a file system followed by reading every entry into memory.
#include "diskimage/readWriteInterface.h"
#include "fs/FileSystemRegistry.h"
#include "results/ScanDriver.h"
#include "results/TreeWalk.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace ondrel::fuzz {

// The input bytes behind a path, for readers that open files.
class MemoryFile {
public:
    MemoryFile(const std::uint8_t* data, std::size_t size) {
        fd_ = ::memfd_create("ondrel-fuzz", 0);
        std::size_t done = 0;
        while (fd_ >= 0 && done < size) {
            ssize_t n = ::write(fd_, data + done, size - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

// Reads a bounded sample of the disk: its start, its end and sectors spread
// over it, so every mapping path of a reader runs without reading terabytes.
inline void sampleDisk(const readWriteInterface& reader) {
    std::vector<std::uint8_t> buffer(64 * 1024);
    std::uint64_t sectors = reader.sectorCount();
    reader.readAt(0, buffer.data(), buffer.size());
    if (sectors == 0) return;
    for (std::uint64_t i = 1; i <= 32; ++i) {
        std::uint64_t s = sectors / 33 * i;
        reader.readAt(static_cast<std::int64_t>(s * 512), buffer.data(), 4096);
    }
    std::uint64_t last = sectors > 128 ? sectors - 128 : 0;
    reader.readAt(static_cast<std::int64_t>(last * 512), buffer.data(), buffer.size());
}

// Scans the volume in one mode and reads every entry into memory.
inline void scanAndReadAll(const ByteSource& source, const VolumeRecord& volume, RecoveryMode mode, bool formatted) {
    auto adapter = createAdapter(source, volume);
    if (!adapter) return;
    adapter->setDriveFormatted(formatted);
    ScanObserver& quiet = silentObserver();
    ScanDriver driver(*adapter, quiet);
    if (mode == RecoveryMode::Advanced) {
        AdvancedSearch found = adapter->findCandidates(3, quiet, driver.control());
        std::string failure;
        adapter->chooseCandidate(AdvancedChoice{}, failure);
        (void)found;
    }
    if (!driver.run(mode)) return;
    EntryId root = adapter->rootEntry();
    if (root == kNoEntry) return;
    std::vector<std::uint8_t> content;
    TreeVisitor readAll;
    readAll.onEntry = [&](EntryId e, int) {
        (void)adapter->name(e);
        (void)adapter->displayTexts(e);
        (void)adapter->times(e);
        if (!adapter->isFolder(e)) adapter->readContent(e, content, 1 << 20);
        return Visit::Enter;
    };
    walkTree(*adapter, root, readAll);
}

}  // namespace ondrel::fuzz
