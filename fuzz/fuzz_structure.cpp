// One structure check over the input as a find's bytes: the check is the one
// of ONDREL_FUZZ_STRUCTURE (an extension). The first byte sets how far the
// find may reach (a cap below the input's end, as a next find would), how
// much of it is at hand as a scan's chunk, and sectors that begin with that
// byte twice count as another file's start. What a
// check says must stay inside what it may read.
#include "carving/structure/StructureCheck.h"
#include "diskimage/MemoryReader.h"

#include <cstdio>
#include <cstdlib>

#ifndef ONDREL_FUZZ_STRUCTURE
#error "ONDREL_FUZZ_STRUCTURE names the extension whose check is fuzzed"
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static const ondrel::StructureCheck check = ondrel::structureCheckFor(ONDREL_FUZZ_STRUCTURE);
    if (!check) std::abort();
    const std::uint8_t lead = data[0];
    ondrel::MemoryReader reader(data + 1, size - 1);
    const auto length = static_cast<std::int64_t>(size - 1);
    // 0: the whole input; otherwise a share of it in 255ths.
    const std::int64_t limit = lead == 0 ? length : length * lead / 255;
    static ondrel::CarveCursor cursor;
    cursor.setStartProbe([lead](const std::uint8_t* sector) { return sector[0] == lead && sector[1] == lead; });
    // An odd first byte: the first part of the find is at hand, as a scan's chunk holds it.
    cursor.offer(lead & 1 ? data + 1 : nullptr, 0, lead & 1 ? length * (lead >> 1) / 127 : 0);
    cursor.reset(reader, 0, limit);
    const ondrel::StructureResult r = check(cursor);
    switch (r.verdict) {
    case ondrel::StructureVerdict::NotMine:
    case ondrel::StructureVerdict::NotAFile: break;
    case ondrel::StructureVerdict::Whole:
    case ondrel::StructureVerdict::Truncated:
        // A size past what could be read, or none at all, is a wrong end.
        if (r.size <= 0 || r.size > limit) {
            std::fprintf(stderr, "%s: %s of %lld bytes, the find may reach %lld\n", ONDREL_FUZZ_STRUCTURE,
                         r.verdict == ondrel::StructureVerdict::Whole ? "whole" : "truncated", static_cast<long long>(r.size),
                         static_cast<long long>(limit));
            std::abort();
        }
        break;
    }
    return 0;
}
