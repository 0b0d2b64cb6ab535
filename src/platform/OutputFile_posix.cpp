#include "platform/OutputFile.h"

#include "platform/SafeNames.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

namespace ondrel {

namespace {
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
}  // namespace

OutputFolder::~OutputFolder() { close(); }

bool OutputFolder::open(const std::string& path) {
    close();
    error_ = 0;
    errno = 0;
    // The folder the user named may be a link: that is where they chose to save.
    if (makeFolder(path)) fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) error_ = errno ? errno : ENOTDIR;
    return fd_ >= 0;
}

void OutputFolder::close() {
    if (cachedFd_ >= 0) ::close(cachedFd_);
    if (fd_ >= 0) ::close(fd_);
    cachedFd_ = fd_ = -1;
    cachedAt_.clear();
}

int OutputFolder::folderAt(const std::string& at) {
    if (fd_ < 0) {
        error_ = EBADF;
        return -1;
    }
    if (at.empty()) return fd_;
    if (cachedFd_ >= 0 && at == cachedAt_) return cachedFd_;
    int current = fd_;
    std::size_t pos = 0;
    // A walk goes down one level at a time: continue from the cached folder.
    if (cachedFd_ >= 0 && at.size() > cachedAt_.size() && at.compare(0, cachedAt_.size(), cachedAt_) == 0 &&
        at[cachedAt_.size()] == '/') {
        current = cachedFd_;
        pos = cachedAt_.size() + 1;
    }
    while (pos <= at.size()) {
        std::size_t slash = std::min(at.find('/', pos), at.size());
        std::string part = at.substr(pos, slash - pos);
        int next = ::openat(current, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int err = errno;
        if (current != fd_ && current != cachedFd_) ::close(current);
        if (next < 0) {
            error_ = err;
            return -1;
        }
        current = next;
        pos = slash + 1;
    }
    if (cachedFd_ >= 0) ::close(cachedFd_);
    cachedFd_ = current;
    cachedAt_ = at;
    return current;
}

OutputFolder::Made OutputFolder::makeSubfolder(const std::string& at, const std::string& name) {
    int dir = folderAt(at);
    if (dir < 0) return Made::Failed;
    if (::mkdirat(dir, name.c_str(), 0755) == 0) return Made::New;
    if (errno != EEXIST) {
        error_ = errno;
        return Made::Failed;
    }
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) return Made::Existing;
    error_ = EEXIST;
    return Made::NameTaken;
}

void OutputFolder::removeFile(const std::string& at, const std::string& name) {
    int dir = folderAt(at);
    if (dir >= 0) ::unlinkat(dir, name.c_str(), 0);
}

std::string OutputFolder::errorText() const { return error_ ? std::strerror(error_) : std::string(); }

OutputFile::~OutputFile() { close(); }

bool OutputFile::create(const std::string& path) {
    close();
    error_ = 0;
    position_ = writtenEnd_ = 0;
    fd_ = ::open(path.c_str(), kCreateFlags, 0644);
    if (fd_ < 0) error_ = errno;
    return fd_ >= 0;
}

bool OutputFile::createIn(OutputFolder& folder, const std::string& at, const std::string& name) {
    close();
    error_ = 0;
    position_ = writtenEnd_ = 0;
    int dir = folder.folderAt(at);
    if (dir < 0) {
        error_ = folder.errorCode();
        return false;
    }
    fd_ = ::openat(dir, name.c_str(), kCreateFlags, 0644);
    if (fd_ < 0) error_ = errno;
    return fd_ >= 0;
}

// Data blocks usually differ from zero in their first bytes; zero blocks are
// compared against themselves shifted by one byte, which memcmp does fast.
static bool allZero(const char* p, std::size_t n) {
    if (n == 0) return true;
    for (std::size_t i = 0; i < n && i < 16; ++i)
        if (p[i] != 0) return false;
    return std::memcmp(p, p + 1, n - 1) == 0;
}

bool OutputFile::write(const void* data, std::size_t count, bool sparse) {
    if (fd_ < 0) {
        error_ = EBADF;
        return false;
    }
    const auto* p = static_cast<const char*>(data);
    if (sparse && count > 0 && allZero(p, count)) {
        position_ += static_cast<std::int64_t>(count);
        return true;
    }
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::pwrite(fd_, p + done, count - done, static_cast<off_t>(position_ + static_cast<std::int64_t>(done)));
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            position_ += static_cast<std::int64_t>(done);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    position_ += static_cast<std::int64_t>(count);
    writtenEnd_ = position_;
    return true;
}

std::int64_t OutputFile::copyFrom(const ReadOnlyFile& source, std::int64_t sourceOffset, std::size_t count) {
    if (fd_ < 0 || source.nativeHandle() < 0) return -1;
    loff_t in = sourceOffset, out = position_;
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::copy_file_range(source.nativeHandle(), &in, fd_, &out, count - done, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (done == 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) return -1;
            error_ = errno;
            break;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    position_ += static_cast<std::int64_t>(done);
    writtenEnd_ = position_;
    return static_cast<std::int64_t>(done);
}

bool OutputFile::finish() { return finish(std::nullopt, std::nullopt); }

bool OutputFile::finish(std::optional<UnixTime> access, std::optional<UnixTime> modification) {
    if (fd_ < 0) return false;
    bool ok = true;
    // Trailing holes need the length set; the file was created empty.
    if (writtenEnd_ != position_ && ::ftruncate(fd_, position_) != 0) {
        error_ = errno;
        ok = false;
    }
    if (access || modification) {
        struct timespec ts[2];
        auto fill = [](struct timespec& out, const std::optional<UnixTime>& in) {
            out.tv_sec = in ? static_cast<time_t>(in->seconds) : 0;
            out.tv_nsec = in ? static_cast<long>(in->hundredNanos) * 100 : UTIME_OMIT;
        };
        fill(ts[0], access);
        fill(ts[1], modification);
        ::futimens(fd_, ts);
    }
    if (::close(fd_) != 0 && ok) {
        error_ = errno;
        ok = false;
    }
    fd_ = -1;
    return ok;
}

void OutputFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool OutputFile::diskFull() const { return error_ == ENOSPC || error_ == EDQUOT; }

std::string OutputFile::errorText() const { return error_ ? std::strerror(error_) : std::string(); }

std::int64_t freeSpaceAt(const std::string& folder) {
    struct statvfs vfs {};
    if (::statvfs(folder.c_str(), &vfs) != 0) return -1;
    return static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
}

void removeCreatedFile(const std::string& path) { ::unlink(path.c_str()); }

bool pathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace ondrel
