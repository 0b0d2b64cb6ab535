#pragma once
// HFS+ stores names decomposed (NFD, "cafe" + U+0301); people type them composed.
#include <string>

namespace ondrel {

// The composed (NFC) form of a UTF-8 name; the name itself when it is ASCII
// or cannot be normalised.
std::string composedName(const std::string& utf8);

}  // namespace ondrel
