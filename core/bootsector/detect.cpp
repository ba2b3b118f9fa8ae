// Boot-sector recognition: which file system wrote sector 0 and where its serial lies.
#include "bootsector/detect.h"

#include <cstring>
#include <vector>

#include "bootsector/le.h"
#include "device/sector_device.h"

namespace tlx {

namespace {

constexpr std::size_t kBootSectorBytes = 512;
constexpr std::uint32_t kErrorNotSupported = 50;

// {4967D63B-2E29-4AD8-8399-F6A339E3D001} as stored on disk.
constexpr std::uint8_t kBitLockerGuid[16] = {0x3B, 0xD6, 0x67, 0x49, 0x29, 0x2E, 0xD8, 0x4A,
                                             0x83, 0x99, 0xF6, 0xA3, 0x39, 0xE3, 0xD0, 0x01};

bool oemNameIs(std::span<const std::uint8_t> bytes, const char (&name)[9]) {
    return std::memcmp(bytes.data() + 3, name, 8) == 0;
}

bool isPowerOfTwo(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

bool validSectorSize(std::uint32_t value) { return value >= 512 && value <= 4096 && isPowerOfTwo(value); }

BootSectorInfo withStatus(DetectStatus status, FsType type = FsType::Unknown) {
    BootSectorInfo info;
    info.status = status;
    info.fsType = type;
    return info;
}

BootSectorInfo detectExFat(std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 11; i < 64; ++i)
        if (bytes[i] != 0) return withStatus(DetectStatus::Unrecognised);
    const std::uint8_t shift = bytes[108];
    if (shift < 9 || shift > 12) return withStatus(DetectStatus::Unrecognised);
    BootSectorInfo info = withStatus(DetectStatus::Ok, FsType::exFAT);
    info.bytesPerSector = 1u << shift;
    info.totalSectors = readLe64(bytes, 72);
    info.serial = readLe32(bytes, 100);
    info.serialWidth = 4;
    info.serialOffset = 100;
    return info;
}

BootSectorInfo detectNtfs(std::span<const std::uint8_t> bytes) {
    const std::uint32_t bytesPerSector = readLe16(bytes, 11);
    const std::uint64_t totalSectors = readLe64(bytes, 40);
    // Cluster sizes from 0x80 up are negative shifts; any non-zero value is a valid encoding.
    if (!validSectorSize(bytesPerSector) || bytes[13] == 0 || totalSectors == 0)
        return withStatus(DetectStatus::Unrecognised);
    BootSectorInfo info = withStatus(DetectStatus::Ok, FsType::NTFS);
    info.bytesPerSector = bytesPerSector;
    info.totalSectors = totalSectors;
    info.serial = readLe64(bytes, 72);
    info.serialWidth = 8;
    info.serialOffset = 72;
    return info;
}

bool hasExtendedSignature(std::uint8_t value) { return value == 0x28 || value == 0x29; }

BootSectorInfo detectFat(std::span<const std::uint8_t> bytes) {
    const std::uint32_t bytesPerSector = readLe16(bytes, 11);
    const std::uint32_t sectorsPerCluster = bytes[13];
    const std::uint32_t reservedSectors = readLe16(bytes, 14);
    const std::uint32_t fatCount = bytes[16];
    if ((bytes[0] != 0xEB && bytes[0] != 0xE9) || !validSectorSize(bytesPerSector) ||
        !isPowerOfTwo(sectorsPerCluster) || reservedSectors == 0 || fatCount == 0)
        return withStatus(DetectStatus::Unrecognised);

    const std::uint32_t total16 = readLe16(bytes, 19);
    const std::uint64_t totalSectors = total16 != 0 ? total16 : readLe32(bytes, 32);
    if (totalSectors == 0) return withStatus(DetectStatus::Unrecognised);

    const std::uint32_t sectorsPerFat16 = readLe16(bytes, 22);
    if (sectorsPerFat16 != 0) {
        const std::uint64_t rootEntries = readLe16(bytes, 17);
        const std::uint64_t rootSectors = (rootEntries * 32 + bytesPerSector - 1) / bytesPerSector;
        const std::uint64_t firstDataSector =
            reservedSectors + std::uint64_t{fatCount} * sectorsPerFat16 + rootSectors;
        if (firstDataSector >= totalSectors) return withStatus(DetectStatus::Unrecognised);
        const std::uint64_t clusters = (totalSectors - firstDataSector) / sectorsPerCluster;
        // A FAT16-style BPB with a FAT32 cluster count is inconsistent, never FAT32.
        if (clusters >= 65525) return withStatus(DetectStatus::Unrecognised);
        const FsType type = clusters < 4085 ? FsType::FAT12 : FsType::FAT16;
        if (!hasExtendedSignature(bytes[38])) return withStatus(DetectStatus::NoSerial, type);
        BootSectorInfo info = withStatus(DetectStatus::Ok, type);
        info.bytesPerSector = bytesPerSector;
        info.totalSectors = totalSectors;
        info.serial = readLe32(bytes, 39);
        info.serialWidth = 4;
        info.serialOffset = 39;
        return info;
    }

    if (readLe32(bytes, 36) == 0) return withStatus(DetectStatus::Unrecognised);
    if (!hasExtendedSignature(bytes[66])) return withStatus(DetectStatus::NoSerial, FsType::FAT32);
    BootSectorInfo info = withStatus(DetectStatus::Ok, FsType::FAT32);
    info.bytesPerSector = bytesPerSector;
    info.totalSectors = totalSectors;
    info.serial = readLe32(bytes, 67);
    info.serialWidth = 4;
    info.serialOffset = 67;
    const std::uint32_t backup = readLe16(bytes, 50);
    info.backupBootSector = (backup != 0 && backup != 0xFFFF && backup < reservedSectors) ? backup : 0;
    return info;
}

}  // namespace

bool isBitLockerBootSector(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kBootSectorBytes) return false;
    return oemNameIs(bytes, "-FVE-FS-") || std::memcmp(bytes.data() + 160, kBitLockerGuid, 16) == 0 ||
           std::memcmp(bytes.data() + 424, kBitLockerGuid, 16) == 0;
}

