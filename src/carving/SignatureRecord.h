#pragma once
// One signature definition as a settings file keeps it: 177 bytes,
// little-endian, records back to back with no header. The default set lies in
// "FileSetting.txt" beside the executables; users write their own files.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ondrel {

inline constexpr std::size_t kSignatureRecordSize = 177;
inline constexpr std::size_t kMaxSignatureBytes = 10;
inline constexpr std::uint64_t kMaxSettingsFileBytes = 1 << 20;

struct SignatureRecord {
    std::u16string extension;             // at most four units are kept
    std::uint8_t extensionLength = 0;     // as typed
    std::uint16_t startOffset = 0;        // of the start signature in the first sector
    std::vector<std::uint8_t> start, end; // at most ten bytes each; end may be empty
    std::uint8_t index = 0;               // the record's place when appended (8 bits)
    std::int32_t sizeOffset = -1;         // of a size field in the header; -1 none
    std::int32_t sizeBytes = 0;
    std::int32_t headerSize = 0;
    bool sizeIncludesHeader = false;
    std::int64_t approximateSize = 0;     // the cap; 0 none
    std::int64_t sizeToSkip = 0;          // after a hit, in bytes; 0 none
    std::u16string category;              // at most 50 units

    std::array<std::uint8_t, kSignatureRecordSize> encode() const;
    static SignatureRecord decode(const std::uint8_t* bytes);
};

// The fields of the definition dialog, as typed.
struct SignatureFields {
    std::string extension, startSignature, startOffset, endSignature, sizeOffset, sizeBytes;
    bool sizeIncludesHeader = false;
    std::string headerSize, sizeToSkip, approximateSize, category;
};

// "0x89,0x50,0x4E,0x47" or "ff,d8": the low byte of each hexadecimal piece;
// false for a piece that is not hexadecimal or more than ten bytes.
bool parseSignatureBytes(const std::string& text, std::vector<std::uint8_t>& out);

// Builds a record from the dialog's fields for a file of fileLength bytes; false
// with the dialog's message ("extention length is zero..", "signature length is
// zero..") or a reason for what cannot be stored.
bool buildSignatureRecord(const SignatureFields& fields, std::uint64_t fileLength, SignatureRecord& out,
                          std::string& message);

// Appends the record at the end of the settings file (created when missing).
bool appendSignatureRecord(const std::string& path, const SignatureRecord& record, std::string& message);

// Every record of a settings file: length / 177 of them. False with the
// message ("Cannot open the selected file", "Please select a valid file..")
// for a file that cannot be read, is longer than 1 MiB, or ends in a partial record.
bool loadSignatureRecords(const std::string& path, std::vector<SignatureRecord>& out, std::string& message);

}  // namespace ondrel
