// A VMDK file: a sparse header (plain or stream-optimized), its embedded or
// stand-alone descriptor, grain directory and tables, compressed grains, and
// reads through them. Extent and parent files named by the input are looked
// for beside it and are not there.
#include "diskimage/FileReadSeekVmdk.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ondrel::fuzz::MemoryFile file(data, size);
    ondrel::FileReadSeekVmdk reader;
    if (reader.open(file.path())) ondrel::fuzz::sampleDisk(reader);
    return 0;
}
