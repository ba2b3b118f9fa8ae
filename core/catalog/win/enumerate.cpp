// The computer's volumes from the volume manager, and drive text to volume name.
#include <string>
#include <vector>

#include "catalog/resolve.h"
#include "catalog/volume_info.h"
#include "catalog/win/bitlocker_property.h"
#include "catalog/win/partition_role.h"
#include "device/device_path.h"
#include "platform/win/error_mode.h"
#include "platform/win/unique_handle.h"
#include "platform/win/windows.h"

#include <winioctl.h>

namespace tlx {
namespace {

static_assert(sizeof(PARTITION_INFORMATION_EX) == 144 && sizeof(FILE_ID_INFO) == 24);

std::wstring withoutTrailingBackslash(std::wstring text) {
    if (!text.empty() && text.back() == L'\\') text.pop_back();
    return text;
}

DriveType driveTypeOf(UINT type) {
    switch (type) {
    case DRIVE_REMOVABLE: return DriveType::Removable;
    case DRIVE_FIXED: return DriveType::Fixed;
    case DRIVE_REMOTE: return DriveType::Network;
    case DRIVE_CDROM: return DriveType::CdDvd;
    case DRIVE_RAMDISK: return DriveType::RamDisk;
    default: return DriveType::Unknown;
    }
}

std::vector<std::wstring> mountPointsOf(const std::wstring& volume) {
    // A mount point added between two calls makes the second one too small: grow and ask again.
    std::vector<wchar_t> names(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = 0;
        if (GetVolumePathNamesForVolumeNameW(volume.c_str(), names.data(), static_cast<DWORD>(names.size()), &length))
            break;
        if (GetLastError() != ERROR_MORE_DATA || length <= names.size()) return {};
        names.assign(length, L'\0');
    }
    std::vector<std::wstring> points;
    for (std::size_t at = 0; at < names.size() && names[at] != L'\0';) {
        std::wstring point(&names[at]);
        at += point.size() + 1;
        points.push_back(std::move(point));
    }
    return points;
}

std::wstring windowsVolumeName() {
    wchar_t directory[MAX_PATH] = {};
    // The shared folder: GetWindowsDirectoryW gives a per-user one to programs on a terminal server.
    const UINT length = GetSystemWindowsDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    wchar_t root[MAX_PATH] = {};
    if (!GetVolumePathNameW(directory, root, MAX_PATH)) return {};
    return volumeNameFor(root).value_or(std::wstring());
}

// The NTFS serial's upper half, which GetVolumeInformationW leaves out.
std::optional<std::uint64_t> fullSerialOf(const std::wstring& volume, std::uint32_t serial) {
    const win::FileHandle root(CreateFileW(volume.c_str(), FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!root) return std::nullopt;
    FILE_ID_INFO id{};
    if (!GetFileInformationByHandleEx(root.get(), FileIdInfo, &id, sizeof id)) return std::nullopt;
    const std::uint64_t full = id.VolumeSerialNumber;
    if (static_cast<std::uint32_t>(full) != serial) return std::nullopt;
    return full;
}

// The device, not its root directory; no access rights, so a drive without media is not touched
// and no elevation is needed.
std::optional<PARTITION_INFORMATION_EX> partitionInfoOf(const std::wstring& volume) {
    const win::FileHandle handle(CreateFileW(withoutTrailingBackslash(volume).c_str(), 0,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
    if (!handle) return std::nullopt;
    PARTITION_INFORMATION_EX partition{};
    DWORD returned = 0;
    if (!DeviceIoControl(handle.get(), IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &partition, sizeof partition,
                         &returned, nullptr))
        return std::nullopt;
    return partition;
}

// The whole volume, not what the caller's quota leaves (GetDiskFreeSpaceExW's total): the
// partition's length, or the free-space total where the volume is no partition.
std::uint64_t volumeLength(const std::wstring& volume) {
    if (const auto partition = partitionInfoOf(volume); partition && partition->PartitionLength.QuadPart > 0)
        return static_cast<std::uint64_t>(partition->PartitionLength.QuadPart);
    ULARGE_INTEGER total{};
    if (GetDiskFreeSpaceExW(volume.c_str(), nullptr, &total, nullptr)) return total.QuadPart;
    return 0;
}

VolumeInfo describe(const std::wstring& volume, const std::wstring& windowsVolume) {
    VolumeInfo info;
    info.volume = volume;
    info.mountPoints = mountPointsOf(volume);
    info.type = driveTypeOf(GetDriveTypeW(volume.c_str()));

    wchar_t label[MAX_PATH + 1] = {};
    wchar_t fileSystem[MAX_PATH + 1] = {};
    DWORD serial = 0, maxComponent = 0, flags = 0;
    if (GetVolumeInformationW(volume.c_str(), label, MAX_PATH + 1, &serial, &maxComponent, &flags, fileSystem,
                              MAX_PATH + 1)) {
        info.mediaPresent = true;
        info.label = label;
        info.fileSystem = fileSystem;
        info.serial = serial;
        info.readOnly = (flags & FILE_READ_ONLY_VOLUME) != 0;
    }

    info.sizeBytes = volumeLength(volume);

    info.windowsDrive =
        !windowsVolume.empty() && compareOrdinalIgnoreCase(windowsVolume, withoutTrailingBackslash(volume)) == 0;
    info.supported = isSupportedFileSystemName(info.fileSystem);
    if (info.mediaPresent && compareOrdinalIgnoreCase(info.fileSystem, L"NTFS") == 0)
        info.fullSerial = fullSerialOf(volume, info.serial);

    const bool local = info.type == DriveType::Removable || info.type == DriveType::Fixed;
    if (local && !info.mountPoints.empty()) {
        if (const std::optional<std::int32_t> protection = win::queryBitLockerProtection(info.mountPoints.front())) {
            info.bitLockerProtection = *protection;
            info.bitLockerHint = bitLockerHintFor(*protection);
        }
    }
    if (local && info.mountPoints.empty()) info.partitionRole = win::partitionRoleOf(volume);
    info.hidden = info.mountPoints.empty();
    return info;
}

}  // namespace

std::vector<VolumeInfo> enumerateVolumes() {
    const win::ScopedErrorMode quiet;
    const std::wstring windowsVolume = windowsVolumeName();
    std::vector<VolumeInfo> volumes;
    wchar_t name[MAX_PATH] = {};
    const win::FindVolumeHandle search(FindFirstVolumeW(name, MAX_PATH));
    if (!search) return volumes;
    do {
        volumes.push_back(describe(name, windowsVolume));
    } while (FindNextVolumeW(search.get(), name, MAX_PATH));
    sortVolumes(volumes);
    return volumes;
}

std::optional<std::wstring> volumeNameFor(const std::wstring& driveSpec) {
    const std::optional<std::wstring> path = devicePathFor(driveSpec);
    if (!path) return std::nullopt;
    // A volume GUID path, or the full path of a disk-image file, is already the name.
    if (!path->starts_with(L"\\\\.\\")) return *path;
    const std::wstring root = path->substr(4) + L"\\";
    const win::ScopedErrorMode quiet;
    wchar_t name[MAX_PATH] = {};
    if (!GetVolumeNameForVolumeMountPointW(root.c_str(), name, MAX_PATH)) return std::nullopt;
    return withoutTrailingBackslash(name);
}

namespace win {

PartitionRole partitionRoleOf(const std::wstring& volume) {
    const std::optional<PARTITION_INFORMATION_EX> found = partitionInfoOf(volume);
    if (!found) return PartitionRole::None;
    const PARTITION_INFORMATION_EX& partition = *found;

    static constexpr GUID efiSystem = {0xC12A7328, 0xF81F, 0x11D2, {0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B}};
    static constexpr GUID recovery = {0xDE94BBA4, 0x06D1, 0x4D40, {0xA1, 0x6A, 0xBF, 0xD5, 0x01, 0x79, 0xD6, 0xAC}};
    if (partition.PartitionStyle == PARTITION_STYLE_GPT) {
        if (IsEqualGUID(partition.Gpt.PartitionType, efiSystem)) return PartitionRole::EfiSystem;
        if (IsEqualGUID(partition.Gpt.PartitionType, recovery)) return PartitionRole::Recovery;
    } else if (partition.PartitionStyle == PARTITION_STYLE_MBR) {
        if (partition.Mbr.PartitionType == 0xEF) return PartitionRole::EfiSystem;
        if (partition.Mbr.PartitionType == 0x27) return PartitionRole::Recovery;
    }
    return PartitionRole::None;
}

}  // namespace win
}  // namespace tlx
