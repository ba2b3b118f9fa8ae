#pragma once
// A serial change, or a raw recovery, worked out completely in memory before anything is written.
#include <cstdint>
#include <vector>

#include "bootsector/boot_region.h"
#include "bootsector/detect.h"

namespace tlx {

class SectorDevice;
struct BootSectorBackup;

enum class BootRegion : std::int32_t { BootSector = 0, BackupBootSector = 1, ExFatMainRegion = 2, ExFatBackupRegion = 3 };

// "BootSector", "BackupBootSector", "ExFatMainRegion", "ExFatBackupRegion"; nullptr otherwise.
[[nodiscard]] const char* bootRegionName(BootRegion kind);

struct RegionWrite {
    BootRegion kind = BootRegion::BootSector;
    std::uint64_t firstSector = 0;  // device sectors
    std::uint32_t sectorCount = 0;  // device sectors
    std::vector<std::uint8_t> before;
    std::vector<std::uint8_t> after;
};

struct ChangePlan {
    FsType fsType = FsType::Unknown;
    std::uint32_t bytesPerSector = 0;
    std::uint64_t totalSectors = 0;
    VolumeSerial serial = 0;
    std::uint32_t serialWidth = 0;
    std::uint32_t serialOffset = 0;
    std::uint32_t backupBootSector = 0;
    VolumeSerial oldSerial = 0;
    VolumeSerial newSerial = 0;
    std::vector<RegionWrite> regions;  // written in this order: backup copy first, main last
    std::vector<PlanNote> notes;
};

enum class PlanError : std::int32_t {
    None = 0,
    ReadFailed = 1,
    NotRecognised = 2,
    SectorSizeMismatch = 3,
    SerialTooWide = 4,
    SameSerial = 5,
    ChecksumDamaged = 6,
    NothingToRestore = 7,
};

struct PlanResult {
    PlanError planError = PlanError::None;
    DetectStatus detectStatus = DetectStatus::Ok;
    std::uint32_t systemError = 0;
    ChangePlan plan;  // empty unless planError is None
};

// Reads, never writes. newSerial is final (the low-half rule is already applied).
[[nodiscard]] PlanResult planChange(SectorDevice& device, VolumeSerial newSerial);
// Plans writing the backup's saved regions back exactly, skipping those the disk already holds.
[[nodiscard]] PlanResult planRawRecovery(SectorDevice& device, const BootSectorBackup& backup);

}  // namespace tlx
