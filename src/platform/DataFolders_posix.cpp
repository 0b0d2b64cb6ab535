#include "platform/DataFolders.h"

#include "platform/ExecutablePath.h"

#include <cstdlib>
#include <filesystem>

namespace ondrel {

namespace {
// Relative values are to be ignored, as if unset.
std::string absoluteVariable(const char* name) {
    const char* v = std::getenv(name);
    return v && v[0] == '/' ? std::string(v) : std::string();
}
}  // namespace

std::string userDataFolder() {
    if (std::string home = absoluteVariable("XDG_DATA_HOME"); !home.empty()) return home + "/ondrel";
    if (std::string home = absoluteVariable("HOME"); !home.empty()) return home + "/.local/share/ondrel";
    return {};
}

std::vector<std::string> systemDataFolders() {
    const char* v = std::getenv("XDG_DATA_DIRS");
    const std::string dirs = v && *v ? v : "/usr/local/share:/usr/share";
    std::vector<std::string> out;
    for (std::size_t at = 0; at <= dirs.size();) {
        std::size_t end = dirs.find(':', at);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = dirs.substr(at, end - at);
        if (!dir.empty() && dir[0] == '/') out.push_back(dir + "/ondrel");
        at = end + 1;
    }
    return out;
}

std::string installDataFolder() {
    const std::string bin = executableFolder();
    if (bin.empty()) return {};
    return (std::filesystem::path(bin).parent_path() / "share" / "ondrel").string();
}

}  // namespace ondrel
