// Raw volume access: one synchronous positioned call per transfer through an aligned buffer.
#include "device/win/volume_device.h"

#include <cstring>
#include <limits>

#include "device/device_path.h"
#include "device/win/sector_transfer.h"
#include "platform/win/error_mode.h"
#include "platform/win/windows.h"

#include <winioctl.h>

namespace tlx::win {
namespace {

constexpr std::uint32_t errorInvalidName = 123;
constexpr std::uint32_t errorNotSupported = 50;
constexpr std::uint32_t errorWriteProtect = 19;
constexpr int lockAttempts = 5;
static_assert(sizeof(DISK_GEOMETRY) == 24 && sizeof(GET_LENGTH_INFORMATION) == 8);
constexpr DWORD lockPauseMs = 200;

bool isSupportedSectorSize(std::uint32_t size) {
    return size >= 512 && size <= 4096 && (size & (size - 1)) == 0;
}

bool control(HANDLE handle, DWORD code) {
    DWORD returned = 0;
    return DeviceIoControl(handle, code, nullptr, 0, nullptr, 0, &returned, nullptr) != FALSE;
}

// The volume name ("\\?\Volume{...}", no trailing backslash) behind a mount point or device path.
std::wstring volumeNameOf(std::wstring point) {
    if (point.starts_with(L"\\\\.\\")) point.erase(0, 4);
    if (!point.ends_with(L'\\')) point += L'\\';
    wchar_t name[MAX_PATH] = {};
    if (!GetVolumeNameForVolumeMountPointW(point.c_str(), name, MAX_PATH)) return {};
    std::wstring result(name);
    if (result.ends_with(L'\\')) result.pop_back();
    return result;
}

}  // namespace

std::unique_ptr<VolumeDevice> VolumeDevice::open(const std::wstring& driveSpec, DeviceAccess access,
                                                 std::uint32_t& error) {
    error = 0;
    const std::optional<std::wstring> path = devicePathFor(driveSpec);
    if (!path) {
        error = errorInvalidName;
        return nullptr;
    }
    // A card reader without a card must answer with an error, not a system dialog.
    const ScopedErrorMode quiet;
    const DWORD desired = access == DeviceAccess::ReadWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    FileHandle handle(CreateFileW(path->c_str(), desired, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!handle) {
        error = GetLastError();
        return nullptr;
    }

    DISK_GEOMETRY geometry{};
    DWORD returned = 0;
    if (!DeviceIoControl(handle.get(), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry,
                         &returned, nullptr)) {
        error = GetLastError();
        return nullptr;
    }
    const std::uint32_t sectorSize = geometry.BytesPerSector;
    if (!isSupportedSectorSize(sectorSize)) {
        error = errorNotSupported;
        return nullptr;
    }

    GET_LENGTH_INFORMATION length{};
    std::uint64_t sectorCount = 0;
    if (DeviceIoControl(handle.get(), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned,
                        nullptr))
        sectorCount = static_cast<std::uint64_t>(length.Length.QuadPart) / sectorSize;

    // Write-protected media open for writing and then refuse every write, the write-back too;
    // only a definite "write protected" counts, a disk that cannot answer is tried.
    if (access == DeviceAccess::ReadWrite && !control(handle.get(), IOCTL_DISK_IS_WRITABLE) &&
        GetLastError() == errorWriteProtect) {
        error = errorWriteProtect;
        return nullptr;
    }

    // Reaches the sectors past the file system's own extent, where NTFS keeps its backup boot sector.
    (void)control(handle.get(), FSCTL_ALLOW_EXTENDED_DASD_IO);

    return std::unique_ptr<VolumeDevice>(new VolumeDevice(std::move(handle), *path, sectorSize, sectorCount));
}

VolumeDevice::VolumeDevice(FileHandle handle, std::wstring path, std::uint32_t sectorSize, std::uint64_t sectorCount)
    : handle_(std::move(handle)), path_(std::move(path)), sectorSize_(sectorSize), sectorCount_(sectorCount) {}

bool VolumeDevice::mountedInUse() const {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
    wchar_t root[MAX_PATH] = {};
    if (length == 0 || length >= MAX_PATH || !GetVolumePathNameW(folder, root, MAX_PATH)) return false;
    const std::wstring windows = volumeNameOf(root);
    const std::wstring own = volumeNameOf(path_);
    return !windows.empty() && !own.empty() &&
           CompareStringOrdinal(windows.c_str(), -1, own.c_str(), -1, TRUE) == CSTR_EQUAL;
}

VolumeDevice::~VolumeDevice() {
    if (locked_) {
        if (!control(handle_.get(), FSCTL_UNLOCK_VOLUME)) lastError_ = GetLastError();
        locked_ = false;
    }
    handle_.reset();  // the transfer buffer goes with the members, after the handle
}

std::uint64_t VolumeDevice::transferBytes(std::uint32_t count, bool& fits) const {
    const std::uint64_t bytes = static_cast<std::uint64_t>(count) * sectorSize_;
    fits = bytes <= std::numeric_limits<std::uint32_t>::max();
    return bytes;
}

bool VolumeDevice::offsetOf(std::uint64_t first, std::uint64_t& offset) {
    return sectorOffset(first, sectorSize_, offset, lastError_);
}

bool VolumeDevice::readSectors(std::uint64_t first, std::uint32_t count, void* destination) {
    bool fits = false;
    const std::uint64_t bytes = transferBytes(count, fits);
    if (!fits) return false;
    std::uint64_t offset = 0;
    if (!offsetOf(first, offset) || !ioBuffer_.reserve(bytes, lastError_)) return false;
    if (!transferAt(handle_.get(), false, ioBuffer_.get(), static_cast<std::uint32_t>(bytes), offset, lastError_))
        return false;
    if (bytes != 0) std::memcpy(destination, ioBuffer_.get(), static_cast<std::size_t>(bytes));
    return true;
}

bool VolumeDevice::writeSectors(std::uint64_t first, std::uint32_t count, const void* source) {
    bool fits = false;
    const std::uint64_t bytes = transferBytes(count, fits);
    if (!fits) return false;
    std::uint64_t offset = 0;
    if (!offsetOf(first, offset) || !ioBuffer_.reserve(bytes, lastError_)) return false;
    if (bytes != 0) std::memcpy(ioBuffer_.get(), source, static_cast<std::size_t>(bytes));
    return transferAt(handle_.get(), true, ioBuffer_.get(), static_cast<std::uint32_t>(bytes), offset, lastError_);
}

bool VolumeDevice::lock() {
    for (int attempt = 0; attempt < lockAttempts; ++attempt) {
        if (attempt > 0) Sleep(lockPauseMs);
        if (control(handle_.get(), FSCTL_LOCK_VOLUME)) {
            locked_ = true;
            return true;
        }
        lastError_ = GetLastError();
    }
    return false;
}

bool VolumeDevice::dismount() {
    if (control(handle_.get(), FSCTL_DISMOUNT_VOLUME)) return true;
    lastError_ = GetLastError();
    return false;
}

}  // namespace tlx::win
