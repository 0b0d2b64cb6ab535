#pragma once
// An image file or block device opened for reading only. Reads are positioned
// (no shared file pointer), so one object may serve readers on any thread.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ondrel {

class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;

    // Opens path read-only; false with errorText() set on failure. Only files
    // and block devices open: a directory, FIFO or character device does not.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    // True when the path named a block device; its size then comes from the kernel.
    bool isDevice() const { return device_; }
    // Length in bytes of the file, or the device's size.
    std::int64_t size() const { return size_; }

    // Reads up to count bytes at offset; returns the number read (short only at
    // the end of the file), or -1 on an error (errorText() says which).
    std::int64_t readAt(std::int64_t offset, void* buffer, std::size_t count) const;

    int errorCode() const { return error_.load(std::memory_order_relaxed); }
    // The system's descriptor, for copies inside the kernel.
    int nativeHandle() const { return fd_; }
    std::string errorText() const;

private:
    int fd_ = -1;
    bool device_ = false;
    std::int64_t size_ = 0;
    // Reads on several threads may fail at once.
    mutable std::atomic<int> error_{0};
};

}  // namespace ondrel
