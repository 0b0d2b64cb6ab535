#include "fs/hfsplus/HfsNames.h"

#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <vector>

namespace ondrel {

std::string composedName(const std::string& utf8) {
    bool ascii = true;
    for (unsigned char c : utf8) ascii = ascii && c < 0x80;
    if (ascii || utf8.size() > 4096) return utf8;
    UErrorCode e = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&e);
    if (U_FAILURE(e)) return utf8;
    std::vector<UChar> in(utf8.size() + 1), out(2 * utf8.size() + 8);
    std::int32_t inLength = 0;
    u_strFromUTF8(in.data(), static_cast<std::int32_t>(in.size()), &inLength, utf8.data(),
                  static_cast<std::int32_t>(utf8.size()), &e);
    if (U_FAILURE(e)) return utf8;
    std::int32_t outLength = unorm2_normalize(nfc, in.data(), inLength, out.data(), static_cast<std::int32_t>(out.size()), &e);
    if (U_FAILURE(e)) return utf8;
    std::string result(static_cast<std::size_t>(outLength) * 3 + 4, '\0');
    std::int32_t written = 0;
    u_strToUTF8(result.data(), static_cast<std::int32_t>(result.size()), &written, out.data(), outLength, &e);
    if (U_FAILURE(e)) return utf8;
    result.resize(static_cast<std::size_t>(written));
    return result;
}

}  // namespace ondrel
