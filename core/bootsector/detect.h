#pragma once
// Recognising a boot sector's file system and where its serial lies.
#include <cstdint>
#include <span>

#include "bootsector/serial.h"

namespace tlx {

class SectorDevice;

enum class FsType : std::int32_t { Unknown = 0, FAT12 = 1, FAT16 = 2, FAT32 = 3, exFAT = 4, NTFS = 5, BitLocker = 6 };

enum class DetectStatus : std::int32_t {
    Ok = 0,
    TooShort = 1,
    BitLocker = 2,
    NoSignature = 3,
    NoSerial = 4,
    Unrecognised = 5,
};

struct BootSectorInfo {
    DetectStatus status = DetectStatus::Unrecognised;
    FsType fsType = FsType::Unknown;
    std::uint32_t bytesPerSector = 0;
    std::uint64_t totalSectors = 0;
    VolumeSerial serial = 0;
    std::uint32_t serialWidth = 0;
    std::uint32_t serialOffset = 0;
    std::uint32_t backupBootSector = 0;  // FAT32 only; 0 means none
};

enum class ReadStatus : std::int32_t { Ok = 0, ReadFailed = 1, NotRecognised = 2 };

struct BootSectorRead {
    ReadStatus readStatus = ReadStatus::ReadFailed;
    DetectStatus detectStatus = DetectStatus::Ok;  // 0 when the read failed
    std::uint32_t systemError = 0;
    BootSectorInfo info;  // its status mirrors detectStatus once sector 0 was read
};

// Examines only the first 512 bytes; never reads past bytes.size().
[[nodiscard]] BootSectorInfo detectBootSector(std::span<const std::uint8_t> bytes);
[[nodiscard]] bool isBitLockerBootSector(std::span<const std::uint8_t> bytes);
[[nodiscard]] const char* fsTypeName(FsType type);
// Reads exactly one device sector at 0.
[[nodiscard]] BootSectorRead readBootSector(SectorDevice& device);
// Same status, kind and sector size as info; serial and length may differ.
[[nodiscard]] bool sameFileSystem(std::span<const std::uint8_t> bytes, const BootSectorInfo& info);

}  // namespace tlx
