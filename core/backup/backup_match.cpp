// Matching a backup's saved boot sector against the volume, and checking where its regions may go.
#include "backup/backup_match.h"

#include <cstdint>
#include <span>
#include <vector>

#include "backup/backup_file.h"
#include "bootsector/boot_region.h"
#include "device/sector_device.h"

namespace tlx {

namespace {

// exFAT VolumeFlags and PercentInUse change with ordinary use.
bool isExfatUsageByte(std::uint32_t index) {
    return index == 106 || index == 107 || index == 112;
}

// The region raw recovery and matching treat as the saved boot sector: the last one at sector 0.
const BackupRegion* savedBootRegion(const BootSectorBackup& backup) {
    const BackupRegion* found = nullptr;
    for (const BackupRegion& region : backup.regions)
        if (region.firstSector == 0)
            found = &region;
    return found;
}

bool isFat(FsType type) {
    return type == FsType::FAT12 || type == FsType::FAT16 || type == FsType::FAT32;
}

// Where a copy of this kind lies on this file system, in device sectors; false when it has none there.
bool expectedPlace(const BootSectorBackup& backup, BootRegion kind, std::uint64_t n, std::uint64_t& first,
                   std::uint64_t& count) {
    const FsType fs = backup.fsType;
    switch (kind) {
    case BootRegion::BootSector:
        if (!isFat(fs) && fs != FsType::NTFS)
            return false;
        first = 0;
        count = n;
        return true;
    case BootRegion::ExFatMainRegion:
    case BootRegion::ExFatBackupRegion:
        if (fs != FsType::exFAT)
            return false;
        count = kExFatRegionSectors * n;
        first = kind == BootRegion::ExFatMainRegion ? 0 : count;
        return true;
    case BootRegion::BackupBootSector:
        if (fs == FsType::NTFS) {
            if (backup.volumeSectors == 0 || backup.volumeSectors > UINT64_MAX / n)
                return false;
            first = backup.volumeSectors * n;
            count = n;
            return true;
        }
        if (fs == FsType::FAT32) {
            // Only the saved boot sector's own BPB says where its backup lies.
            const BackupRegion* boot = savedBootRegion(backup);
            if (!boot || boot->kind != BootRegion::BootSector || boot->bytes.size() < backup.bytesPerSector)
                return false;
            const BootSectorInfo info =
                detectBootSector(std::span<const std::uint8_t>(boot->bytes.data(), backup.bytesPerSector));
            if (info.status != DetectStatus::Ok || info.fsType != FsType::FAT32 ||
                info.bytesPerSector != backup.bytesPerSector || info.backupBootSector == 0)
                return false;
            first = std::uint64_t{info.backupBootSector} * n;
            count = n;
            return true;
        }
        return false;
    }
    return false;
}

}  // namespace

BackupMatch matchBackup(const BootSectorBackup& backup, SectorDevice& device) {
    const std::uint32_t deviceSector = device.sectorSize();
    const std::uint32_t bytesPerSector = backup.bytesPerSector;
    if (deviceSector != backup.deviceSector)
        return BackupMatch::Different;
    if (deviceSector == 0 || bytesPerSector < deviceSector || bytesPerSector % deviceSector != 0)
        return BackupMatch::Different;

    const BackupRegion* saved = savedBootRegion(backup);
    if (!saved || saved->bytes.size() < bytesPerSector)
        return BackupMatch::Undetermined;
    const std::span<const std::uint8_t> savedSector(saved->bytes.data(), bytesPerSector);
    const BootSectorInfo savedInfo = detectBootSector(savedSector);
    if (savedInfo.status != DetectStatus::Ok)
        return BackupMatch::Undetermined;

    std::vector<std::uint8_t> current(bytesPerSector, 0);
    if (!device.readSectors(0, bytesPerSector / deviceSector, current.data()))
        return BackupMatch::Undetermined;
    if (detectBootSector(current).status != DetectStatus::Ok)
        return BackupMatch::Undetermined;

    const bool exfat = savedInfo.fsType == FsType::exFAT;
    for (std::uint32_t i = 0; i < bytesPerSector; ++i) {
        if (i >= savedInfo.serialOffset && i < savedInfo.serialOffset + savedInfo.serialWidth)
            continue;
        if (exfat && isExfatUsageByte(i))
            continue;
        if (current[i] != savedSector[i])
            return BackupMatch::Different;
    }
    return BackupMatch::Same;
}

bool regionsWhereTheyBelong(const BootSectorBackup& backup) {
    const std::uint32_t deviceSector = backup.deviceSector;
    if (deviceSector == 0 || backup.bytesPerSector < deviceSector || backup.bytesPerSector % deviceSector != 0)
        return false;
    const std::uint64_t n = backup.bytesPerSector / deviceSector;
    if (backup.regions.empty())
        return false;
    bool seen[4] = {};
    for (const BackupRegion& region : backup.regions) {
        const auto kind = static_cast<std::size_t>(region.kind);
        if (kind >= 4 || seen[kind])
            return false;
        seen[kind] = true;
        std::uint64_t first = 0, count = 0;
        if (!expectedPlace(backup, region.kind, n, first, count))
            return false;
        if (region.firstSector != first || region.sectorCount != count ||
            region.bytes.size() != std::uint64_t{region.sectorCount} * deviceSector)
            return false;
    }
    return true;
}

}  // namespace tlx
