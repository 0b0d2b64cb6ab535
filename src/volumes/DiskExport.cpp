#include "volumes/DiskExport.h"
#include "common/IoBuffer.h"

#include "platform/OutputFile.h"
#include "platform/ReadOnlyFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace ondrel {

std::string exportOutputPath(const std::string& imagePath, const std::string& folder) {
    std::string dir = folder;
    if (dir.empty() || dir.back() != kPathSeparator) dir += kPathSeparator;
    auto slash = imagePath.find_last_of(kPathSeparator);
    std::string name = slash == std::string::npos ? "Recovered_diskimg.img" : imagePath.substr(slash + 1) + ".img";
    std::string path = dir + name;
    for (int n = 1; pathExists(path); ++n) path = dir + std::to_string(n) + name;
    return path;
}

namespace {
constexpr std::int64_t kChunk = 0x500000;        // 5 MiB per read and write
constexpr std::int64_t kProgressStep = 0xA00000;  // the bar moves every 10 MiB

std::string folderOf(const std::string& path) {
    auto slash = path.find_last_of(kPathSeparator);
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string(1, kPathSeparator) : path.substr(0, slash);
}

std::string savedText(std::int64_t next, std::int64_t size) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "%lld MB of %lld MB or %Lf GB of %Lf GB Saved", static_cast<long long>(next / 1048576),
                  static_cast<long long>(size / 1048576), static_cast<long double>(next) / 1073741824.0L,
                  static_cast<long double>(size) / 1073741824.0L);
    return buf;
}
enum class DirectCopy { Done, Unsupported, ReadFailed, WriteFailed };

// Copies [from, to) of the disk into the output run by run: bytes that lie in
// a file (the image, a parent, a part) inside the kernel, zero runs as holes,
// and runs only the reader can produce (compressed clusters) through buffer.
// Unsupported when the reader or the system cannot copy inside the kernel;
// nothing is written then.
DirectCopy copyDirect(readWriteInterface& reader, OutputFile& file, IoBuffer& buffer, std::int64_t from, std::int64_t to) {
    if (!reader.imageFile()) return DirectCopy::Unsupported;
    std::int64_t start = file.position();
    for (std::int64_t pos = from; pos < to;) {
        std::optional<DiskExtent> e = reader.extentAt(pos);
        if (!e) return pos == from ? DirectCopy::Unsupported : DirectCopy::ReadFailed;
        auto n = static_cast<std::int64_t>(std::min<std::uint64_t>(e->length, static_cast<std::uint64_t>(to - pos)));
        if (e->kind == DiskExtent::Kind::Unmapped) return DirectCopy::ReadFailed;
        if (e->kind == DiskExtent::Kind::Zero) {
            file.skip(static_cast<std::size_t>(n));
        } else if (e->kind == DiskExtent::Kind::ReadThrough) {
            n = std::min<std::int64_t>(n, static_cast<std::int64_t>(buffer.size()));
            if (!reader.readAt(pos, buffer.data(), static_cast<std::uint32_t>(n))) return DirectCopy::ReadFailed;
            if (!file.write(buffer.data(), static_cast<std::size_t>(n), true)) return DirectCopy::WriteFailed;
        } else {
            const ReadOnlyFile& source = e->file ? *e->file : *reader.imageFile();
            std::int64_t got = file.copyFrom(source, e->fileOffset, static_cast<std::size_t>(n));
            if (got < 0) {
                file.rewindTo(start);  // the caller writes the whole chunk again
                return DirectCopy::Unsupported;
            }
            if (got < n) return file.errorCode() ? DirectCopy::WriteFailed : DirectCopy::ReadFailed;
        }
        pos += n;
    }
    return DirectCopy::Done;
}

}  // namespace

ExportOutcome DiskExport::run(const std::string& outputPath) {
    ExportOutcome out;
    auto failWith = [&](const std::string& text) {
        out.message = text;
        observer_.message(text);
        return out;
    };
    reader_.baseOffset = 0;
    std::int64_t size = static_cast<std::int64_t>(reader_.sectorCount()) * 512;
    if (size == 0) size = reader_.fileLength / 512 * 512;
    if (size <= 0) return failWith("The image holds no sectors to export.");

    std::int64_t free = freeSpaceAt(folderOf(outputPath));
    if (free < 0) return failWith("File cannot be Created");
    if (free < size) return failWith("Insufficient Disk Space in saving Location");

    OutputFile file;
    if (!file.create(outputPath)) return failWith("Disk Image file cannot be created");

    observer_.progressRange(0, size / 512);
    observer_.progressPosition(0);
    IoBuffer buffer(kChunk);
    bool tryDirect = true;
    auto writeFailure = [&] {
        return file.diskFull() ? std::string("Insufficient Disk Space in saving Location")
                               : "Error " + std::to_string(file.errorCode()) + " while writing in File";
    };
    for (std::int64_t done = 0; done < size;) {
        std::int64_t next = std::min(done + kChunk, size);
        auto n = static_cast<std::uint32_t>(next - done);
        DirectCopy direct = tryDirect ? copyDirect(reader_, file, buffer, done, next) : DirectCopy::Unsupported;
        if (direct == DirectCopy::Unsupported) {
            tryDirect = false;
            if (!reader_.readAt(done, buffer.data(), n)) direct = DirectCopy::ReadFailed;
            // Zero runs become holes: the file reads back the same, and exporting a
            // mostly empty container does not write gigabytes of zeros.
            else if (!file.write(buffer.data(), n, true)) direct = DirectCopy::WriteFailed;
        }
        if (direct == DirectCopy::ReadFailed) {
            int code = reader_.lastErrorCode() ? reader_.lastErrorCode() : EIO;
            observer_.status("Exit with error number " + std::to_string(code));
            out.message = "Exit with error number " + std::to_string(code);
            file.finish();
            return out;
        }
        if (direct == DirectCopy::WriteFailed) {
            file.close();
            return failWith(writeFailure());
        }
        out.bytesWritten = next;
        if (next % kProgressStep == 0 || next == size) observer_.progressPosition(next / 512);
        observer_.status(savedText(next, size));
        done = next;
        if (control_.poll() && done < size) {
            out.stopped = true;
            break;
        }
    }
    if (!file.finish()) return failWith(writeFailure());
    out.ok = !out.stopped;
    observer_.status("Image Saved,Choose any one of the mode and click next.");
    return out;
}

}  // namespace ondrel
