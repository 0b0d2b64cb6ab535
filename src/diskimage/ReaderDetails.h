#pragma once
// What a reader says of its container, so the front ends can show it without
// knowing any reader: the format and version, the geometry it records, and
// further facts (block size, snapshots, log entries replayed) as labelled lines.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ondrel {

struct ReaderDetails {
    std::string version;  // "File Format Version:" ("" when the format has none)
    std::string sectorsPerTrack = "N/A", heads = "N/A", cylinders = "N/A";
    // "MAXIMUM TABLE ENTRIES" of a dynamic VHD, which the user may correct.
    std::optional<std::uint32_t> maxTableEntries;
    bool device = false;
    // Label and value, in the order shown ("Block size:", "4096 bytes").
    std::vector<std::pair<std::string, std::string>> facts;

    void add(std::string label, std::string value) { facts.emplace_back(std::move(label), std::move(value)); }
};

}  // namespace ondrel
