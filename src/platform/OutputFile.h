#pragma once
// A file we create on the host (exported images, recovered files). Runs of
// zeros may be skipped as holes; the file still reads back byte for byte.
#include <cstddef>
#include <cstdint>
#include "platform/FileTimes.h"
#include "platform/ReadOnlyFile.h"

#include <optional>
#include <string>

namespace ondrel {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates or truncates path for writing.
    bool create(const std::string& path);
    // Appends count bytes; with sparse set, an all-zero block is skipped as a hole.
    bool write(const void* data, std::size_t count, bool sparse = false);
    // Sets the final length (needed after trailing holes) and, when given, the
    // access and modification times, then closes.
    bool finish();
    bool finish(std::optional<UnixTime> access, std::optional<UnixTime> modification);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    // Leaves a hole of count bytes (zeros when read back).
    void skip(std::size_t count) { position_ += static_cast<std::int64_t>(count); }
    // Goes back to an earlier position, to write a range again.
    void rewindTo(std::int64_t position) { position_ = position; }
    // Appends count bytes copied from a file inside the kernel. Returns the
    // bytes copied (short at the source's end), or -1 when the system cannot
    // copy between these files (the caller then reads and writes).
    std::int64_t copyFrom(const ReadOnlyFile& source, std::int64_t sourceOffset, std::size_t count);
    std::int64_t position() const { return position_; }

    int errorCode() const { return error_; }
    bool diskFull() const;
    std::string errorText() const;

private:
    int fd_ = -1;
    std::int64_t position_ = 0;
    std::int64_t writtenEnd_ = 0;  // end of the last bytes really written
    int error_ = 0;
};

// Free bytes available to us in the folder's file system, or -1 when unknown.
std::int64_t freeSpaceAt(const std::string& folder);

// Whether a file or folder of that name exists.
bool pathExists(const std::string& path);

// The path's separator for this platform.
inline constexpr char kPathSeparator = '/';

}  // namespace ondrel
