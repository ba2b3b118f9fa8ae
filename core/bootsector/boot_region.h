#pragma once
// exFAT boot-region checksum and storing a serial into boot-sector copies.
#include <cstdint>
#include <span>

#include "bootsector/detect.h"

namespace tlx {

// Copies that a change leaves alone, and why.
enum class PlanNote : std::int32_t {
    Fat32NoBackup = 0,
    Fat32BackupNotCopy = 1,
    ExFatBackupInconsistent = 2,
    NtfsBackupUnreachable = 3,
    NtfsBackupNotCopy = 4,
};

inline constexpr std::uint32_t kExFatRegionSectors = 12;

// Checksum of the first 11 sectors, skipping VolumeFlags (106, 107) and PercentInUse (112).
[[nodiscard]] std::uint32_t exfatBootChecksum(std::span<const std::uint8_t> region, std::uint32_t bytesPerSector);
[[nodiscard]] bool verifyExfatBootRegion(std::span<const std::uint8_t> region, std::uint32_t bytesPerSector);
void writeSerialField(std::span<std::uint8_t> sector, std::uint32_t serialOffset, std::uint32_t serialWidth,
                      VolumeSerial serial);
// Stores the serial and rewrites the region's checksum sector.
void writeExfatRegionSerial(std::span<std::uint8_t> region, const BootSectorInfo& info, VolumeSerial serial);

}  // namespace tlx
