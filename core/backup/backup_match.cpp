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

// A copy is usable only if it is itself a boot sector of the same file system, sector size and length.
bool sameGeometry(std::span<const std::uint8_t> bytes, const BootSectorInfo& info) {
    const BootSectorInfo other = detectBootSector(bytes);
    return other.status == DetectStatus::Ok && other.fsType == info.fsType &&
           other.bytesPerSector == info.bytesPerSector && other.totalSectors == info.totalSectors;
}

// Is the region where and what its kind must be on the file system the saved boot sector describes?
// n is the number of device sectors per file-system sector.
bool regionBelongs(const BackupRegion& region, const BootSectorInfo& info, std::uint64_t n,
                   std::uint32_t deviceSector) {
    std::uint64_t first = 0;
    std::uint64_t count = n;
    bool content = true;
    switch (region.kind) {
    case BootRegion::BootSector:
        if (!isFat(info.fsType) && info.fsType != FsType::NTFS)
            return false;
        break;
    case BootRegion::ExFatMainRegion:
    case BootRegion::ExFatBackupRegion:
        if (info.fsType != FsType::exFAT)
            return false;
        count = kExFatRegionSectors * n;
        if (region.kind == BootRegion::ExFatBackupRegion) {
            first = count;
            content = sameGeometry(region.bytes, info);
        }
        content = content && verifyExfatBootRegion(region.bytes, info.bytesPerSector);
        break;
    case BootRegion::BackupBootSector:
        if (info.fsType == FsType::FAT32 && info.backupBootSector != 0)
            first = std::uint64_t{info.backupBootSector} * n;
        else if (info.fsType == FsType::NTFS && info.totalSectors < UINT64_MAX / n)
            first = info.totalSectors * n;
        else
            return false;
        content = sameGeometry(region.bytes, info);
        break;
    default:
        return false;
    }
    return content && region.firstSector == first && region.sectorCount == count &&
           region.bytes.size() == count * deviceSector;
}

// The first current.size() bytes of saved equal current apart from the serial and, on exFAT, the usage bytes.
bool sameApartFromSerial(std::span<const std::uint8_t> saved, std::span<const std::uint8_t> current,
                         const BootSectorInfo& info) {
    const bool exfat = info.fsType == FsType::exFAT;
    for (std::size_t i = 0; i < current.size(); ++i) {
        if (i >= info.serialOffset && i < info.serialOffset + info.serialWidth)
            continue;
        if (exfat && isExfatUsageByte(static_cast<std::uint32_t>(i)))
            continue;
        if (current[i] != saved[i])
            return false;
    }
    return true;
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
    const BootSectorInfo savedInfo = detectBootSector(std::span<const std::uint8_t>(saved->bytes.data(), bytesPerSector));
    if (savedInfo.status != DetectStatus::Ok)
        return BackupMatch::Undetermined;

    // A saved exFAT main region is compared up to its checksum sector, which a serial change rewrites.
    const bool exfat = savedInfo.fsType == FsType::exFAT;
    const std::uint64_t wholeRegion = std::uint64_t{kExFatRegionSectors - 1} * bytesPerSector;
    const std::size_t length = exfat && saved->bytes.size() >= wholeRegion ? wholeRegion : bytesPerSector;

    // An unreadable or unrecognised main sector cannot tell; the volume's sound copies still can.
    std::vector<std::uint8_t> current(length, 0);
    const bool mainKnown = device.readSectors(0, static_cast<std::uint32_t>(length / deviceSector), current.data()) &&
                           detectBootSector(current).status == DetectStatus::Ok;
    if (mainKnown && !sameApartFromSerial(saved->bytes, current, savedInfo))
        return BackupMatch::Different;

    // A saved copy is held against the volume's own copy in the same way, as long as that copy is still
    // one of this file system: a damaged copy is what recovery repairs, a sound one must not be replaced
    // by other content.
    for (const BackupRegion& region : backup.regions) {
        const bool copy = region.kind == BootRegion::BackupBootSector || region.kind == BootRegion::ExFatBackupRegion;
        if (!copy || region.bytes.size() < length)
            continue;
        if (!device.readSectors(region.firstSector, static_cast<std::uint32_t>(length / deviceSector),
                                current.data()))
            continue;
        const BootSectorInfo held = detectBootSector(std::span<const std::uint8_t>(current.data(), bytesPerSector));
        if (held.status != DetectStatus::Ok || held.fsType != savedInfo.fsType)
            continue;
        if (!sameApartFromSerial(region.bytes, current, savedInfo))
            return BackupMatch::Different;
    }
    return mainKnown ? BackupMatch::Same : BackupMatch::Undetermined;
}

