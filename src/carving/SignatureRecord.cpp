#include "carving/SignatureRecord.h"

#include "common/Endian.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace ondrel {

namespace {
void putLe(std::uint8_t* p, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool parseNumber(const std::string& text, std::int64_t& out) {
    std::string t;
    for (char c : text)
        if (c != ' ') t += c;
    if (t.empty()) {
        out = 0;
        return true;
    }
    if (t.size() > 18 || t.find_first_not_of("0123456789") != std::string::npos) return false;
    out = std::stoll(t);
    return true;
}

std::u16string fromUtf8(const std::string& s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = c;
        std::size_t n = 1;
        if (c >= 0xF0) n = 4, cp = c & 0x07;
        else if (c >= 0xE0) n = 3, cp = c & 0x0F;
        else if (c >= 0xC0) n = 2, cp = c & 0x1F;
        for (std::size_t k = 1; k < n && i + k < s.size(); ++k) cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}
}  // namespace

std::array<std::uint8_t, kSignatureRecordSize> SignatureRecord::encode() const {
    std::array<std::uint8_t, kSignatureRecordSize> r{};
    for (std::size_t i = 0; i < std::min<std::size_t>(4, extension.size()); ++i) putLe(&r[2 * i], extension[i], 2);
    putLe(&r[10], startOffset, 2);
    r[12] = extensionLength;
    std::copy_n(start.begin(), std::min(start.size(), kMaxSignatureBytes), &r[13]);
    std::copy_n(end.begin(), std::min(end.size(), kMaxSignatureBytes), &r[23]);
    r[33] = static_cast<std::uint8_t>(std::min(start.size(), kMaxSignatureBytes));
    r[34] = static_cast<std::uint8_t>(std::min(end.size(), kMaxSignatureBytes));
    r[35] = index;
    putLe(&r[36], static_cast<std::uint32_t>(sizeOffset), 4);
    putLe(&r[40], static_cast<std::uint32_t>(sizeBytes), 4);
    putLe(&r[44], static_cast<std::uint32_t>(headerSize), 4);
    r[48] = sizeIncludesHeader ? 1 : 0;
    putLe(&r[53], static_cast<std::uint64_t>(approximateSize), 8);
    putLe(&r[61], static_cast<std::uint64_t>(sizeToSkip), 8);
    for (std::size_t i = 0; i < std::min<std::size_t>(50, category.size()); ++i) putLe(&r[69 + 2 * i], category[i], 2);
    return r;
}

SignatureRecord SignatureRecord::decode(const std::uint8_t* p) {
    Bytes b(p, kSignatureRecordSize);
    SignatureRecord r;
    for (std::size_t i = 0; i < 4 && le16(b, 2 * i) != 0; ++i) r.extension += static_cast<char16_t>(le16(b, 2 * i));
    r.startOffset = le16(b, 10);
    r.extensionLength = p[12];
    r.start.assign(p + 13, p + 13 + std::min<std::size_t>(p[33], kMaxSignatureBytes));
    r.end.assign(p + 23, p + 23 + std::min<std::size_t>(p[34], kMaxSignatureBytes));
    r.index = p[35];
    r.sizeOffset = static_cast<std::int32_t>(le32(b, 36));
    r.sizeBytes = static_cast<std::int32_t>(le32(b, 40));
    r.headerSize = static_cast<std::int32_t>(le32(b, 44));
    r.sizeIncludesHeader = p[48] != 0;
    r.approximateSize = static_cast<std::int64_t>(le64(b, 53));
    r.sizeToSkip = static_cast<std::int64_t>(le64(b, 61));
    for (std::size_t i = 0; i < 50 && le16(b, 69 + 2 * i) != 0; ++i) r.category += static_cast<char16_t>(le16(b, 69 + 2 * i));
    return r;
}

bool parseSignatureBytes(const std::string& text, std::vector<std::uint8_t>& out) {
    out.clear();
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t comma = text.find(',', at);
        std::string piece = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        piece.erase(std::remove(piece.begin(), piece.end(), ' '), piece.end());
        if (piece.size() > 2 && piece[0] == '0' && (piece[1] == 'x' || piece[1] == 'X')) piece = piece.substr(2);
        if (!piece.empty()) {
            if (piece.size() > 8 || piece.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
            out.push_back(static_cast<std::uint8_t>(std::stoul(piece, nullptr, 16) & 0xFF));
        }
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return out.size() <= kMaxSignatureBytes;
}

bool buildSignatureRecord(const SignatureFields& f, std::uint64_t fileLength, SignatureRecord& out, std::string& message) {
    SignatureRecord r;
    r.extension = fromUtf8(f.extension);
    if (r.extension.empty()) {
        message = "extention length is zero..";
        return false;
    }
    r.extensionLength = static_cast<std::uint8_t>(std::min<std::size_t>(r.extension.size(), 255));
    if (r.extension.size() > 4) r.extension.resize(4);
    if (!parseSignatureBytes(f.startSignature, r.start)) {
        message = "The starting signature must be up to ten hexadecimal bytes separated by commas (0x89,0x50,0x4E,0x47).";
        return false;
    }
    if (r.start.empty()) {
        message = "signature length is zero..";
        return false;
    }
    if (!parseSignatureBytes(f.endSignature, r.end)) {
        message = "The ending signature must be up to ten hexadecimal bytes separated by commas (0x49,0x45,0x4E,0x44).";
        return false;
    }
    std::int64_t startOffset = 0, sizeOffset = 0, sizeBytes = 0, headerSize = 0, skip = 0, approx = 0;
    if (!parseNumber(f.startOffset, startOffset) || !parseNumber(f.sizeOffset, sizeOffset) ||
        !parseNumber(f.sizeBytes, sizeBytes) || !parseNumber(f.headerSize, headerSize) ||
        !parseNumber(f.sizeToSkip, skip) || !parseNumber(f.approximateSize, approx)) {
        message = "The numeric fields take decimal digits only.";
        return false;
    }
    // The signature is looked for in the file's first sector.
    if (startOffset + static_cast<std::int64_t>(r.start.size()) > 512) {
        message = "Starting Signature Offset plus the signature's length must stay within the first 512 bytes.";
        return false;
    }
    if (sizeBytes > 8 || (sizeBytes > 0 && sizeOffset + sizeBytes > 512) || headerSize > INT32_MAX) {
        message = "A size field is at most 8 bytes and lies within the first 512 bytes.";
        return false;
    }
    r.startOffset = static_cast<std::uint16_t>(startOffset);
    r.sizeOffset = sizeOffset == 0 ? -1 : static_cast<std::int32_t>(sizeOffset);
    r.sizeBytes = static_cast<std::int32_t>(sizeBytes);
    r.headerSize = static_cast<std::int32_t>(headerSize);
    r.sizeIncludesHeader = f.sizeIncludesHeader;
    r.sizeToSkip = skip;
    r.approximateSize = approx;
    r.index = static_cast<std::uint8_t>(fileLength / kSignatureRecordSize);
    r.category = fromUtf8(f.category);
    if (r.category.size() > 50) r.category.resize(50);
    out = std::move(r);
    message = "everything initialized well.....";
    return true;
}

bool appendSignatureRecord(const std::string& path, const SignatureRecord& record, std::string& message) {
    // Definitions are appended to a settings file, never written into a device.
    std::error_code ec;
    auto status = std::filesystem::status(path, ec);
    if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        message = "File can not be created";
        return false;
    }
    std::ofstream f(path, std::ios::binary | std::ios::app);
    auto bytes = record.encode();
    if (!f || !f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())) || !f.flush()) {
        message = "File can not be created";
        return false;
    }
    return true;
}

