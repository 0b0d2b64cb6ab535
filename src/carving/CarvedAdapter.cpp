#include "carving/CarvedAdapter.h"

#include "fs/DataSink.h"

#include <algorithm>

namespace ondrel {

namespace {
constexpr std::size_t kReadChunk = 4u << 20;
}

CarvedAdapter::CarvedAdapter(const ByteSource& reader, std::shared_ptr<const myJpg> scanner)
    : reader_(reader), scanner_(std::move(scanner)) {
    const auto& cats = scanner_->categories();
    byCategory_.assign(cats.size(), {});
    for (std::size_t i = 0; i < scanner_->files().size(); ++i) {
        const std::string& c = scanner_->signatures()[scanner_->files()[i].entry].category;
        auto at = std::find(cats.begin(), cats.end(), c) - cats.begin();
        byCategory_[static_cast<std::size_t>(at)].push_back(1 + categoryCount() + static_cast<EntryId>(i));
    }
}

const CarvedFile* CarvedAdapter::find(EntryId entry) const {
    EntryId i = entry - 1 - categoryCount();
    if (i < 0 || i >= static_cast<EntryId>(scanner_->files().size())) return nullptr;
    return &scanner_->files()[static_cast<std::size_t>(i)];
}

std::vector<EntryId> CarvedAdapter::children(EntryId folder) const {
    if (folder == 0) {
        std::vector<EntryId> out;
        for (EntryId c = 1; c <= categoryCount(); ++c) out.push_back(c);
        return out;
    }
    if (folder >= 1 && folder <= categoryCount()) return byCategory_[static_cast<std::size_t>(folder - 1)];
    return {};
}

std::string CarvedAdapter::name(EntryId entry) const {
    if (auto r = renamed_.find(entry); r != renamed_.end()) return r->second;
    if (entry == 0) return "RAW RECOVERY ";
    if (entry <= categoryCount()) {
        const std::string& c = scanner_->categories()[static_cast<std::size_t>(entry - 1)];
        return c + " (" + std::to_string(scanner_->count(c)) + ")";
    }
    const CarvedFile* f = find(entry);
    return f ? scanner_->fileName(*f) : std::string();
}

std::uint64_t CarvedAdapter::size(EntryId entry) const {
    const CarvedFile* f = find(entry);
    return f ? static_cast<std::uint64_t>(f->size) : 0;
}

void CarvedAdapter::rename(EntryId entry, const std::string& newName) { renamed_[entry] = newName; }

WriteResult CarvedAdapter::extract(const CarvedFile& f, DataSink& sink) {
    // One buffer for every find, grown to what the largest needed so far
    // (a fresh one per find cost a clear of up to 4 MiB each).
    IoBuffer& buffer = buffer_;
    const std::size_t want = std::min<std::size_t>(kReadChunk, static_cast<std::size_t>(std::max<std::int64_t>(f.size, 1)));
    if (buffer.size() < want) buffer.resize(want);
    bool complete = true;
    for (std::int64_t done = 0; done < f.size;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(f.size - done, static_cast<std::int64_t>(want)));
        // What lies past the disk's end reads as zeros, and the find counts as failed.
        if (!reader_.readAt(f.offset + done, buffer.data(), static_cast<std::uint32_t>(n))) {
            std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n), 0);
            complete = false;
        }
        if (!sink.write(buffer.data(), n)) return WriteResult::WriteFailed;
        done += static_cast<std::int64_t>(n);
    }
    return complete ? WriteResult::Written : WriteResult::ReadFailed;
}

WriteResult CarvedAdapter::writeInto(EntryId entry, OutputFile& file) {
    const CarvedFile* f = find(entry);
    if (!f) return WriteResult::NotAFile;
    return writeThrough(entry, file, [&](DataSink& sink) { return extract(*f, sink); });
}

bool CarvedAdapter::readContent(EntryId entry, std::vector<std::uint8_t>& out, std::size_t limit) {
    const CarvedFile* f = find(entry);
    if (!f) return false;
    readThrough(out, limit, [&](DataSink& sink) { return extract(*f, sink); });
    return true;
}

}  // namespace ondrel
