#pragma once
// Inflates compressed clusters and grains with zlib, one buffer at a time. The
// state is kept between calls: a disk holds thousands of compressed clusters,
// and setting zlib up again for each one costs an allocation every time.
#include <cstddef>
#include <cstdint>

struct z_stream_s;

namespace ondrel {

class Inflater {
public:
    enum class Wrapper { Raw, ZlibOrGzip };  // qcow2 stores raw deflate; VMDK a zlib stream
    explicit Inflater(Wrapper wrapper);
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Inflates in into out; the bytes produced (the stream may end before out
    // is full), or -1 when the stream is damaged.
    std::int64_t run(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t outSize);

private:
    z_stream_s* z_ = nullptr;
    bool ready_ = false;
};

}  // namespace ondrel
