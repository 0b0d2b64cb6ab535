// A dynamic VHD: footer, dynamic header, block table, and reads through them.
#include "diskimage/FileReadSeekVHD.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ondrel::fuzz::MemoryFile file(data, size);
    ondrel::FileReadSeekVHD reader;
    if (reader.open(file.path())) ondrel::fuzz::sampleDisk(reader);
    return 0;
}