bool loadSignatureRecords(const std::string& path, std::vector<SignatureRecord>& out, std::string& message) {
    // Only a regular file of at most 1 MiB is read: a device (/dev/zero) or a
    // huge sparse file is refused before a byte of it is taken in.
    std::error_code ec;
    auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        message = "Cannot open the selected file";
        return false;
    }
    if (!std::filesystem::is_regular_file(status) || std::filesystem::file_size(path, ec) > kMaxSettingsFileBytes || ec) {
        message = "Please select a valid file..";
        return false;
    }
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        message = "Cannot open the selected file";
        return false;
    }
    // Read at most one byte more than a settings file may hold, whatever
    // the file has grown to since it was measured.
    std::vector<char> data(kMaxSettingsFileBytes + 1);
    f.read(data.data(), static_cast<std::streamsize>(data.size()));
    data.resize(static_cast<std::size_t>(f.gcount()));
    // Records are read by count (length / 177), not by the 8-bit index of the
    // last one, which wraps after 256 records.
    if (data.size() > kMaxSettingsFileBytes || data.size() % kSignatureRecordSize != 0 || f.bad()) {
        message = "Please select a valid file..";
        return false;
    }
    for (std::size_t at = 0; at < data.size(); at += kSignatureRecordSize)
        out.push_back(SignatureRecord::decode(reinterpret_cast<const std::uint8_t*>(data.data()) + at));
    return true;
}

}  // namespace ondrel
