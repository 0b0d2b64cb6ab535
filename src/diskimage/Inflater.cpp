#include "diskimage/Inflater.h"

#include <zlib.h>

namespace ondrel {

Inflater::Inflater(Wrapper wrapper) : z_(new z_stream{}) {
    ready_ = inflateInit2(z_, wrapper == Wrapper::Raw ? -15 : 15 + 32) == Z_OK;
}

Inflater::~Inflater() {
    if (ready_) inflateEnd(z_);
    delete z_;
}

std::int64_t Inflater::run(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t outSize) {
    if (!ready_ || inflateReset(z_) != Z_OK) return -1;
    z_->next_in = const_cast<Bytef*>(in);
    z_->avail_in = static_cast<uInt>(inSize);
    z_->next_out = out;
    z_->avail_out = static_cast<uInt>(outSize);
    int rc = inflate(z_, Z_FINISH);
    // A full output ends the call whether or not the stream's end was reached.
    bool ok = rc == Z_STREAM_END || ((rc == Z_OK || rc == Z_BUF_ERROR) && z_->avail_out == 0);
    return ok ? static_cast<std::int64_t>(outSize - z_->avail_out) : -1;
}

}  // namespace ondrel
