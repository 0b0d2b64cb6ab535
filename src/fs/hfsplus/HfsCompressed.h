#pragma once
// Files compressed by the system (the owner flag 0x20): their data lives in the
// "com.apple.decmpfs" attribute, or in the resource fork as a table of
// zlib-compressed 64 KiB blocks. zlib methods are decompressed; the others are
// named, so the file is reported as not saved rather than written wrong.
#include "common/Endian.h"
#include "fs/DataSink.h"
#include "fs/FileSystemAdapter.h"

#include <cstdint>
#include <functional>
#include <string>

namespace ondrel {

struct DecmpfsHeader {
    bool valid = false;           // the "fpmc" magic
    std::uint32_t method = 0;     // 3: zlib in the attribute, 4: zlib in the resource fork, ...
    std::uint64_t size = 0;       // the uncompressed size
};
DecmpfsHeader decodeDecmpfs(Bytes attribute);

// Reads count bytes at offset of the resource fork; false when they cannot be read.
using ResourceReader = std::function<bool(std::uint64_t offset, std::uint8_t* out, std::size_t count)>;

// Why the data cannot be decompressed ("" when it can): no attribute, an
// impossible size, a method other than zlib.
std::string undecompressable(Bytes attribute);

// Writes the uncompressed data; NoData with the reason for what
// undecompressable names, ReadFailed (with the reason) when the data is damaged.
WriteResult writeDecompressed(Bytes attribute, std::uint64_t resourceSize, const ResourceReader& resource,
                              DataSink& sink, std::string& reason);

}  // namespace ondrel
