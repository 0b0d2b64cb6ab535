#pragma once
// The text descriptor of a VMDK image: version, content IDs, create type,
// extents and the geometry from its disk database.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ondrel {

struct VmdkExtent {
    std::uint64_t sizeSectors = 0;
    std::string access;    // RW, RDONLY, NOACCESS
    std::string type;      // SPARSE, FLAT, ZERO, ...
    std::string fileName;  // without its quotes
};

struct VmdkDescriptorInfo {
    std::string version;
    std::string CID;
    std::string cylinders;
    std::string heads;
    std::string sectors;
    std::string parentCID;
    std::string createType;
    std::vector<VmdkExtent> extents;
};

// Parses a descriptor; nullopt when it has no createType="...".
std::optional<VmdkDescriptorInfo> parseVmdkDescriptor(std::string_view text);

// True when the text starts like a stand-alone descriptor file.
bool looksLikeVmdkDescriptor(std::string_view text);

}  // namespace ondrel
