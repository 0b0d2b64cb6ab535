#include "platform/SafeNames.h"

#include <cerrno>
#include <sys/stat.h>
#include <utility>

namespace ondrel {

namespace {

// Longer "extensions" are cut like the rest of the name rather than crowding out the stem.
constexpr std::size_t kMaxKeptExtension = 16;

// Bytes of s up to max that do not end inside a UTF-8 character (which has
// at most three continuation bytes).
std::size_t characterBoundary(const std::string& s, std::size_t max) {
    if (s.size() <= max) return s.size();
    std::size_t cut = max;
    for (int i = 0; i < 3 && cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80; ++i) --cut;
    return cut;
}

// Splits at the last dot; a leading dot starts a hidden name, not an extension.
std::pair<std::string, std::string> splitExtension(const std::string& name) {
    auto dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return {name, {}};
    return {name.substr(0, dot), name.substr(dot)};
}

// stem + suffix + ext within one component: the stem is cut first.
std::string fitted(std::string stem, const std::string& suffix, std::string ext) {
    if (stem.size() + suffix.size() + ext.size() <= kMaxNameBytes) return stem + suffix + ext;
    if (ext.size() > kMaxKeptExtension) {
        stem += ext;
        ext.clear();
    }
    stem.resize(characterBoundary(stem, kMaxNameBytes - suffix.size() - ext.size()));
    return stem + suffix + ext;
}

}  // namespace

std::string sanitizeName(const std::string& raw) {
    std::string name = raw.substr(0, raw.find('\0'));
    // Trim white space at both ends, as names are saved.
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!name.empty() && isSpace(name.back())) name.pop_back();
    std::size_t lead = 0;
    while (lead < name.size() && isSpace(name[lead])) ++lead;
    name.erase(0, lead);
    if (name.empty()) return "_";
    if (name == "." || name == "..") return "_" + name;
    // Control characters would garble terminals and listings of the saved files.
    for (char& c : name) {
        auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) c = '_';
    }
    auto [stem, ext] = splitExtension(name);
    return fitted(std::move(stem), "", std::move(ext));
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
    std::string key = joinPath(folder, name);
    if (taken_.insert(key).second) return name;
    auto [stem, ext] = splitExtension(name);
    int& n = lastNumber_[key];
    for (;;) {
        std::string candidate = fitted(stem, " (" + std::to_string(++n) + ")", ext);
        if (taken_.insert(joinPath(folder, candidate)).second) return candidate;
    }
}

}  // namespace ondrel
