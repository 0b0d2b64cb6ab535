#pragma once
// Names from a disk image become host file names only through here: no name
// can climb out of the chosen folder, hold a separator or a NUL, or be empty.
#include <set>
#include <string>

namespace ondrel {

// A safe single path component for a name read from an image.
std::string sanitizeName(const std::string& name);

// Creates the folder (and its parents) when missing; true when it exists afterwards.
bool makeFolder(const std::string& path);

// Joins a folder and a component with the platform's separator.
std::string joinPath(const std::string& folder, const std::string& name);

// Names already written into one output folder during one save. A second
// entry with a taken name gets " (1)", " (2)", ... before its extension.
class UniqueNames {
public:
    std::string claim(const std::string& folder, const std::string& name);

private:
    std::set<std::string> taken_;
};

}  // namespace ondrel
