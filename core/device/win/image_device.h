#pragma once
// A disk-image file used as a drive: 512-byte sectors over the file, unbuffered and written through
// (on a disk with larger sectors: through the cache, written through and flushed).
// Opening for writing shares writing; lock() reopens the file without write sharing, which is the
// image's lock: it fails while another program holds the file open for writing.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "device/encryption.h"
#include "device/sector_device.h"
#include "device/win/sector_transfer.h"
#include "platform/win/unique_handle.h"

namespace tlx::win {

// The full path of the regular file a drive text names ("C:\images\fat.img", "\\server\share\x.img"),
// with the case and links the file system resolves; absent for folders, devices and missing files.
[[nodiscard]] std::optional<std::wstring> imageFilePath(std::wstring_view driveSpec);
// Whether a device path names an image file rather than a volume ("\\.\X:" or "\\?\Volume{...}").
[[nodiscard]] bool isImagePath(std::wstring_view devicePath);
// The first sector's BitLocker signature; Undetermined with the error when it cannot be read.
[[nodiscard]] EncryptionProbe probeImageEncryption(const std::wstring& path);

class ImageDevice final : public LockableDevice {
public:
    // path as imageFilePath gives it. Null on failure with error set to the Windows code.
    [[nodiscard]] static std::unique_ptr<ImageDevice> open(const std::wstring& path, DeviceAccess access,
                                                           std::uint32_t& error);
    ImageDevice(const ImageDevice&) = delete;
    ImageDevice& operator=(const ImageDevice&) = delete;

    std::uint32_t sectorSize() const override { return kSectorSize; }
    std::uint64_t sectorCount() const override { return sectorCount_; }
    bool readSectors(std::uint64_t first, std::uint32_t count, void* destination) override;
    // Never past the end: an image would silently grow (38).
    bool writeSectors(std::uint64_t first, std::uint32_t count, const void* source) override;
    std::uint32_t lastError() const override { return lastError_; }
    // 5 attempts 200 ms apart; 32 while another handle may write the file, 5 when opened for reading.
    bool lock() override;
    // No file system is mounted on a file: true once locked, else 170.
    bool dismount() override;
    // No file system of Windows keeps a file in use: a refused lock is always another writer.
    bool mountedInUse() const override { return false; }

    static constexpr std::uint32_t kSectorSize = 512;

private:
    ImageDevice(FileHandle handle, std::wstring path, DeviceAccess access, bool unbuffered, std::uint64_t sectorCount);
    [[nodiscard]] std::uint32_t tryLock();

    FileHandle handle_;
    std::wstring path_;
    DeviceAccess access_;
    bool unbuffered_;  // false on a disk with sectors larger than 512 bytes
    std::uint64_t sectorCount_;
    std::uint32_t lastError_ = 0;
    bool locked_ = false;
    TransferBuffer buffer_;
};

}  // namespace tlx::win
