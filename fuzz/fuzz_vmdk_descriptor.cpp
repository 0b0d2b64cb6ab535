// The text descriptor of a VMDK image.
#include "diskimage/VmdkDescriptor.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)ondrel::looksLikeVmdkDescriptor(text);
    (void)ondrel::parseVmdkDescriptor(text);
    return 0;
}
