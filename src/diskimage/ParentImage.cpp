#include "diskimage/ParentImage.h"

#include "diskimage/ReaderState.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace ondrel {

namespace {
// Files being opened along the current chain, canonical, child first.
thread_local std::vector<std::string> t_chain;

std::string canonical(const std::string& path) {
    std::error_code ec;
    auto p = std::filesystem::weakly_canonical(std::filesystem::path(path), ec);
    return ec ? path : p.string();
}

bool exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::path(path), ec) && !ec;
}

std::string portable(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    while (name.rfind("./", 0) == 0) name.erase(0, 2);
    return name;
}

bool isAbsolute(const std::string& name) {
    return !name.empty() && name[0] == '/';
}

// Keeps the process-wide reader state of the child while a parent opens.
struct SavedReaderState {
    std::uint64_t size = diskSizeOverride, entries = tableEntriesOverride, sectors = g_totalSectors;
    std::int32_t kind = g_imageKind;
    SavedReaderState() { diskSizeOverride = tableEntriesOverride = 0; }
    ~SavedReaderState() {
        diskSizeOverride = size;
        tableEntriesOverride = entries;
        g_totalSectors = sectors;
        g_imageKind = kind;
    }
};
}  // namespace

std::string folderOfPath(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

OpenedImage openParentImage(const std::string& childPath, const std::vector<std::string>& names,
                            std::optional<ImageKind> kind) {
    OpenedImage out;
    std::string folder = folderOfPath(childPath);
    std::string found, lookedFor;
    for (const std::string& raw : names) {
        std::string name = portable(raw);
        if (name.empty()) continue;
        std::vector<std::string> tries;
        if (isAbsolute(name)) tries.push_back(name);
        else if (name.size() < 2 || name[1] != ':') tries.push_back(folder + "/" + name);  // not a drive path
        auto slash = name.find_last_of('/');
        std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
        if (name.size() >= 2 && name[1] == ':' && slash == std::string::npos) last = name.substr(2);
        if (!last.empty()) tries.push_back(folder + "/" + last);
        if (lookedFor.empty() && !tries.empty()) lookedFor = tries.front();
        for (const std::string& t : tries)
            if (exists(t)) {
                found = t;
                break;
            }
        if (!found.empty()) break;
    }
    std::string named = names.empty() ? std::string() : names.front();
    if (found.empty()) {
        out.message = "The parent image \"" + named + "\" named by " + childPath + " cannot be found (looked for " +
                      (lookedFor.empty() ? named : lookedFor) + ").";
        return out;
    }

    bool top = t_chain.empty();
    if (top) t_chain.push_back(canonical(childPath));
    std::string key = canonical(found);
    if (std::find(t_chain.begin(), t_chain.end(), key) != t_chain.end()) {
        out.message = "The image chain loops: " + childPath + " names " + found + " as its parent, which is already in the chain.";
    } else if (static_cast<int>(t_chain.size()) > kMaxChainDepth) {
        out.message = "The image chain is longer than " + std::to_string(kMaxChainDepth) + " files; " + found +
                      " is not opened.";
    } else {
        t_chain.push_back(key);
        {
            SavedReaderState saved;
            out = openDiskImage(found, kind);
        }
        t_chain.pop_back();
        if (!out.reader) out.message = "The parent image " + found + " cannot be read: " + out.message;
    }
    if (top) t_chain.clear();
    return out;
}

}  // namespace ondrel
