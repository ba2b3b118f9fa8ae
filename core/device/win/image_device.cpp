// Disk-image files as drives: the file is the volume, in 512-byte sectors.
#include "device/win/image_device.h"

#include <cstring>
#include <limits>
#include <vector>

#include "bootsector/detect.h"
#include "platform/win/error_mode.h"
#include "platform/win/windows.h"

namespace tlx::win {
namespace {

constexpr std::uint32_t errorAccessDenied = 5;
constexpr std::uint32_t errorHandleEof = 38;
constexpr std::uint32_t errorBusy = 170;
constexpr std::uint32_t errorFileInvalid = 1006;
constexpr int lockAttempts = 5;
constexpr DWORD lockPauseMs = 200;

std::wstring_view trimBlanks(std::wstring_view text) {
    const auto first = text.find_first_not_of(L" \t");
    if (first == std::wstring_view::npos) return {};
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

DWORD desiredAccess(DeviceAccess access) {
    return access == DeviceAccess::ReadWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
}

FileHandle openImage(const std::wstring& path, DeviceAccess access, DWORD share, bool unbuffered) {
    const DWORD flags = FILE_FLAG_WRITE_THROUGH | (unbuffered ? FILE_FLAG_NO_BUFFERING : 0);
    return FileHandle(CreateFileW(path.c_str(), desiredAccess(access), share, nullptr, OPEN_EXISTING, flags, nullptr));
}

// Unbuffered transfers must be whole sectors of the disk the file lies on; on a disk with larger
// sectors the image's 512-byte sectors go through the cache, written through and flushed.
bool hostTakes512ByteSectors(HANDLE handle) {
    FILE_STORAGE_INFO storage{};
    if (!GetFileInformationByHandleEx(handle, FileStorageInfo, &storage, sizeof storage)) return true;
    return storage.LogicalBytesPerSector == 0 || storage.LogicalBytesPerSector <= ImageDevice::kSectorSize;
}

// Opened for writing, others may still read and write until lock() takes the file.
constexpr DWORD sharedAccess = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::optional<std::uint64_t> fileLength(HANDLE handle) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle, &size) || size.QuadPart < 0) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

struct FileIdentity {
    DWORD volume = 0, high = 0, low = 0;
    bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> identityOf(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// "\\?\C:\x" gives "C:\x" and "\\?\UNC\server\share\x" gives "\\server\share\x".
std::wstring withoutLongPrefix(std::wstring path) {
    if (path.starts_with(L"\\\\?\\UNC\\")) return L"\\" + path.substr(7);
    if (path.starts_with(L"\\\\?\\")) return path.substr(4);
    return path;
}

std::optional<std::wstring> finalPathOf(HANDLE handle) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return std::nullopt;
        if (length < buffer.size()) return withoutLongPrefix(std::wstring(buffer.data(), length));
        buffer.resize(length + 1);  // too small: length is the size needed, terminator included
    }
    return std::nullopt;
}

std::optional<std::wstring> fullPathOf(const std::wstring& text) {
    const DWORD needed = GetFullPathNameW(text.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return std::nullopt;
    std::vector<wchar_t> buffer(needed);
    const DWORD length = GetFullPathNameW(text.c_str(), needed, buffer.data(), nullptr);
    if (length == 0 || length >= needed) return std::nullopt;
    return std::wstring(buffer.data(), length);
}

}  // namespace

bool isImagePath(std::wstring_view devicePath) {
    return !devicePath.empty() && !devicePath.starts_with(L"\\\\.\\") && !devicePath.starts_with(L"\\\\?\\Volume{");
}

std::optional<std::wstring> imageFilePath(std::wstring_view driveSpec) {
    const std::wstring text(trimBlanks(driveSpec));
    // The device namespaces name disks and volumes, never files to be taken as images.
    if (text.empty() || text.starts_with(L"\\\\.\\") || text.starts_with(L"\\\\?\\Volume{") ||
        text.starts_with(L"\\\\?\\GLOBALROOT"))
        return std::nullopt;
    const ScopedErrorMode quiet;
    const DWORD attributes = GetFileAttributesW(text.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
        return std::nullopt;
    const FileHandle file(CreateFileW(text.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      0, nullptr));
    if (!file) return fullPathOf(text);  // a file locked against every open still has a name
    if (GetFileType(file.get()) != FILE_TYPE_DISK) return std::nullopt;
    if (std::optional<std::wstring> path = finalPathOf(file.get())) return path;
    return fullPathOf(text);
}

EncryptionProbe probeImageEncryption(const std::wstring& path) {
    std::uint32_t error = 0;
    const std::unique_ptr<ImageDevice> device = ImageDevice::open(path, DeviceAccess::Read, error);
    if (!device) return {DiskEncryption::Undetermined, error};
    std::uint8_t sector[ImageDevice::kSectorSize];
    if (!device->readSectors(0, 1, sector)) return {DiskEncryption::Undetermined, device->lastError()};
    return {isBitLockerBootSector(sector) ? DiskEncryption::BitLocker : DiskEncryption::None, 0};
}

std::unique_ptr<ImageDevice> ImageDevice::open(const std::wstring& path, DeviceAccess access, std::uint32_t& error) {
    error = 0;
    const ScopedErrorMode quiet;
    FileHandle handle = openImage(path, access, sharedAccess, true);
    if (!handle) {
        error = GetLastError();
        return nullptr;
    }
    const bool unbuffered = hostTakes512ByteSectors(handle.get());
    if (!unbuffered) {
        handle = openImage(path, access, sharedAccess, false);
        if (!handle) {
            error = GetLastError();
            return nullptr;
        }
    }
    const std::optional<std::uint64_t> length = fileLength(handle.get());
    if (!length) {
        error = GetLastError();
        return nullptr;
    }
    return std::unique_ptr<ImageDevice>(new ImageDevice(std::move(handle), path, access, unbuffered, *length / kSectorSize));
}

ImageDevice::ImageDevice(FileHandle handle, std::wstring path, DeviceAccess access, bool unbuffered,
                         std::uint64_t sectorCount)
    : handle_(std::move(handle)), path_(std::move(path)), access_(access), unbuffered_(unbuffered),
      sectorCount_(sectorCount) {}

bool ImageDevice::readSectors(std::uint64_t first, std::uint32_t count, void* destination) {
    const std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
    if (bytes > std::numeric_limits<std::uint32_t>::max()) return false;
    if (bytes == 0) return true;
    std::uint64_t offset = 0;
    if (!sectorOffset(first, kSectorSize, offset, lastError_) || !buffer_.reserve(bytes, lastError_) ||
        !transferAt(handle_.get(), false, buffer_.get(), static_cast<std::uint32_t>(bytes), offset, lastError_))
        return false;
    std::memcpy(destination, buffer_.get(), static_cast<std::size_t>(bytes));
    return true;
}

bool ImageDevice::writeSectors(std::uint64_t first, std::uint32_t count, const void* source) {
    const std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
    if (bytes > std::numeric_limits<std::uint32_t>::max()) return false;
    if (bytes == 0) return true;
    if (first >= sectorCount_ || count > sectorCount_ - first) {
        lastError_ = errorHandleEof;
        return false;
    }
    std::uint64_t offset = 0;
    if (!sectorOffset(first, kSectorSize, offset, lastError_) || !buffer_.reserve(bytes, lastError_)) return false;
    std::memcpy(buffer_.get(), source, static_cast<std::size_t>(bytes));
    if (!transferAt(handle_.get(), true, buffer_.get(), static_cast<std::uint32_t>(bytes), offset, lastError_))
        return false;
    if (!unbuffered_ && !FlushFileBuffers(handle_.get())) {
        lastError_ = GetLastError();
        return false;
    }
    return true;
}

// Reopens the file without write sharing; the shared handle comes back when that is refused.
std::uint32_t ImageDevice::tryLock() {
    const std::optional<FileIdentity> before = identityOf(handle_.get());
    handle_.reset();
    FileHandle exclusive = openImage(path_, access_, FILE_SHARE_READ, unbuffered_);
    const DWORD refused = exclusive ? 0 : GetLastError();
    if (exclusive) {
        // The name must still lead to the file that was read before the lock.
        const std::optional<std::uint64_t> length = fileLength(exclusive.get());
        if (before && identityOf(exclusive.get()) == before && length) {
            handle_ = std::move(exclusive);
            sectorCount_ = *length / kSectorSize;
            return 0;
        }
        exclusive.reset();
    }
    handle_ = openImage(path_, access_, sharedAccess, unbuffered_);
    if (refused != 0) return refused;
    return errorFileInvalid;
}

bool ImageDevice::lock() {
    if (locked_) return true;
    if (access_ != DeviceAccess::ReadWrite) {
        lastError_ = errorAccessDenied;
        return false;
    }
    for (int attempt = 0; attempt < lockAttempts; ++attempt) {
        if (attempt > 0) Sleep(lockPauseMs);
        const std::uint32_t error = tryLock();
        if (error == 0) {
            locked_ = true;
            return true;
        }
        lastError_ = error;
    }
    return false;
}

bool ImageDevice::dismount() {
    if (locked_) return true;
    lastError_ = errorBusy;
    return false;
}

}  // namespace tlx::win
