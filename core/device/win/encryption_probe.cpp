// Looks past the volume handle at the partition's stored first sector, through the physical drive.
#include <cstddef>
#include <span>
#include <string>

#include "bootsector/detect.h"
#include "device/device_path.h"
#include "device/encryption.h"
#include "platform/win/error_mode.h"
#include "platform/win/page_buffer.h"
#include "platform/win/unique_handle.h"
#include "platform/win/windows.h"

#include <winioctl.h>

namespace tlx {
namespace {

constexpr std::uint32_t errorInvalidName = 123;
constexpr std::uint32_t errorNotSupported = 50;
constexpr std::uint32_t errorHandleEof = 38;
constexpr std::size_t maxExtents = 32;

EncryptionProbe undetermined(std::uint32_t error) { return {DiskEncryption::Undetermined, error}; }

}  // namespace

EncryptionProbe probeDiskEncryption(const std::wstring& driveSpec) {
    const std::optional<std::wstring> path = devicePathFor(driveSpec);
    if (!path) return undetermined(errorInvalidName);
    // A drive without media must answer with an error, not a system dialog.
    const win::ScopedErrorMode quiet;

    DWORD diskNumber = 0;
    LARGE_INTEGER partitionStart{};
    {
        // Query-only access: the extents need no read rights on the volume.
        win::FileHandle volume(
            CreateFileW(path->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!volume) return undetermined(GetLastError());
        alignas(VOLUME_DISK_EXTENTS) unsigned char buffer[offsetof(VOLUME_DISK_EXTENTS, Extents) +
                                                          maxExtents * sizeof(DISK_EXTENT)] = {};
        static_assert(sizeof buffer == 776);
        DWORD returned = 0;
        if (!DeviceIoControl(volume.get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer, sizeof buffer,
                             &returned, nullptr))
            return undetermined(GetLastError());
        const auto* extents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(buffer);
        if (extents->NumberOfDiskExtents == 0) return undetermined(0);
        // A volume spread over several disks is judged by its first extent.
        diskNumber = extents->Extents[0].DiskNumber;
        partitionStart = extents->Extents[0].StartingOffset;
    }

    const std::wstring drivePath = L"\\\\.\\PhysicalDrive" + std::to_wstring(diskNumber);
    win::FileHandle drive(CreateFileW(drivePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr));
    if (!drive) return undetermined(GetLastError());

    DISK_GEOMETRY geometry{};
    DWORD returned = 0;
    if (!DeviceIoControl(drive.get(), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry, &returned,
                         nullptr))
        return undetermined(GetLastError());
    const DWORD sectorSize = geometry.BytesPerSector;
    if (sectorSize < 512 || sectorSize > 4096) return undetermined(errorNotSupported);

    const win::PageBuffer sector = win::allocatePages(sectorSize);
    if (!sector) return undetermined(GetLastError());

    OVERLAPPED position{};
    position.Offset = partitionStart.LowPart;
    position.OffsetHigh = static_cast<DWORD>(partitionStart.HighPart);
    DWORD done = 0;
    if (!ReadFile(drive.get(), sector.get(), sectorSize, &done, &position)) return undetermined(GetLastError());
    if (done != sectorSize) return undetermined(errorHandleEof);  // a successful short read leaves no error of its own

    const std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t*>(sector.get()), sectorSize);
    return {isBitLockerBootSector(bytes) ? DiskEncryption::BitLocker : DiskEncryption::None, 0};
}

}  // namespace tlx
