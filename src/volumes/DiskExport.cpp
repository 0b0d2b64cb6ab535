#include "volumes/DiskExport.h"
#include "common/IoBuffer.h"

#include "platform/OutputFile.h"
#include "platform/ReadOnlyFile.h"

#include <algorithm>
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
enum class DirectCopy { Done, Unsupported, WriteFailed };

// Reads n bytes at pos through buffer and writes them; bytes that cannot be read
// are written as zeros and counted in unreadable. Damage is looked for sector by
// sector only where a larger read failed.
bool copyThrough(const ByteSource& source, OutputFile& file, IoBuffer& buffer, std::int64_t pos, std::int64_t n,
                 std::int64_t& unreadable) {
    auto* bytes = static_cast<std::uint8_t*>(buffer.data());
    for (std::int64_t done = 0; done < n;) {
        auto take = static_cast<std::size_t>(std::min<std::int64_t>(n - done, static_cast<std::int64_t>(buffer.size())));
        if (!source.readAt(pos + done, bytes, take)) {
            // Count the sectors that fail; the rest of the piece was delivered.
            for (std::size_t at = 0; at < take; at += 512) {
                std::size_t piece = std::min<std::size_t>(512, take - at);
                if (!source.readAt(pos + done + static_cast<std::int64_t>(at), bytes + at, piece))
                    unreadable += static_cast<std::int64_t>(piece);
            }
        }
        if (!file.write(bytes, take, true)) return false;
        done += static_cast<std::int64_t>(take);
    }
    return true;
}

// Copies [from, to) of the source into the output run by run: bytes that lie
// in a file (the image, a parent, a part) inside the kernel, zero runs as
// holes, and runs only the reader can produce (compressed clusters, damage)
// through buffer. Unsupported when the source or the system cannot copy inside
// the kernel; nothing is written then.
DirectCopy copyDirect(const ByteSource& source, OutputFile& file, IoBuffer& buffer, std::int64_t from, std::int64_t to,
                      std::int64_t& unreadable) {
    std::int64_t start = file.position();
    for (std::int64_t pos = from; pos < to;) {
        std::optional<DiskExtent> e = source.extentAt(pos);
        if (!e) {
            if (pos == from) return DirectCopy::Unsupported;
            return copyThrough(source, file, buffer, pos, to - pos, unreadable) ? DirectCopy::Done : DirectCopy::WriteFailed;
        }
        auto n = static_cast<std::int64_t>(std::min<std::uint64_t>(std::max<std::uint64_t>(e->length, 1),
                                                                   static_cast<std::uint64_t>(to - pos)));
        if (e->kind == DiskExtent::Kind::Zero) {
            file.skip(static_cast<std::size_t>(n));
        } else if (e->kind == DiskExtent::Kind::Data && e->file) {
            std::int64_t got = file.copyFrom(*e->file, e->fileOffset, static_cast<std::size_t>(n));
            if (got < 0) {
                file.rewindTo(start);  // the caller writes the whole chunk again
                return DirectCopy::Unsupported;
            }
            if (got < n) {
                if (file.errorCode()) return DirectCopy::WriteFailed;
                // The file ended early: the rest reads as the reader gives it.
                if (!copyThrough(source, file, buffer, pos + got, n - got, unreadable)) return DirectCopy::WriteFailed;
            }
        } else if (!copyThrough(source, file, buffer, pos, n, unreadable)) {
            return DirectCopy::WriteFailed;
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
    std::int64_t size = reader_.size();
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
        DirectCopy direct = tryDirect ? copyDirect(reader_, file, buffer, done, next, out.unreadableBytes)
                                      : DirectCopy::Unsupported;
        if (direct == DirectCopy::Unsupported) {
            tryDirect = false;
            // Zero runs become holes: the file reads back the same, and exporting a
            // mostly empty container does not write gigabytes of zeros.
            direct = copyThrough(reader_, file, buffer, done, next - done, out.unreadableBytes) ? DirectCopy::Done
                                                                                               : DirectCopy::WriteFailed;
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
    out.ok = !out.stopped && out.unreadableBytes == 0;
    if (out.unreadableBytes > 0) {
        out.message = std::to_string(out.unreadableBytes / 512) +
                      " sectors could not be read; the image holds zeros in their place.";
        observer_.message(out.message);
    }
    observer_.status("Image Saved,Choose any one of the mode and click next.");
    return out;
}

}  // namespace ondrel
