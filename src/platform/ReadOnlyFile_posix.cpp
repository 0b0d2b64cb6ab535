#include "platform/ReadOnlyFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace ondrel {

ReadOnlyFile::~ReadOnlyFile() { close(); }

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), device_(other.device_), size_(other.size_), error_(other.error_.load()) {}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        device_ = other.device_;
        size_ = other.size_;
        error_ = other.error_.load();
    }
    return *this;
}

bool ReadOnlyFile::open(const std::string& path) {
    close();
    error_ = 0;
    // Not blocking: a FIFO named by an image (a parent, an extent) must not
    // hang the open; only files and block devices are read.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error_ = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error_ = errno;
        ::close(fd);
        return false;
    }
    if (S_ISDIR(st.st_mode) || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
        error_ = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    device_ = S_ISBLK(st.st_mode);
    if (device_) {
        std::uint64_t bytes = 0;
        if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) {
            error_ = errno;
            ::close(fd);
            return false;
        }
        size_ = static_cast<std::int64_t>(bytes);
    } else {
        size_ = st.st_size;
    }
    fd_ = fd;
    return true;
}

void ReadOnlyFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    device_ = false;
    size_ = 0;
}

std::int64_t ReadOnlyFile::readAt(std::int64_t offset, void* buffer, std::size_t count) const {
    if (fd_ < 0 || offset < 0) {
        error_ = fd_ < 0 ? EBADF : EINVAL;
        return -1;
    }
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            return done > 0 ? static_cast<std::int64_t>(done) : -1;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

std::string ReadOnlyFile::errorText() const {
    int code = errorCode();
    return code ? std::strerror(code) : std::string();
}

}  // namespace ondrel
