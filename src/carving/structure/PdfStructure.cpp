// PDF: the file ends at an end-of-file marker ("%%EOF" and its line end)
// that its "startxref" names a cross-reference section for, unless the bytes
// after it go on as PDF does (an incremental update's objects, a
// cross-reference section, the rest of a linearized file): then the last such
// marker ends it. A linearized file states its length, which is taken when a
// marker ends it there.
#include "carving/structure/StructureCheck.h"

#include <cctype>
#include <string>

namespace ondrel {

namespace {
constexpr std::int64_t kLookBack = 1024;  // where "startxref" stands before its marker
constexpr std::int64_t kLookAhead = 64;   // white space between a marker and what follows it

bool white(int b) { return b == ' ' || b == '\r' || b == '\n' || b == '\t' || b == '\f' || b == 0; }
bool digit(int b) { return b >= '0' && b <= '9'; }

// "N G obj" at pos.
bool objectAt(CarveCursor& c, std::int64_t pos) {
    char b[32];
    const std::int64_t n = std::min<std::int64_t>(sizeof b, c.limit() - pos);
    if (n <= 0 || !c.read(pos, b, static_cast<std::size_t>(n))) return false;
    std::int64_t i = 0;
    auto number = [&] {
        const std::int64_t from = i;
        while (i < n && digit(b[i])) ++i;
        return i > from && i - from <= 10;
    };
    auto spaces = [&] {
        const std::int64_t from = i;
        while (i < n && white(b[i])) ++i;
        return i > from;
    };
    return number() && spaces() && number() && spaces() && i + 3 <= n && b[i] == 'o' && b[i + 1] == 'b' && b[i + 2] == 'j';
}

// The offset after the last "startxref" in the bytes before the marker at eof points at a cross-reference section or stream.
bool startxrefHolds(CarveCursor& c, std::int64_t eof) {
    const std::int64_t from = std::max<std::int64_t>(0, eof - kLookBack);
    std::string text(static_cast<std::size_t>(eof - from), '\0');
    if (!c.read(from, text.data(), text.size())) return false;
    const auto at = text.rfind("startxref");
    if (at == std::string::npos) return false;
    std::size_t i = at + 9;
    while (i < text.size() && white(text[i])) ++i;
    std::int64_t offset = 0;
    std::size_t digits = 0;
    for (; i < text.size() && digit(text[i]) && digits < 18; ++i, ++digits) offset = offset * 10 + (text[i] - '0');
    if (digits == 0 || offset >= eof) return false;
    return c.hasText(offset, "xref") || objectAt(c, offset);
}

// What follows a marker continues the file: an object, a cross-reference
// section, a trailer; or the end of the stream or object that held the
// marker (an attached PDF's own).
bool continues(CarveCursor& c, std::int64_t pos) {
    const std::int64_t stop = std::min(pos + kLookAhead, c.limit());
    while (pos < stop && white(c.byte(pos))) ++pos;
    if (pos >= stop) return false;
    return objectAt(c, pos) || c.hasText(pos, "xref") || c.hasText(pos, "trailer") || c.hasText(pos, "endstream") ||
           c.hasText(pos, "endobj");
}

// The bytes before pos end with the "stream" keyword and its line end.
bool inStream(CarveCursor& c, std::int64_t pos) {
    char b[9];
    if (pos < 9 || !c.read(pos - 9, b, sizeof b)) return false;
    const std::string tail(b, sizeof b);
    return tail.ends_with("stream\r\n") || tail.ends_with("stream\n") || tail.ends_with("stream\r");
}

// The /L of a linearization dictionary in the file's first kilobyte; 0 when there is none.
std::int64_t linearizedLength(CarveCursor& c) {
    std::string head(static_cast<std::size_t>(std::min<std::int64_t>(1024, c.limit())), '\0');
    if (!c.read(0, head.data(), head.size())) return 0;
    const auto lin = head.find("/Linearized");
    if (lin == std::string::npos) return 0;
    const auto close = head.find(">>", lin);
    const auto l = head.find("/L ", lin);
    if (l == std::string::npos || (close != std::string::npos && l > close)) return 0;
    std::int64_t v = 0;
    std::size_t i = l + 3, digits = 0;
    for (; i < head.size() && digit(head[i]) && digits < 18; ++i, ++digits) v = v * 10 + (head[i] - '0');
    return digits ? v : 0;
}
}  // namespace

StructureResult checkPdf(CarveCursor& c) {
    if (!c.hasText(0, "%PDF-")) return StructureResult::notMine();
    const int major = c.byte(5), dot = c.byte(6), minor = c.byte(7);
    if (!digit(major) || dot != '.' || !digit(minor)) return StructureResult::notAFile();
    const std::int64_t stated = linearizedLength(c);
    // The find's span ends where another file begins, but for a file that
    // begins right after a "stream" keyword: a picture the PDF holds.
    std::int64_t boundary = c.nextStart(0, c.limit());
    std::int64_t end = -1;
    bool weakEnd = false;
    for (std::int64_t from = 8;;) {
        const std::int64_t eof = c.find(from, boundary < 0 ? c.limit() : boundary, "%%EOF", 5);
        if (eof < 0) {
            if (boundary < 0 || !inStream(c, boundary)) break;
            boundary = c.nextStart(boundary, c.limit());
            continue;
        }
        std::int64_t after = eof + 5;
        if (c.byte(after) == '\r') ++after;
        if (c.byte(after) == '\n') ++after;
        from = after;
        const bool holds = startxrefHolds(c, eof);
        // A marker no startxref backs ends the file only when nothing better follows.
        if (!holds && end >= 0 && !weakEnd) continue;
        end = after;
        weakEnd = !holds;
        if (stated > 0 && after == stated) break;
        if (!continues(c, after)) break;
    }
    if (end < 0) {
        if (c.limit() <= 8) return StructureResult::notAFile();
        return StructureResult::truncated(boundary >= 0 ? boundary : c.limit());
    }
    return StructureResult::whole(end, true);
}

}  // namespace ondrel
