// A monolithic sparse VMDK: header, embedded descriptor, grain directory and
// tables, and reads through them.
#include "diskimage/FileReadSeekVmdk.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ondrel::fuzz::MemoryFile file(data, size);
    ondrel::FileReadSeekVmdk reader;
    if (reader.open(file.path())) ondrel::fuzz::sampleDisk(reader);
    return 0;
}
