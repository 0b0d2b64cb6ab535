#include "fs/ntfs/Lznt1.h"

#include <cstring>

namespace ondrel {

std::size_t lznt1Decompress(const std::uint8_t* in, std::size_t inLen, std::uint8_t* out, std::size_t cap, bool& ok) {
    ok = true;
    std::size_t p = 0, produced = 0;
    while (p + 1 < inLen) {
        std::uint16_t header = static_cast<std::uint16_t>(in[p] | (in[p + 1] << 8));
        if (header == 0) break;
        std::size_t size = (header & 0x0FFF) + 3;  // header included
        if (p + size > inLen) {
            ok = false;
            break;
        }
        std::size_t chunkEnd = p + size;
        p += 2;
        std::size_t chunkStart = produced;
        if (!(header & 0x8000)) {
            // A stored chunk: 4096 bytes as they are.
            std::size_t n = chunkEnd - p;
            if (produced + n > cap) {
                n = cap - produced;
                ok = false;
            }
            std::memcpy(out + produced, in + p, n);
            produced += n;
            p = chunkEnd;
            if (!ok) break;
            continue;
        }
        while (p < chunkEnd) {
            std::uint8_t flags = in[p++];
            for (int bit = 0; bit < 8 && p < chunkEnd; ++bit) {
                if (!(flags & (1 << bit))) {
                    if (produced >= cap) {
                        ok = false;
                        return produced;
                    }
                    out[produced++] = in[p++];
                    continue;
                }
                if (p + 1 >= chunkEnd) {
                    p = chunkEnd;
                    break;
                }
                std::uint16_t token = static_cast<std::uint16_t>(in[p] | (in[p + 1] << 8));
                p += 2;
                std::size_t pos = produced - chunkStart;
                unsigned n = 0;
                for (std::size_t v = pos - 1; v >= 16; v >>= 1) ++n;  // pos >= 1 for any back reference
                if (pos == 0) {
                    ok = false;
                    return produced;
                }
                std::size_t displacement = (token >> (12 - n)) + 1;
                std::size_t length = (token & (0x0FFFu >> n)) + 3;
                if (displacement > pos) {
                    ok = false;
                    return produced;
                }
                for (std::size_t k = 0; k < length; ++k) {
                    if (produced >= cap) {
                        ok = false;
                        return produced;
                    }
                    out[produced] = out[produced - displacement];
                    ++produced;
                }
            }
        }
    }
    return produced;
}

}  // namespace ondrel
