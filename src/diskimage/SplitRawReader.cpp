#include "diskimage/SplitRawReader.h"


#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace ondrel {

namespace {
constexpr std::size_t kMaxParts = 100000;

// The name after this one in its sequence ("" when the suffix runs out).
std::string nextName(const std::string& name, std::size_t suffixAt) {
    std::string n = name;
    bool digits = std::isdigit(static_cast<unsigned char>(n[suffixAt])) != 0;
    for (std::size_t i = n.size(); i-- > suffixAt;) {
        char& c = n[i];
        if (digits ? c != '9' : c != 'z') {
            ++c;
            return n;
        }
        c = digits ? '0' : 'a';
    }
    return {};
}

bool isFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}
}  // namespace

std::vector<std::string> splitImageParts(const std::string& path) {
    std::vector<std::string> parts{path};
    auto dot = path.find_last_of('.');
    auto slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 >= path.size()) return parts;
    std::string suffix = path.substr(dot + 1);
    bool digits = std::all_of(suffix.begin(), suffix.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
    bool letters = suffix.size() >= 2 && std::all_of(suffix.begin(), suffix.end(), [](char c) { return c == 'a'; });
    if (digits) {
        // The first part is numbered 0 or 1.
        if (suffix.size() < 2 || suffix.find_first_not_of('0') < suffix.size() - 1 || suffix.back() > '1') return parts;
    } else if (!letters) {
        return parts;
    }
    for (std::string n = nextName(path, dot + 1); !n.empty() && parts.size() < kMaxParts && isFile(n);
         n = nextName(n, dot + 1))
        parts.push_back(n);
    return parts;
}

bool SplitRawReader::open(const std::string& path, const OpenOptions& options) {
    path_ = path;
    options_ = options;
    names_ = splitImageParts(path);
    parts_.clear();
    starts_.clear();
    std::uint64_t total = 0;
    for (const std::string& name : names_) {
        ReadOnlyFile f;
        if (!f.open(name)) {
            noteError(f.errorCode());
            return fail("Invalid handle.");
        }
        starts_.push_back(total);
        total += static_cast<std::uint64_t>(f.size());
        parts_.push_back(std::move(f));
    }
    starts_.push_back(total);
    fileLength = parts_.front().size();
    if (total == 0) return fail("The image is empty: it holds no sectors to read.");
    setSectorCount(options.diskSizeOverride != 0 ? options.diskSizeOverride >> 9 : total / kSectorSize);
    return true;
}

BlockMappedReader::Mapping SplitRawReader::mapAt(std::uint64_t a) const {
    Mapping m;
    if (a >= starts_.back()) {
        m.length = std::uint64_t(1) << 40;
        return m;
    }
    // The part whose range holds a: the last start not above it.
    auto it = std::upper_bound(starts_.begin(), starts_.end(), a);
    std::size_t part = static_cast<std::size_t>(it - starts_.begin()) - 1;
    m.kind = Kind::Data;
    m.file = &parts_[part];
    m.fileOffset = static_cast<std::int64_t>(a - starts_[part]);
    m.length = starts_[part + 1] - a;
    return m;
}

std::vector<ImageLayer> SplitRawReader::layers() const {
    std::vector<ImageLayer> out;
    for (std::size_t i = 0; i < parts_.size(); ++i)
        out.push_back({names_[i], "split raw, part " + std::to_string(i + 1) + " of " + std::to_string(parts_.size()), "",
                       parts_[i].size()});
    return out;
}

}  // namespace ondrel
