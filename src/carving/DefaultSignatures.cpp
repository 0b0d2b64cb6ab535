#include "carving/DefaultSignatures.h"

#include "platform/DataFolders.h"
#include "platform/ExecutablePath.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace ondrel {

namespace {
struct Definition {
    const char16_t* extension;
    std::vector<std::uint8_t> start, end;
    std::int32_t sizeOffset, sizeBytes, headerSize;
    bool sizeIncludesHeader;
    std::int64_t cap;
    const char16_t* category;
    std::uint16_t startOffset = 0;
};

constexpr std::int64_t MiB = 1 << 20;
constexpr std::uint8_t Any = 0x2A;  // "*": any byte
const std::vector<std::uint8_t> kZip{0x50, 0x4B, 0x03, 0x04};
const std::vector<std::uint8_t> kOle2{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
const std::vector<std::uint8_t> kFtyp{0x66, 0x74, 0x79, 0x70};  // "ftyp" at byte 4
}  // namespace

std::vector<SignatureRecord> defaultSignatures() {
    // Every type here has a structure check, which ends its finds; the end
    // signatures and size fields are what a carver without the check would
    // use. A type that shares its start with one before it (docx after zip)
    // is never matched itself: the check names it, and its finds go under it.
    // The caps bound how far a check reads.
    static const Definition table[] = {
        {u"jpg", {0xFF, 0xD8, 0xFF}, {0xFF, 0xD9}, -1, 0, 0, false, 64 * MiB, u"Pictures"},
        {u"png", {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}, {0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82}, -1, 0, 0, false, 64 * MiB, u"Pictures"},
        {u"gif", {0x47, 0x49, 0x46, 0x38}, {0x00, 0x3B}, -1, 0, 0, false, 32 * MiB, u"Pictures"},
        // "BM", the size, and the reserved words, which are zero.
        {u"bmp", {0x42, 0x4D, Any, Any, Any, Any, 0x00, 0x00, 0x00, 0x00}, {}, 2, 4, 0, true, 256 * MiB, u"Pictures"},
        {u"tif", {0x49, 0x49, Any, 0x00}, {}, -1, 0, 0, false, 512 * MiB, u"Pictures"},
        {u"tif", {0x4D, 0x4D, 0x00, Any}, {}, -1, 0, 0, false, 512 * MiB, u"Pictures"},
        {u"webp", {0x52, 0x49, 0x46, 0x46, Any, Any, Any, Any, 0x57, 0x45}, {}, 4, 4, 8, false, 64 * MiB, u"Pictures"},
        {u"pdf", {0x25, 0x50, 0x44, 0x46, 0x2D}, {0x25, 0x25, 0x45, 0x4F, 0x46}, -1, 0, 0, false, 512 * MiB, u"Documents"},
        {u"doc", kOle2, {}, -1, 0, 0, false, 512 * MiB, u"Documents"},
        {u"xls", kOle2, {}, -1, 0, 0, false, 512 * MiB, u"Documents"},
        {u"ppt", kOle2, {}, -1, 0, 0, false, 512 * MiB, u"Documents"},
        {u"msi", kOle2, {}, -1, 0, 0, false, 512 * MiB, u"Archives"},
        {u"zip", kZip, {0x50, 0x4B, 0x05, 0x06}, -1, 0, 0, false, 2048 * MiB, u"Archives"},
        {u"docx", kZip, {}, -1, 0, 0, false, 512 * MiB, u"Documents"},
        {u"xlsx", kZip, {}, -1, 0, 0, false, 512 * MiB, u"Documents"},
        {u"pptx", kZip, {}, -1, 0, 0, false, 512 * MiB, u"Documents"},
        {u"odt", kZip, {}, -1, 0, 0, false, 512 * MiB, u"Documents"},
        {u"ods", kZip, {}, -1, 0, 0, false, 512 * MiB, u"Documents"},
        {u"odp", kZip, {}, -1, 0, 0, false, 512 * MiB, u"Documents"},
        {u"epub", kZip, {}, -1, 0, 0, false, 512 * MiB, u"Documents"},
        {u"jar", kZip, {}, -1, 0, 0, false, 512 * MiB, u"Archives"},
        {u"apk", kZip, {}, -1, 0, 0, false, 2048 * MiB, u"Archives"},
        {u"db", {0x53, 0x51, 0x4C, 0x69, 0x74, 0x65, 0x20, 0x66, 0x6F, 0x72}, {}, -1, 0, 0, false, 2048 * MiB, u"Documents"},
        {u"7z", {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C}, {}, -1, 0, 0, false, 2048 * MiB, u"Archives"},
        {u"rar", {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07}, {}, -1, 0, 0, false, 2048 * MiB, u"Archives"},
        {u"gz", {0x1F, 0x8B, 0x08}, {}, -1, 0, 0, false, 2048 * MiB, u"Archives"},
        // RIFF: the size at byte 4 counts what follows its 8-byte header.
        {u"wav", {0x52, 0x49, 0x46, 0x46, Any, Any, Any, Any, 0x57, 0x41}, {}, 4, 4, 8, false, 2048 * MiB, u"Audio"},
        {u"mp3", {0x49, 0x44, 0x33}, {}, -1, 0, 0, false, 64 * MiB, u"Audio"},
        // MPEG audio frames with no tag before them: layer III, MPEG-1 and MPEG-2.
        {u"mp3", {0xFF, 0xFB}, {}, -1, 0, 0, false, 64 * MiB, u"Audio"},
        {u"mp3", {0xFF, 0xF3}, {}, -1, 0, 0, false, 64 * MiB, u"Audio"},
        {u"avi", {0x52, 0x49, 0x46, 0x46, Any, Any, Any, Any, 0x41, 0x56}, {}, 4, 4, 8, false, 4096 * MiB, u"Video"},
        // ISO media: the first ftyp definition bounds them all, so it has the largest cap.
        {u"mp4", kFtyp, {}, -1, 0, 0, false, 4096 * MiB, u"Video", 4},
        {u"mov", kFtyp, {}, -1, 0, 0, false, 4096 * MiB, u"Video", 4},
        {u"m4v", kFtyp, {}, -1, 0, 0, false, 4096 * MiB, u"Video", 4},
        {u"3gp", kFtyp, {}, -1, 0, 0, false, 1024 * MiB, u"Video", 4},
        {u"heic", kFtyp, {}, -1, 0, 0, false, 256 * MiB, u"Pictures", 4},
        {u"m4a", kFtyp, {}, -1, 0, 0, false, 512 * MiB, u"Audio", 4},
    };
    std::vector<SignatureRecord> out;
    for (const Definition& d : table) {
        SignatureRecord r;
        r.extension = d.extension;
        r.extensionLength = static_cast<std::uint8_t>(r.extension.size());
        r.start = d.start;
        r.end = d.end;
        r.sizeOffset = d.sizeOffset;
        r.sizeBytes = d.sizeBytes;
        r.headerSize = d.headerSize;
        r.sizeIncludesHeader = d.sizeIncludesHeader;
        r.approximateSize = d.cap;
        r.category = d.category;
        r.startOffset = d.startOffset;
        r.index = static_cast<std::uint8_t>(out.size());
        out.push_back(r);
    }
    return out;
}

bool writeDefaultSettings(const std::string& path) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    for (const SignatureRecord& r : defaultSignatures()) {
        auto bytes = r.encode();
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    return static_cast<bool>(f.flush());
}

std::vector<std::string> settingsSearchPath() {
    std::vector<std::string> out;
    if (std::string user = userDataFolder(); !user.empty()) out.push_back(user + "/FileSetting.txt");
    for (const std::string& folder : systemDataFolders()) out.push_back(folder + "/FileSetting.txt");
    if (std::string installed = installDataFolder(); !installed.empty()) out.push_back(installed + "/FileSetting.txt");
    if (std::string folder = executableFolder(); !folder.empty()) out.push_back(folder + "/FileSetting.txt");
    return out;
}

std::string findSettingsFile() {
    for (const std::string& path : settingsSearchPath()) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec)) return path;
    }
    return {};
}

std::string userSettingsPath() {
    const std::string folder = userDataFolder();
    return folder.empty() ? std::string() : folder + "/FileSetting.txt";
}

bool ensureUserSettings(std::string& message) {
    const std::string path = userSettingsPath();
    if (path.empty()) {
        message = "There is no user data folder (neither XDG_DATA_HOME nor HOME is set).";
        return false;
    }
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) return true;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    const std::string current = findSettingsFile();
    if (!current.empty() && std::filesystem::copy_file(current, path, ec)) return true;
    if (writeDefaultSettings(path)) return true;
    message = "The settings file " + path + " cannot be written.";
    return false;
}

}  // namespace ondrel
