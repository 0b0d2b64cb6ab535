#pragma once
// LZNT1 decompression of one NTFS compression unit.
#include <cstddef>
#include <cstdint>

namespace ondrel {

// Decompresses input into output (capacity bytes). Returns the number of bytes
// produced; sets ok to false when a chunk runs past the input or the output is
// full. Never reads or writes outside the buffers.
std::size_t lznt1Decompress(const std::uint8_t* input, std::size_t inputLength, std::uint8_t* output,
                            std::size_t capacity, bool& ok);

}  // namespace ondrel
