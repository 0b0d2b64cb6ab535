#pragma once
// A GUID as VHDX and VDI store it: the first three fields little-endian, the
// last eight bytes as written, and its text form.
#include <array>
#include <cstdint>
#include <string>

namespace ondrel {

using Guid = std::array<std::uint8_t, 16>;

// "{6B29FC40-CA47-1067-B31D-00DD010662DA}", the form parent locators use.
inline std::string guidText(const Guid& g) {
    static const char* hex = "0123456789ABCDEF";
    static constexpr int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    std::string s = "{";
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) s += '-';
        s += hex[g[order[i]] >> 4];
        s += hex[g[order[i]] & 15];
    }
    return s + "}";
}

}  // namespace ondrel
