// A VDI image: header, block map, and reads through them.
#include "diskimage/FileReadSeekVdi.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ondrel::fuzz::MemoryFile file(data, size);
    ondrel::FileReadSeekVdi reader;
    if (reader.open(file.path())) ondrel::fuzz::sampleDisk(reader);
    return 0;
}
