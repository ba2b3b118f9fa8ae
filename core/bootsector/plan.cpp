// Planning a serial change or a raw recovery: every region read, compared and rewritten in memory.
#include "bootsector/plan.h"

#include <limits>
#include <optional>
#include <utility>

#include "backup/backup_file.h"
#include "device/sector_device.h"

namespace tlx {

namespace {

PlanResult failed(PlanError error, std::uint32_t systemError = 0, DetectStatus detect = DetectStatus::Ok) {
    PlanResult result;
    result.planError = error;
    result.detectStatus = detect;
    result.systemError = systemError;
    return result;
}

// A run of device sectors, or the device's error.
struct Run {
    bool ok = false;
    std::uint32_t error = 0;
    std::vector<std::uint8_t> bytes;
};

Run readRun(SectorDevice& device, std::uint64_t first, std::uint32_t count) {
    Run run;
    run.bytes.assign(std::size_t{count} * device.sectorSize(), 0);
    run.ok = device.readSectors(first, count, run.bytes.data());
    if (!run.ok) run.error = device.lastError();
    return run;
}

RegionWrite rewrite(BootRegion kind, std::uint64_t first, std::uint32_t count, std::vector<std::uint8_t> before) {
    RegionWrite region;
    region.kind = kind;
    region.firstSector = first;
    region.sectorCount = count;
    region.after = before;
    region.before = std::move(before);
    return region;
}

RegionWrite sectorWithSerial(BootRegion kind, std::uint64_t first, std::uint32_t count, std::vector<std::uint8_t> before,
                             const BootSectorInfo& info, VolumeSerial serial) {
    RegionWrite region = rewrite(kind, first, count, std::move(before));
    writeSerialField(region.after, info.serialOffset, info.serialWidth, serial);
    return region;
}

RegionWrite exfatRegionWithSerial(BootRegion kind, std::uint64_t first, std::uint32_t count,
                                  std::vector<std::uint8_t> before, const BootSectorInfo& info, VolumeSerial serial) {
    RegionWrite region = rewrite(kind, first, count, std::move(before));
    writeExfatRegionSerial(region.after, info, serial);
    return region;
}

// The copy behind a FAT32 boot sector; false with `error` when the named sector cannot be read.
bool planFat32Backup(SectorDevice& device, const BootSectorInfo& info, std::uint32_t n, VolumeSerial serial,
                     ChangePlan& plan, std::uint32_t& error) {
    if (info.backupBootSector == 0) {
        plan.notes.push_back(PlanNote::Fat32NoBackup);
        return true;
    }
    const std::uint64_t first = std::uint64_t{info.backupBootSector} * n;
    Run run = readRun(device, first, n);
    if (!run.ok) {
        error = run.error;
        return false;
    }
    if (!sameFileSystem(run.bytes, info)) {
        plan.notes.push_back(PlanNote::Fat32BackupNotCopy);
        return true;
    }
    plan.regions.push_back(sectorWithSerial(BootRegion::BackupBootSector, first, n, std::move(run.bytes), info, serial));
    return true;
}

// The NTFS copy lies in the sector right after the file system's stated length; a missing copy is only a note.
void planNtfsBackup(SectorDevice& device, const BootSectorInfo& info, std::uint32_t n, VolumeSerial serial,
                    ChangePlan& plan) {
    // A length whose byte position does not fit 64 bits cannot be on any device; wrapping would land elsewhere.
    const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() / info.bytesPerSector;
    const std::uint64_t reported = device.sectorCount();
    if (info.totalSectors >= limit || (reported != 0 && (info.totalSectors + 1) * n > reported)) {
        plan.notes.push_back(PlanNote::NtfsBackupUnreachable);
        return;
    }
    const std::uint64_t first = info.totalSectors * n;
    Run run = readRun(device, first, n);
    if (!run.ok) {
        plan.notes.push_back(PlanNote::NtfsBackupUnreachable);
        return;
    }
    if (!sameFileSystem(run.bytes, info)) {
        plan.notes.push_back(PlanNote::NtfsBackupNotCopy);
        return;
    }
    plan.regions.push_back(sectorWithSerial(BootRegion::BackupBootSector, first, n, std::move(run.bytes), info, serial));
}

// Both exFAT regions; a damaged main region is never rewritten, a damaged backup is left as it is.
PlanError planExFatRegions(SectorDevice& device, const BootSectorInfo& info, std::uint32_t n, VolumeSerial serial,
                           ChangePlan& plan, std::uint32_t& error) {
    const std::uint32_t count = kExFatRegionSectors * n;
    Run main = readRun(device, 0, count);
    if (!main.ok) {
        error = main.error;
        return PlanError::ReadFailed;
    }
    Run backup = readRun(device, count, count);
    if (!backup.ok) {
        error = backup.error;
        return PlanError::ReadFailed;
    }
    if (!verifyExfatBootRegion(main.bytes, info.bytesPerSector)) return PlanError::ChecksumDamaged;
    if (sameFileSystem(backup.bytes, info) && verifyExfatBootRegion(backup.bytes, info.bytesPerSector))
        plan.regions.push_back(
            exfatRegionWithSerial(BootRegion::ExFatBackupRegion, count, count, std::move(backup.bytes), info, serial));
    else
        plan.notes.push_back(PlanNote::ExFatBackupInconsistent);
    plan.regions.push_back(
        exfatRegionWithSerial(BootRegion::ExFatMainRegion, 0, count, std::move(main.bytes), info, serial));
    return PlanError::None;
}

}  // namespace

const char* bootRegionName(BootRegion kind) {
    switch (kind) {
    case BootRegion::BootSector: return "BootSector";
    case BootRegion::BackupBootSector: return "BackupBootSector";
    case BootRegion::ExFatMainRegion: return "ExFatMainRegion";
    case BootRegion::ExFatBackupRegion: return "ExFatBackupRegion";
    }
    return nullptr;
}

PlanResult planChange(SectorDevice& device, VolumeSerial newSerial) {
    const BootSectorRead read = readBootSector(device);
    if (read.readStatus != ReadStatus::Ok)
        return failed(static_cast<PlanError>(read.readStatus), read.systemError, read.detectStatus);
    const BootSectorInfo& info = read.info;

    const std::uint32_t deviceSector = device.sectorSize();
    if (info.bytesPerSector < deviceSector || info.bytesPerSector % deviceSector != 0)
        return failed(PlanError::SectorSizeMismatch);
    if (info.serialWidth == 4 && newSerial > 0xFFFFFFFFull) return failed(PlanError::SerialTooWide);
    if (newSerial == info.serial) return failed(PlanError::SameSerial);

    const std::uint32_t n = info.bytesPerSector / deviceSector;
    PlanResult result;
    ChangePlan& plan = result.plan;
    plan.fsType = info.fsType;
    plan.bytesPerSector = info.bytesPerSector;
    plan.totalSectors = info.totalSectors;
    plan.serial = info.serial;
    plan.serialWidth = info.serialWidth;
    plan.serialOffset = info.serialOffset;
    plan.backupBootSector = info.backupBootSector;
    plan.oldSerial = info.serial;
    plan.newSerial = newSerial;

    std::uint32_t error = 0;
    switch (info.fsType) {
    case FsType::FAT12:
    case FsType::FAT16:
        break;
    case FsType::FAT32:
        if (!planFat32Backup(device, info, n, newSerial, plan, error)) return failed(PlanError::ReadFailed, error);
        break;
    case FsType::NTFS:
        planNtfsBackup(device, info, n, newSerial, plan);
        break;
    case FsType::exFAT: {
        const PlanError exfat = planExFatRegions(device, info, n, newSerial, plan, error);
        if (exfat != PlanError::None) return failed(exfat, error);
        return result;
    }
    case FsType::Unknown:
    case FsType::BitLocker:
        return failed(PlanError::NotRecognised, 0, read.detectStatus);
    }

    Run main = readRun(device, 0, n);
    if (!main.ok) return failed(PlanError::ReadFailed, main.error);
    plan.regions.push_back(sectorWithSerial(BootRegion::BootSector, 0, n, std::move(main.bytes), info, newSerial));
    return result;
}

PlanResult planRawRecovery(SectorDevice& device, const BootSectorBackup& backup) {
    const std::uint32_t deviceSector = device.sectorSize();
    if (deviceSector != backup.deviceSector) return failed(PlanError::SectorSizeMismatch);
    // A region whose bytes are not whole device sectors would be read or written past its buffer.
    for (const BackupRegion& saved : backup.regions)
        if (saved.bytes.size() != std::uint64_t{saved.sectorCount} * deviceSector)
            return failed(PlanError::SectorSizeMismatch);

    PlanResult result;
    ChangePlan& plan = result.plan;
    plan.fsType = backup.fsType;
    plan.bytesPerSector = backup.bytesPerSector;
    plan.totalSectors = backup.volumeSectors;
    plan.serialWidth = backup.serialBytes;

    // An unreadable or unrecognised boot sector is what raw recovery repairs, so it does not stop here.
    const BootSectorRead current = readBootSector(device);
    plan.oldSerial = current.readStatus == ReadStatus::Ok ? current.info.serial : backup.newSerial;
    plan.newSerial = backup.oldSerial;

    for (const BackupRegion& saved : backup.regions) {
        Run run = readRun(device, saved.firstSector, saved.sectorCount);
        if (!run.ok) return failed(PlanError::ReadFailed, run.error);
        if (run.bytes == saved.bytes) continue;
        RegionWrite region;
        region.kind = saved.kind;
        region.firstSector = saved.firstSector;
        region.sectorCount = saved.sectorCount;
        region.before = std::move(run.bytes);
        region.after = saved.bytes;
        plan.regions.push_back(std::move(region));
    }
    if (plan.regions.empty()) return failed(PlanError::NothingToRestore);
    return result;
}

}  // namespace tlx
