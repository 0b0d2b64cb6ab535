#pragma once
// The text descriptor of a VMDK image: version, content IDs, create type,
// parent, extents and the geometry from its disk database.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ondrel {

struct VmdkExtent {
    std::uint64_t sizeSectors = 0;
    std::string access;    // RW, RDONLY, NOACCESS
    std::string type;      // SPARSE, FLAT, ZERO, VMFS, ...
    std::string fileName;  // without its quotes
    std::uint64_t offsetSectors = 0;  // where a FLAT extent starts in its file
};

struct VmdkDescriptorInfo {
    std::string version;
    std::string CID;
    std::string cylinders;
    std::string heads;
    std::string sectors;
    std::string parentCID;
    std::string parentFileNameHint;
    std::string createType;
    std::vector<VmdkExtent> extents;
    bool tooManyExtents = false;  // lines past kMaxVmdkExtents were dropped
};

// More extent lines than any real disk has (a 64 TiB disk in 2 GiB pieces is 32768).
inline constexpr std::size_t kMaxVmdkExtents = 40000;

// Parses a descriptor; nullopt when it has no createType="...".
std::optional<VmdkDescriptorInfo> parseVmdkDescriptor(std::string_view text);

// True when the text starts like a stand-alone descriptor file.
bool looksLikeVmdkDescriptor(std::string_view text);

// A content ID as a number; nullopt when it is not hexadecimal.
std::optional<std::uint32_t> vmdkContentId(std::string_view text);

}  // namespace ondrel
