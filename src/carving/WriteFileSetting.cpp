// Build step: writes the default "FileSetting.txt" to each path given.
#include "carving/DefaultSignatures.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(argv[i]).parent_path(), ec);
        if (!ondrel::writeDefaultSettings(argv[i])) {
            std::fprintf(stderr, "cannot write %s\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
