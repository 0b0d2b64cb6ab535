#include "carving/structure/StructureCheck.h"

#include <array>
#include <cctype>
#include <string>

namespace ondrel {

namespace {
struct Family {
    const char* extension;
    StructureCheck check;
};

// Extensions as users name them; the formats built on one container share its check.
constexpr std::array kFamilies{
    Family{"jpg", checkJpeg},   Family{"jpeg", checkJpeg},  Family{"jpe", checkJpeg},   Family{"jfif", checkJpeg},
    Family{"png", checkPng},    Family{"apng", checkPng},   Family{"gif", checkGif},
    Family{"zip", checkZip},    Family{"docx", checkZip},   Family{"xlsx", checkZip},   Family{"pptx", checkZip},
    Family{"odt", checkZip},    Family{"ods", checkZip},    Family{"odp", checkZip},    Family{"jar", checkZip},
    Family{"apk", checkZip},    Family{"epub", checkZip},
    Family{"pdf", checkPdf},    Family{"bmp", checkBmp},    Family{"dib", checkBmp},
    Family{"wav", checkRiff},   Family{"avi", checkRiff},   Family{"webp", checkRiff},  Family{"riff", checkRiff},
    Family{"tif", checkTiff},   Family{"tiff", checkTiff},
    Family{"mp4", checkIsoMedia}, Family{"mov", checkIsoMedia}, Family{"m4a", checkIsoMedia}, Family{"m4v", checkIsoMedia},
    Family{"heic", checkIsoMedia}, Family{"heif", checkIsoMedia}, Family{"avif", checkIsoMedia}, Family{"3gp", checkIsoMedia},
    Family{"sqlite", checkSqlite}, Family{"sqli", checkSqlite}, Family{"db", checkSqlite},
    Family{"7z", checkSevenZip}, Family{"rar", checkRar},
    Family{"gz", checkGzip},    Family{"tgz", checkGzip},
    Family{"mp3", checkMp3},
    Family{"doc", checkOle2},   Family{"xls", checkOle2},   Family{"ppt", checkOle2},   Family{"msi", checkOle2},
    Family{"ole", checkOle2},
};
}  // namespace

StructureCheck structureCheckFor(std::string_view extension) {
    std::string lower(extension);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const Family& f : kFamilies)
        if (lower == f.extension) return f.check;
    return nullptr;
}

}  // namespace ondrel
