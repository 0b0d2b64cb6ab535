// A VHDX: headers, region table, metadata, block table, sector bitmaps, the
// parent locator and log replay, and reads through them.
#include "diskimage/FileReadSeekVhdx.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ondrel::fuzz::MemoryFile file(data, size);
    ondrel::FileReadSeekVhdx reader;
    if (reader.open(file.path())) ondrel::fuzz::sampleDisk(reader);
    return 0;
}
