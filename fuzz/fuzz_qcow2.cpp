// A qcow2 image: header, extensions, snapshot table, L1 and L2 tables, zero,
// extended and compressed (deflate, zstd) clusters, and reads through them.
#include "diskimage/FileReadSeekQcow2.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ondrel::fuzz::MemoryFile file(data, size);
    ondrel::FileReadSeekQcow2 reader;
    if (reader.open(file.path())) ondrel::fuzz::sampleDisk(reader);
    return 0;
}
