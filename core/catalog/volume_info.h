#pragma once
// One record per volume of the computer, and the enumeration that fills them.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tlx {

enum class DriveType : std::int32_t { Unknown = 0, Removable = 1, Fixed = 2, Network = 3, CdDvd = 4, RamDisk = 5 };
enum class PartitionRole : std::int32_t { None = 0, EfiSystem = 1, Recovery = 2 };
// Where a record's file-system fields come from. Windows always asks the system (Device).
enum class Readout : std::int32_t {
    Device = 0,        // the volume itself (or the system's own query)
    Udev = 1,          // POSIX: the device can't be opened; udev's database names its file system
    MountTable = 2,    // POSIX: the device can't be opened; only its mount names a file system
    NoFileSystem = 3,  // POSIX: the device was read and holds no file system
    NoAccess = 4,      // POSIX: the device can't be opened and nothing else tells what it holds
};

struct VolumeInfo {
    std::wstring volume;  // Windows: "\\?\Volume{GUID}\"; POSIX: canonical device or image path
    std::vector<std::wstring> mountPoints;
    std::wstring label;
    std::wstring fileSystem;
    std::uint32_t serial = 0;
    bool hasSerial = true;  // false where the file system has no 32-bit serial (POSIX: ext4, xfs, swap ...)
    std::optional<std::uint64_t> fullSerial;
    std::uint64_t sizeBytes = 0;
    DriveType type = DriveType::Unknown;
    bool mediaPresent = false;
    bool readOnly = false;
    bool windowsDrive = false;  // the system volume (JSON key "system")
    bool supported = false;
    std::int32_t bitLockerProtection = 0;
    bool bitLockerHint = false;
    PartitionRole partitionRole = PartitionRole::None;
    // Left out of lists unless all volumes are asked for. Windows: no mount points. POSIX: no file
    // system, a disk that carries a partition table, or a member of another holder (LVM, RAID, swap ...).
    bool hidden = false;
    // Drive texts of the other listed volumes with the same 32-bit serial; filled by markSameSerials.
    std::vector<std::wstring> sameSerialAs;
    Readout readout = Readout::Device;
    bool imageFile = false;                // POSIX: a disk-image file, not a block device
    std::vector<std::wstring> partitions;  // POSIX: the partitions of a whole disk that carries a table
};

// Platform implementation; never fails (unreadable properties stay empty).
[[nodiscard]] std::vector<VolumeInfo> enumerateVolumes();

// Pure helpers shared by the platform catalogues.
[[nodiscard]] bool isSupportedFileSystemName(const std::wstring& name);  // FAT, FAT32, exFAT, NTFS, any case
[[nodiscard]] bool bitLockerHintFor(std::int32_t protection);              // 1, 3, 4, 5, 6
// Stable: mounted before hidden, by first mount point ignoring case; hidden keep their order.
void sortVolumes(std::vector<VolumeInfo>& volumes);
// POSIX order: mounted before unmounted; mounted by first mount point, the others by device path, both
// in natural order (loop2 before loop10).
void sortVolumesNaturally(std::vector<VolumeInfo>& volumes);
// Runs of digits compare by their value, everything else as compareUpperCased; ties fall back to it.
[[nodiscard]] int compareNatural(const std::wstring& a, const std::wstring& b);
// Ordinal comparison ignoring case: the system's CompareStringOrdinal on Windows, compareUpperCased elsewhere.
[[nodiscard]] int compareOrdinalIgnoreCase(const std::wstring& a, const std::wstring& b);
// Code units compared after a simple upper-case mapping of Latin, Greek and Cyrillic letters.
[[nodiscard]] int compareUpperCased(const std::wstring& a, const std::wstring& b);

}  // namespace tlx
