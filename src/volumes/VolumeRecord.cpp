#include "volumes/VolumeRecord.h"

#include <cctype>
#include <limits>

namespace ondrel {

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
