#include "cli/EntryLines.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace ondrel::cli {

namespace {
std::string iso(const std::optional<CivilTime>& t, bool utc) { return t ? isoText(*t, utc) : std::string(); }
}  // namespace

namespace {
bool plain(char ch) {
    auto c = static_cast<unsigned char>(ch);
    return c >= 0x20 && c != 0x7F && ch != '\\';
}

// Appends text, escaped; most names need nothing and are copied whole.
void appendEscaped(std::string& out, const std::string& text) {
    bool clean = true;
    for (char ch : text) clean = clean && plain(ch);
    if (clean) {
        out += text;
        return;
    }
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
}
}  // namespace

std::string escapeControls(const std::string& text) {
    std::string out;
    appendEscaped(out, text);
    return out;
}

std::string escapeName(const std::string& name) {
    // A name that reads as a path step is no step: "\.." is an entry named "..".
    if (name == "." || name == "..") return "\\" + name;
    std::string escaped = escapeControls(name);
    if (escaped.find('/') == std::string::npos) return escaped;
    std::string out;
    for (char ch : escaped) {
        if (ch == '/') out += '\\';
        out += ch;
    }
    return out;
}

void printEntry(const FileSystemAdapter& adapter, EntryId entry, const std::vector<std::string>& names, bool json) {
    std::string path;
    for (const std::string& n : names) path += "/" + n;
    EntryTimes t = adapter.times(entry);
    bool folder = adapter.isFolder(entry);
    const char* type = folder ? "d" : adapter.isLink(entry) ? "l" : "f";
    std::string attributes = adapter.attributeText(entry);
    if (json) {
        nlohmann::json o{{"path", path},
                         {"name", names.empty() ? std::string() : names.back()},
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
    // One write per line, built without printf: listings run to millions of lines.
    std::string line;
    line.reserve(160 + path.size());
    for (const std::string& n : names) line += "/" + escapeName(n);
    line += '\t';
    line += type;
    line += '\t';
    line += std::to_string(adapter.size(entry));
    line += adapter.isDeleted(entry) ? "\tdeleted\t" : "\tlive\t";
    line += iso(t.created, t.utc);
    line += '\t';
    line += iso(t.accessed, t.utc);
    line += '\t';
    line += iso(t.modified, t.utc);
    line += '\t';
    appendEscaped(line, attributes);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
}

}  // namespace ondrel::cli
