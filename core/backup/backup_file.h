#pragma once
// The .tlxbak file: a "TLXBAK 1" text header with SHA-256 digests, then the saved sectors.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bootsector/detect.h"
#include "backup/sha256.h"
#include "bootsector/plan.h"

namespace tlx {

struct BackupRegion {
    BootRegion kind = BootRegion::BootSector;
    std::uint64_t firstSector = 0;  // device sectors from the start of the volume
    std::uint32_t sectorCount = 0;
    std::vector<std::uint8_t> bytes;
};

struct BootSectorBackup {
    std::wstring volume;
    std::wstring mount;
    FsType fsType = FsType::Unknown;
    std::uint32_t bytesPerSector = 0;
    std::uint32_t deviceSector = 0;
    std::uint64_t volumeSectors = 0;
    std::uint32_t serialBytes = 4;
    VolumeSerial oldSerial = 0;
    VolumeSerial newSerial = 0;
    std::string created;  // YYYY-MM-DDTHH:MM:SSZ, UTC
    std::string app;
    std::vector<BackupRegion> regions;
};

enum class BackupParseError : std::int32_t {
    None = 0,
    BadMagic = 1,
    UnsupportedVersion = 2,
    BadHeader = 3,
    Truncated = 4,
    ChecksumMismatch = 5,
};

// "None", "BadMagic", ... ; "?" for other values.
[[nodiscard]] const char* backupParseErrorName(BackupParseError value);

struct BackupReadResult {
    BackupParseError parseError = BackupParseError::None;
    std::uint32_t systemError = 0;
    BootSectorBackup backup;
    // readBackupFile: SHA-256 of the whole file as read, so what runs later can be held to the very
    // bytes a user was shown; absent when nothing was read or hashing failed.
    std::optional<Sha256Digest> fileDigest;
};

inline constexpr std::uint64_t kMaxBackupFileBytes = 64ull * 1024 * 1024;

// The record a change saves: the plan's "before" bytes, in plan order.
[[nodiscard]] BootSectorBackup backupFromPlan(const ChangePlan& plan, std::wstring volume, std::wstring mount,
                                              std::string app, std::string created);
// Absent only when hashing failed; such a backup must not be written.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> serializeBackup(const BootSectorBackup& backup);
[[nodiscard]] BackupReadResult parseBackup(std::span<const std::uint8_t> bytes);
[[nodiscard]] BackupReadResult readBackupFile(const std::wstring& path);

}  // namespace tlx
