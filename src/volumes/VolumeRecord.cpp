#include "volumes/VolumeRecord.h"

#include <cctype>
#include <limits>

namespace ondrel {

bool isUnknownFileSystem(const VolumeRecord& record) {
    std::string folded;
    for (char c : record.fileSystem)
        if (c != ' ') folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded == "unknown";
}

std::int64_t sizeMegabytes(const std::string& sizeText) {
    std::size_t i = 0;
    while (i < sizeText.size() && sizeText[i] == ' ') ++i;
    std::int64_t value = 0;
    for (; i < sizeText.size() && std::isdigit(static_cast<unsigned char>(sizeText[i])); ++i) {
        if (value > (std::numeric_limits<std::int64_t>::max() - 9) / 10) break;
        value = value * 10 + (sizeText[i] - '0');
    }
    return value;
}

}  // namespace ondrel
