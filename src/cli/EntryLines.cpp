#include "cli/EntryLines.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace ondrel::cli {

namespace {
std::string iso(const std::optional<CivilTime>& t, bool utc) { return t ? isoText(*t, utc) : std::string(); }
}  // namespace

std::string escapeControls(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (ch == '\\') out += "\\\\";
        else if (ch == '\n') out += "\\n";
        else if (ch == '\t') out += "\\t";
        else if (ch == '\r') out += "\\r";
        else if (c < 0x20 || c == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += ch;
        }
    }
    return out;
}

void printEntry(const FileSystemAdapter& adapter, EntryId entry, const std::string& path, bool json) {
    EntryTimes t = adapter.times(entry);
    bool folder = adapter.isFolder(entry);
    const char* type = folder ? "d" : adapter.isLink(entry) ? "l" : "f";
    std::string attributes = adapter.displayTexts(entry).attributes;
    if (json) {
        nlohmann::json o{{"path", path},
                         {"type", type},
                         {"size", adapter.size(entry)},
                         {"deleted", adapter.isDeleted(entry)},
                         {"attributes", attributes}};
        auto put = [&](const char* key, const std::optional<CivilTime>& v) {
            if (v) o[key] = isoText(*v, t.utc);
            else o[key] = nullptr;
        };
        put("created", t.created);
        put("accessed", t.accessed);
        put("modified", t.modified);
        std::printf("%s\n", o.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
        return;
    }
    std::printf("%s\t%s\t%llu\t%s\t%s\t%s\t%s\t%s\n", escapeControls(path).c_str(), type,
                static_cast<unsigned long long>(adapter.size(entry)), adapter.isDeleted(entry) ? "deleted" : "live",
                iso(t.created, t.utc).c_str(), iso(t.accessed, t.utc).c_str(), iso(t.modified, t.utc).c_str(),
                escapeControls(attributes).c_str());
}

}  // namespace ondrel::cli
