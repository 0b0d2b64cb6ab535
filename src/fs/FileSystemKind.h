#pragma once
// The file systems Ondrel knows and the recovery modes a scan can run in.
namespace ondrel {

enum class FileSystemKind { Ext, ExFat, Fat32, Fat16, Ntfs, HfsPlus, Xfs, Raw };  // Raw: finds of a signature scan

enum class RecoveryMode { Standard = 1, Advanced = 2, Deep = 3 };

// The mode from its number (1 standard, 2 advanced, 3 deep); anything else is standard.
constexpr RecoveryMode recoveryModeFromNumber(int n) {
    return n == 2 ? RecoveryMode::Advanced : n == 3 ? RecoveryMode::Deep : RecoveryMode::Standard;
}

}  // namespace ondrel
