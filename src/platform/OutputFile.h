#pragma once
// A file we create on the host (exported images, recovered files). Runs of
// zeros may be skipped as holes; the file still reads back byte for byte.
// Nothing already on the host is replaced or written through a link.
#include <cstddef>
#include <cstdint>
#include "platform/FileTimes.h"
#include "platform/ReadOnlyFile.h"

#include <optional>
#include <string>

namespace ondrel {

// The folder a save writes into, held open. Folders and files below it are
// made and opened one name at a time relative to it and never through a link
// (only the folder the user named may be one), so links in the output folder,
// placed before or during a save, cannot send files elsewhere.
class OutputFolder {
public:
    OutputFolder() = default;
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // Creates the folder and its parents when missing, then opens it.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    enum class Made { New, Existing, NameTaken, Failed };
    // Makes folder name inside the folder at `at` ("" for this folder, else
    // names made here joined by '/'). A real folder already there is used as
    // it is; anything else of that name (a file, a link) leaves it NameTaken.
    Made makeSubfolder(const std::string& at, const std::string& name);
    // Removes the file name inside the folder at `at`.
    void removeFile(const std::string& at, const std::string& name);

    int errorCode() const { return error_; }
    std::string errorText() const;

private:
    friend class OutputFile;
    // A descriptor this object keeps, or -1.
    int folderAt(const std::string& at);

    int fd_ = -1;
    // The last folder below opened: files of one folder come one after another.
    std::string cachedAt_;
    int cachedFd_ = -1;
    int error_ = 0;
};

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates path for writing; fails when anything of that name exists (a
    // link included), so an existing file is never replaced.
    bool create(const std::string& path);
    // Creates name inside the folder at `at` of folder, the same way; fails
    // with errorCode() EEXIST when the name is taken.
    bool createIn(OutputFolder& folder, const std::string& at, const std::string& name);

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

// Whether anything of that name exists; a link counts, even one to nothing.
bool pathExists(const std::string& path);

// Removes a file this program just created and left empty (unlinking never
// follows a link).
void removeCreatedFile(const std::string& path);

// The path's separator for this platform.
inline constexpr char kPathSeparator = '/';

}  // namespace ondrel
