#pragma once
// LVM2's metadata text: sections ("name { ... }"), assignments of numbers,
// strings and arrays ("name = value"), and comments from "#". Parsed into a
// tree with bounds on depth, size and count; anything malformed is refused
// with where and why.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ondrel {

struct LvmNode {
    enum class Kind { Section, Number, String, Array };
    Kind kind = Kind::Section;
    std::string name;    // empty for array elements
    std::string text;    // a string's value
    std::int64_t number = 0;
    std::vector<LvmNode> items;  // a section's entries, an array's elements

    // The entry of a section by name; null when there is none.
    const LvmNode* child(std::string_view key) const;
    // A number or string entry's value; the fallback when it is missing or of another kind.
    std::int64_t numberOf(std::string_view key, std::int64_t fallback) const;
    std::string stringOf(std::string_view key) const;
};

// Parses text into root (a section of the top-level entries).
bool parseLvmText(std::string_view text, LvmNode& root, std::string& message);

}  // namespace ondrel