bool copiesOnlyOverCopies(const BootSectorBackup& backup, SectorDevice& device) {
    const BackupRegion* boot = savedBootRegion(backup);
    const std::uint32_t deviceSector = device.sectorSize();
    if (!boot || deviceSector == 0)
        return false;
    const BootSectorInfo info = detectBootSector(boot->bytes);
    if (info.status != DetectStatus::Ok)
        return false;
    for (const BackupRegion& region : backup.regions) {
        if (region.kind != BootRegion::BackupBootSector && region.kind != BootRegion::ExFatBackupRegion)
            continue;
        std::vector<std::uint8_t> held(std::size_t{region.sectorCount} * deviceSector, 0);
        // What cannot be read is not written either: planning stops at it.
        if (!device.readSectors(region.firstSector, region.sectorCount, held.data()))
            continue;
        if (held == region.bytes)
            continue;
        // Only the boot sector itself is asked for: an exFAT region torn by a crash after its first
        // sector is still the copy a recovery is for.
        if (!sameFileSystem(held, info))
            return false;
    }
    return true;
}

bool regionsWhereTheyBelong(const BootSectorBackup& backup) {
    // Positions, lengths and kinds come from the saved boot sector itself; the header must agree with it.
    const BackupRegion* boot = savedBootRegion(backup);
    if (!boot)
        return false;
    const BootSectorInfo info = detectBootSector(boot->bytes);
    const std::uint32_t deviceSector = backup.deviceSector;
    if (info.status != DetectStatus::Ok || deviceSector == 0 || info.bytesPerSector < deviceSector ||
        info.bytesPerSector % deviceSector != 0)
        return false;
    if (backup.fsType != info.fsType || backup.bytesPerSector != info.bytesPerSector ||
        (backup.volumeSectors != 0 && backup.volumeSectors != info.totalSectors))
        return false;

    const std::uint64_t n = info.bytesPerSector / deviceSector;
    bool seen[4] = {};
    for (const BackupRegion& region : backup.regions) {
        const auto kind = static_cast<std::size_t>(region.kind);
        if (kind >= 4 || seen[kind])
            return false;
        seen[kind] = true;
        if (!regionBelongs(region, info, n, deviceSector))
            return false;
    }
    return true;
}

bool soundCopyLeftOut(const BootSectorBackup& backup, SectorDevice& device) {
    for (const BackupRegion& region : backup.regions)
        if (region.kind == BootRegion::BackupBootSector || region.kind == BootRegion::ExFatBackupRegion)
            return false;
    const BackupRegion* boot = savedBootRegion(backup);
    const std::uint32_t deviceSector = device.sectorSize();
    if (!boot || deviceSector == 0)
        return false;
    const BootSectorInfo info = detectBootSector(boot->bytes);
    if (info.status != DetectStatus::Ok || info.bytesPerSector < deviceSector || info.bytesPerSector % deviceSector != 0)
        return false;

    const std::uint64_t n = info.bytesPerSector / deviceSector;
    std::uint64_t first = 0;
    std::uint64_t count = n;
    if (info.fsType == FsType::FAT32 && info.backupBootSector != 0)
        first = std::uint64_t{info.backupBootSector} * n;
    else if (info.fsType == FsType::NTFS && info.totalSectors < UINT64_MAX / info.bytesPerSector)
        first = info.totalSectors * n;
    else if (info.fsType == FsType::exFAT)
        first = count = kExFatRegionSectors * n;
    else
        return false;

    // An unreadable copy is not one a change could have saved.
    std::vector<std::uint8_t> copy(count * deviceSector, 0);
    if (!device.readSectors(first, static_cast<std::uint32_t>(count), copy.data()))
        return false;
    if (!sameGeometry(copy, info))
        return false;
    return info.fsType != FsType::exFAT || verifyExfatBootRegion(copy, info.bytesPerSector);
}

}  // namespace tlx
