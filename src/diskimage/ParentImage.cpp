#include "diskimage/ParentImage.h"

#include "diskimage/readWriteInterface.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace ondrel {

namespace {
bool exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::path(path), ec) && !ec;
}

std::string portable(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    while (name.rfind("./", 0) == 0) name.erase(0, 2);
    return name;
}

bool isAbsolute(const std::string& name) { return !name.empty() && name[0] == '/'; }

bool within(const std::string& path, const std::string& folder) {
    if (folder.empty()) return false;
    if (folder == "/") return true;
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

// Only files and block devices hold disks; anything else (a FIFO, a terminal,
// a folder) is never opened as one.
bool holdsData(const std::string& path) {
    std::error_code ec;
    auto st = std::filesystem::status(path, ec);
    return !ec && (std::filesystem::is_regular_file(st) || std::filesystem::is_block_file(st));
}

// Where the names may point: the folder of the child as named and as resolved.
std::vector<std::string> allowedFolders(const std::string& childPath) {
    std::vector<std::string> out{resolvedPath(folderOfPath(childPath))};
    std::string real = folderOfPath(resolvedPath(childPath));
    if (real != out.front()) out.push_back(real);
    return out;
}
}  // namespace

std::string folderOfPath(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string resolvedPath(const std::string& path) {
    std::error_code ec;
    auto p = std::filesystem::weakly_canonical(std::filesystem::absolute(std::filesystem::path(path), ec), ec);
    return ec ? path : p.string();
}

ResolvedReference resolveReference(const std::string& childPath, const std::vector<std::string>& names,
                                   const OpenOptions& options, const std::string& what) {
    ResolvedReference out;
    std::string folder = folderOfPath(childPath);
    std::vector<std::string> folders = allowedFolders(childPath);
    std::vector<std::string> allowed;
    for (const std::string& a : options.allowedReferences) allowed.push_back(resolvedPath(a));
    std::string lookedFor, refusedRule;
    for (const std::string& raw : names) {
        std::string name = portable(raw);
        if (name.empty()) continue;
        std::vector<std::string> tries;
        bool drivePath = name.size() >= 2 && name[1] == ':';
        if (isAbsolute(name)) tries.push_back(name);
        else if (!drivePath) tries.push_back(folder + "/" + name);
        auto slash = name.find_last_of('/');
        std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
        if (drivePath && slash == std::string::npos) last = name.substr(2);
        if (!last.empty() && last != "." && last != "..") tries.push_back(folder + "/" + last);
        if (lookedFor.empty() && !tries.empty()) lookedFor = tries.front();
        for (const std::string& t : tries) {
            if (!exists(t)) continue;
            std::string real = resolvedPath(t);
            bool inside = std::any_of(folders.begin(), folders.end(), [&](const std::string& f) { return within(real, f); });
            bool permitted = std::find(allowed.begin(), allowed.end(), real) != allowed.end();
            if (!inside && !permitted) {
                if (out.refused.empty()) {
                    out.refused = real;
                    refusedRule = "The " + what + " \"" + raw + "\" named by " + childPath + " is " + real +
                                  ", outside the folder of the image (" + folders.front() +
                                  "); only files beside the image or in folders below it are opened unless you allow "
                                  "that file.";
                }
                continue;
            }
            if (!holdsData(real)) {
                if (out.refused.empty()) {
                    out.refused = real;
                    refusedRule = "The " + what + " \"" + raw + "\" named by " + childPath + " is " + real +
                                  ", which is neither a regular file nor a block device; it is not opened.";
                }
                continue;
            }
            out.path = t;
            out.refused.clear();
            return out;
        }
    }
    std::string named = names.empty() ? std::string() : names.front();
    out.message = !refusedRule.empty() ? refusedRule
                                       : "The " + what + " \"" + named + "\" named by " + childPath +
                                             " cannot be found (looked for " + (lookedFor.empty() ? named : lookedFor) +
                                             ").";
    return out;
}

OpenedImage openParentImage(const std::string& childPath, const std::vector<std::string>& names,
                            std::optional<ImageKind> kind, const OpenOptions& options) {
    OpenedImage out;
    ResolvedReference ref = resolveReference(childPath, names, options, "parent image");
    if (ref.path.empty()) {
        out.message = ref.message;
        out.refusedReference = ref.refused;
        return out;
    }
    std::vector<std::string> chain = options.chain;
    if (chain.empty()) chain.push_back(resolvedPath(childPath));
    std::string key = resolvedPath(ref.path);
    if (std::find(chain.begin(), chain.end(), key) != chain.end()) {
        out.message = "The image chain loops: " + childPath + " names " + ref.path + " as its parent, which is already in the chain.";
        return out;
    }
    if (static_cast<int>(chain.size()) > kMaxChainDepth) {
        out.message = "The image chain is longer than " + std::to_string(kMaxChainDepth) + " files; " + ref.path +
                      " is not opened.";
        return out;
    }
    if (!options.factory) {
        out.message = "The parent image " + ref.path + " cannot be opened here.";
        return out;
    }
    // The parent is read as it is: the user's corrections were for the child.
    OpenOptions parent;
    parent.factory = options.factory;
    parent.allowedReferences = options.allowedReferences;
    parent.chain = std::move(chain);
    parent.chain.push_back(key);
    out = options.factory->open(ref.path, kind, parent);
    if (!out.reader) out.message = "The parent image " + ref.path + " cannot be read: " + out.message;
    return out;
}

}  // namespace ondrel