BootSectorInfo detectBootSector(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kBootSectorBytes) return withStatus(DetectStatus::TooShort);
    const auto sector = bytes.first(kBootSectorBytes);
    if (isBitLockerBootSector(sector)) return withStatus(DetectStatus::BitLocker, FsType::BitLocker);
    if (sector[510] != 0x55 || sector[511] != 0xAA) return withStatus(DetectStatus::NoSignature);
    if (oemNameIs(sector, "EXFAT   ")) return detectExFat(sector);
    if (oemNameIs(sector, "NTFS    ")) return detectNtfs(sector);
    return detectFat(sector);
}

const char* fsTypeName(FsType type) {
    switch (type) {
    case FsType::FAT12: return "FAT12";
    case FsType::FAT16: return "FAT16";
    case FsType::FAT32: return "FAT32";
    case FsType::exFAT: return "exFAT";
    case FsType::NTFS: return "NTFS";
    case FsType::BitLocker: return "BitLocker";
    case FsType::Unknown: break;
    }
    return "Unknown";
}

BootSectorRead readBootSector(SectorDevice& device) {
    BootSectorRead result;
    const std::uint32_t sectorSize = device.sectorSize();
    if (sectorSize < kBootSectorBytes) {
        // No read is attempted, so the device's last error says nothing about this.
        result.systemError = kErrorNotSupported;
        return result;
    }
    std::vector<std::uint8_t> buffer(sectorSize, 0);
    if (!device.readSectors(0, 1, buffer.data())) {
        result.systemError = device.lastError();
        return result;
    }
    result.info = detectBootSector(buffer);
    result.detectStatus = result.info.status;
    result.readStatus = result.info.status == DetectStatus::Ok ? ReadStatus::Ok : ReadStatus::NotRecognised;
    return result;
}

bool sameFileSystem(std::span<const std::uint8_t> bytes, const BootSectorInfo& info) {
    const BootSectorInfo other = detectBootSector(bytes);
    return other.status == DetectStatus::Ok && other.fsType == info.fsType &&
           other.bytesPerSector == info.bytesPerSector;
}

}  // namespace tlx
