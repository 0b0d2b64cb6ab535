#include "platform/SafeNames.h"

#include <cerrno>
#include <sys/stat.h>

namespace ondrel {

std::string sanitizeName(const std::string& raw) {
    std::string name;
    name.reserve(raw.size());
    for (char c : raw) name += (c == '/' || c == '\\' || c == '\0') ? '_' : c;
    // Trim white space at both ends, as names are saved.
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!name.empty() && isSpace(name.back())) name.pop_back();
    std::size_t lead = 0;
    while (lead < name.size() && isSpace(name[lead])) ++lead;
    name.erase(0, lead);
    if (name.empty()) return "_";
    if (name == "." || name == "..") return "_" + name;
    if (name.size() > 255) name.resize(255);  // one component of most host file systems
    return name;
}

bool makeFolder(const std::string& path) {
    if (path.empty()) return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) makeFolder(path.substr(0, slash));
    return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string UniqueNames::claim(const std::string& folder, const std::string& name) {
    std::string candidate = name;
    auto dot = name.find_last_of('.');
    std::string stem = (dot == std::string::npos || dot == 0) ? name : name.substr(0, dot);
    std::string ext = (dot == std::string::npos || dot == 0) ? std::string() : name.substr(dot);
    for (int n = 1; !taken_.insert(joinPath(folder, candidate)).second; ++n)
        candidate = stem + " (" + std::to_string(n) + ")" + ext;
    return candidate;
}

}  // namespace ondrel
