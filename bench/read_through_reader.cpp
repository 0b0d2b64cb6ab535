// Reads a whole virtual disk through its reader in 1 MiB requests, as the
// sweep and the parsers do, and prints a checksum so the work cannot be skipped.
#include "diskimage/ImageKind.h"
#include "common/IoBuffer.h"

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ondrel-bench-read IMAGE\n");
        return 2;
    }
    ondrel::OpenedImage image = ondrel::openDiskImage(argv[1], std::nullopt);
    if (!image.reader) {
        std::fprintf(stderr, "%s\n", image.message.c_str());
        return 1;
    }
    constexpr std::uint32_t kChunk = 1 << 20;
    ondrel::IoBuffer buf(kChunk);
    std::uint64_t total = image.reader->sectorCount() * 512, sum = 0;
    for (std::uint64_t pos = 0; pos < total; pos += kChunk) {
        auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunk, total - pos));
        image.reader->readAt(static_cast<std::int64_t>(pos), buf.data(), n);
        for (std::uint32_t i = 0; i < n; i += 4096) sum += buf[i];
    }
    std::printf("%llu bytes, checksum %llu\n", static_cast<unsigned long long>(total), static_cast<unsigned long long>(sum));
    return 0;
}
