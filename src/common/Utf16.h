#pragma once
// UTF-16 text from disk structures (NTFS names, GPT partition names, recycle
// bin records, HFS+ names) as UTF-8. Unpaired surrogates become U+FFFD.
#include "common/Endian.h"

#include <string>

namespace ondrel {

// Up to chars code units from offset; stops early at a NUL when stopAtNul.
std::string utf16leToUtf8(Bytes b, std::size_t offset, std::size_t chars, bool stopAtNul = false);
// The same for big-endian code units (HFS+ names).
std::string utf16beToUtf8(Bytes b, std::size_t offset, std::size_t chars);

}  // namespace ondrel
