#include "common/Utf16.h"

#include <algorithm>

namespace ondrel {

namespace {
void append(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

template <bool Big>
std::string utf16ToUtf8(Bytes b, std::size_t offset, std::size_t chars, bool stopAtNul) {
    auto unit = [&](std::size_t at) -> std::uint32_t { return Big ? be16(b, at) : le16(b, at); };
    std::string out;
    // A count from the image is bounded by the bytes that are there.
    std::size_t available = offset < b.size() ? (b.size() - offset) / 2 : 0;
    chars = std::min(chars, available);
    out.reserve(chars);
    for (std::size_t i = 0; i < chars; ++i) {
        std::size_t at = offset + i * 2;
        if (at + 1 >= b.size()) break;
        std::uint32_t c = unit(at);
        if (c == 0 && stopAtNul) break;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < chars && at + 3 < b.size()) {
            std::uint32_t low = unit(at + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                c = 0xFFFD;
            }
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        append(out, c);
    }
    return out;
}
}  // namespace

std::string utf16leToUtf8(Bytes b, std::size_t offset, std::size_t chars, bool stopAtNul) {
    return utf16ToUtf8<false>(b, offset, chars, stopAtNul);
}

std::string utf16beToUtf8(Bytes b, std::size_t offset, std::size_t chars) {
    return utf16ToUtf8<true>(b, offset, chars, false);
}

}  // namespace ondrel
