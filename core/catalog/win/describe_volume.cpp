// A volume from the volume manager's enumeration; a disk-image file used as a drive is described
// alone, from its own boot sector.
#include "catalog/image_volume.h"
#include "catalog/resolve.h"
#include "device/win/image_device.h"
#include "platform/win/error_mode.h"
#include "platform/win/windows.h"

namespace tlx {
namespace {

std::optional<VolumeInfo> describeImage(const std::wstring& path) {
    const win::ScopedErrorMode quiet;
    // The attributes answer even for a file another program keeps locked against opening.
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes) ||
        (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    VolumeInfo info;
    info.volume = path;
    info.type = DriveType::Fixed;
    info.sizeBytes = (static_cast<std::uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
    info.readOnly = (attributes.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    std::uint32_t error = 0;
    if (const auto device = win::ImageDevice::open(path, DeviceAccess::Read, error)) {
        std::uint8_t sector[win::ImageDevice::kSectorSize];
        if (device->readSectors(0, 1, sector)) describeImageBootSector(info, sector);
    }
    return info;
}

}  // namespace

std::optional<VolumeInfo> describeVolume(const std::wstring& volumeName) {
    if (win::isImagePath(volumeName)) return describeImage(volumeName);
    return findVolumeIn(enumerateVolumes(), volumeName);
}

}  // namespace tlx
