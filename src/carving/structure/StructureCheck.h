#pragma once
// What a find's own structure says about it. A check walks the format from
// the find's first byte (markers, chunks, boxes, headers, tables) and tells
// where the file really ends, or that the bytes are no file of its kind, or
// that the file is there only in part. One check per format family, chosen by
// the definition's extension; a definition whose extension has none keeps the
// end-signature and size-field rules.
#include "carving/structure/CarveCursor.h"

#include <string_view>

namespace ondrel {

enum class StructureVerdict {
    NotMine,    // the bytes do not even begin as this family does: the definition's own rules apply
    NotAFile,   // a false hit: nothing to record
    Whole,      // a complete file of size bytes
    Truncated,  // only size bytes are a valid beginning; the rest is missing or damaged
};

struct StructureResult {
    StructureVerdict verdict = StructureVerdict::NotMine;
    std::int64_t size = 0;
    // The check read the file's last bytes and they close it: nothing after
    // the start but before the end can be another file's beginning.
    bool endVerified = false;
    // A more precise extension the structure shows (docx for a zip, mov for
    // an ISO media file); null to keep the definition's.
    const char* extension = nullptr;

    static StructureResult notMine() { return {}; }
    static StructureResult notAFile() { return {StructureVerdict::NotAFile, 0, false, nullptr}; }
    static StructureResult whole(std::int64_t size, bool endVerified, const char* extension = nullptr) {
        return {StructureVerdict::Whole, size, endVerified, extension};
    }
    static StructureResult truncated(std::int64_t size, const char* extension = nullptr) {
        return {StructureVerdict::Truncated, size, false, extension};
    }
};

using StructureCheck = StructureResult (*)(CarveCursor& bytes);

// The check for an extension (any case), or null.
StructureCheck structureCheckFor(std::string_view extension);

// The checks, one per family (each in its own file).
StructureResult checkJpeg(CarveCursor& bytes);
StructureResult checkPng(CarveCursor& bytes);
StructureResult checkGif(CarveCursor& bytes);
StructureResult checkZip(CarveCursor& bytes);
StructureResult checkPdf(CarveCursor& bytes);
StructureResult checkBmp(CarveCursor& bytes);
StructureResult checkRiff(CarveCursor& bytes);
StructureResult checkTiff(CarveCursor& bytes);
StructureResult checkIsoMedia(CarveCursor& bytes);
StructureResult checkSqlite(CarveCursor& bytes);
StructureResult checkSevenZip(CarveCursor& bytes);
StructureResult checkRar(CarveCursor& bytes);
StructureResult checkGzip(CarveCursor& bytes);
StructureResult checkMp3(CarveCursor& bytes);
StructureResult checkOle2(CarveCursor& bytes);

}  // namespace ondrel
