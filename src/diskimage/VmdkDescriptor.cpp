#include "diskimage/VmdkDescriptor.h"

#include <charconv>

namespace ondrel {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::string unquote(std::string_view s) {
    s = trim(s);
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
    return std::string(s);
}

// Splits "key = value" or "key=value"; false when the line has no '='.
bool splitKey(std::string_view line, std::string_view& key, std::string_view& value) {
    auto eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    key = trim(line.substr(0, eq));
    value = trim(line.substr(eq + 1));
    return true;
}

std::optional<VmdkExtent> parseExtentLine(std::string_view line) {
    std::string_view rest = trim(line);
    auto word = [&rest]() {
        rest = trim(rest);
        std::size_t end = 0;
        while (end < rest.size() && rest[end] != ' ' && rest[end] != '\t') ++end;
        std::string_view w = rest.substr(0, end);
        rest.remove_prefix(end);
        return w;
    };
    VmdkExtent e;
    e.access = std::string(word());
    if (e.access != "RW" && e.access != "RDONLY" && e.access != "NOACCESS") return std::nullopt;
    std::string_view size = word();
    auto [ptr, ec] = std::from_chars(size.data(), size.data() + size.size(), e.sizeSectors);
    if (ec != std::errc() || ptr != size.data() + size.size()) return std::nullopt;
    e.type = std::string(word());
    if (e.type.empty()) return std::nullopt;
    rest = trim(rest);
    if (!rest.empty() && rest.front() == '"') {
        auto close = rest.find('"', 1);
        if (close == std::string_view::npos) return std::nullopt;
        e.fileName = std::string(rest.substr(1, close - 1));
        rest = trim(rest.substr(close + 1));
        std::string_view offset = word();
        if (!offset.empty()) {
            auto [p, err] = std::from_chars(offset.data(), offset.data() + offset.size(), e.offsetSectors);
            if (err != std::errc() || p != offset.data() + offset.size()) return std::nullopt;
        }
    }
    return e;
}

}  // namespace

std::optional<VmdkDescriptorInfo> parseVmdkDescriptor(std::string_view text) {
    VmdkDescriptorInfo info;
    bool haveCreateType = false;
    // Descriptors embedded in sparse files are padded with NULs.
    if (auto nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
    while (!text.empty()) {
        auto eol = text.find('\n');
        std::string_view line = trim(text.substr(0, eol));
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        if (line.empty() || line.front() == '#') continue;
        if (auto extent = parseExtentLine(line)) {
            if (info.extents.size() < kMaxVmdkExtents) info.extents.push_back(std::move(*extent));
            else info.tooManyExtents = true;
            continue;
        }
        std::string_view key, value;
        if (!splitKey(line, key, value)) continue;
        if (key == "version") info.version = unquote(value);
        else if (key == "CID") info.CID = unquote(value);
        else if (key == "parentCID") info.parentCID = unquote(value);
        else if (key == "parentFileNameHint") info.parentFileNameHint = unquote(value);
        else if (key == "createType" && value.size() >= 2 && value.front() == '"') {
            info.createType = unquote(value);
            haveCreateType = true;
        } else if (key == "ddb.geometry.cylinders") info.cylinders = unquote(value);
        else if (key == "ddb.geometry.heads") info.heads = unquote(value);
        else if (key == "ddb.geometry.sectors") info.sectors = unquote(value);
    }
    if (!haveCreateType) return std::nullopt;
    return info;
}

std::optional<std::uint32_t> vmdkContentId(std::string_view text) {
    text = trim(text);
    std::uint32_t id = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), id, 16);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    return id;
}

bool looksLikeVmdkDescriptor(std::string_view text) {
    return text.substr(0, 21) == "# Disk DescriptorFile" || text.find("createType=") != std::string_view::npos;
}

}  // namespace ondrel
