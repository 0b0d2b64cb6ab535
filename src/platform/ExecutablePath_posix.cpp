#include "platform/ExecutablePath.h"

#include <filesystem>
#include <system_error>

namespace ondrel {

std::string executableFolder() {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : self.parent_path().string();
}

}  // namespace ondrel
