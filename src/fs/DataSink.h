#pragma once
// Where a parser writes a file's data: a host file (saving) or memory (the
// recycle-bin records, read without temporary files).
#include "platform/OutputFile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ondrel {

class DataSink {
public:
    virtual ~DataSink() = default;
    virtual bool write(const std::uint8_t* data, std::size_t count) = 0;
};

// Zero runs become holes; the file still reads back byte for byte.
class FileSink : public DataSink {
public:
    explicit FileSink(OutputFile& f) : file_(f) {}
    bool write(const std::uint8_t* data, std::size_t count) override { return file_.write(data, count, true); }

private:
    OutputFile& file_;
};

// Keeps at most limit bytes; a write beyond the limit reports false.
class MemorySink : public DataSink {
public:
    MemorySink(std::vector<std::uint8_t>& out, std::size_t limit) : out_(out), limit_(limit) {}
    bool write(const std::uint8_t* data, std::size_t count) override {
        std::size_t room = limit_ > out_.size() ? limit_ - out_.size() : 0;
        out_.insert(out_.end(), data, data + std::min(room, count));
        return count <= room;
    }

private:
    std::vector<std::uint8_t>& out_;
    std::size_t limit_;
};

}  // namespace ondrel
