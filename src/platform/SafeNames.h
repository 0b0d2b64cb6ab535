#pragma once
// Names from a disk image become host file names only through here: no name
// can climb out of the chosen folder, hold a separator, a control character or
// a NUL, be empty, or be longer than one host path component.
#include <cstddef>
#include <map>
#include <set>
#include <string>

namespace ondrel {

// One path component of most host file systems, in bytes.
inline constexpr std::size_t kMaxNameBytes = 255;

// A safe single path component for a name read from an image. The name ends
// at its first NUL; a long one is cut at a character boundary, its extension kept.
std::string sanitizeName(const std::string& name);

// Creates the folder (and its parents) when missing; true when it exists afterwards.
bool makeFolder(const std::string& path);

// Joins a folder and a component with the platform's separator.
std::string joinPath(const std::string& folder, const std::string& name);

// Names already written into one output folder during one save. A second
// entry with a taken name gets " (1)", " (2)", ... before its extension, the
// name cut shorter when the number would not fit otherwise.
class UniqueNames {
public:
    std::string claim(const std::string& folder, const std::string& name);

private:
    std::set<std::string> taken_;
    std::map<std::string, int> lastNumber_;  // so many entries of one name do not retry every number
};

}  // namespace ondrel
