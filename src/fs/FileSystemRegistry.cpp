#include "fs/FileSystemRegistry.h"

#include <algorithm>
#include <cctype>

namespace ondrel {

// One line per file system; each entry is defined in the file system's own folder.
const FileSystemEntry& extFileSystem();
const FileSystemEntry& exfatFileSystem();
const FileSystemEntry& fat32FileSystem();
const FileSystemEntry& fat16FileSystem();
const FileSystemEntry& ntfsFileSystem();
const FileSystemEntry& hfsPlusFileSystem();
const FileSystemEntry& xfsFileSystem();

namespace {
std::string folded(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    std::string out;
    for (char c : s) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}
}  // namespace

const std::vector<const FileSystemEntry*>& fileSystems() {
    static const std::vector<const FileSystemEntry*> all{&extFileSystem(),  &exfatFileSystem(), &fat32FileSystem(),
                                                         &fat16FileSystem(), &ntfsFileSystem(), &hfsPlusFileSystem(),
                                                         &xfsFileSystem()};
    return all;
}

const FileSystemEntry& fileSystem(FileSystemKind kind) {
    for (const FileSystemEntry* e : fileSystems())
        if (e->kind == kind) return *e;
    return *fileSystems().front();  // every kind has an entry
}

const FileSystemEntry* findFileSystem(std::string_view name) {
    std::string want = folded(name);
    if (want.empty()) return nullptr;
    for (const FileSystemEntry* e : fileSystems()) {
        if (folded(e->listName) == want || folded(e->treatAsItem) == want || folded(e->treatAsName) == want ||
            folded(e->cliName) == want)
            return e;
        for (const auto& alias : e->aliases)
            if (folded(alias) == want) return e;
    }
    return nullptr;
}

std::unique_ptr<FileSystemAdapter> createAdapter(const ByteSource& source, const VolumeRecord& volume) {
    const FileSystemEntry* e = findFileSystem(volume.fileSystem);
    if (!e || !e->create) return nullptr;
    return e->create(source, volume);
}

std::unique_ptr<FileSystemAdapter> createAdapter(const VolumeRecord& volume) {
    if (!volume.source) return nullptr;
    return createAdapter(*volume.source, volume);
}

std::vector<FileSystemProbe> fileSystemProbes() {
    std::vector<FileSystemProbe> out;
    for (const FileSystemEntry* e : fileSystems()) out.insert(out.end(), e->probes.begin(), e->probes.end());
    std::stable_sort(out.begin(), out.end(), [](const FileSystemProbe& a, const FileSystemProbe& b) {
        return a.at != b.at ? a.at < b.at : a.precedence < b.precedence;
    });
    return out;
}

}  // namespace ondrel
