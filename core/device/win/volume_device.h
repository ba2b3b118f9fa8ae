#pragma once
// A Windows volume opened for raw, unbuffered, write-through sector access, with lock and dismount.
#include <cstdint>
#include <memory>
#include <string>

#include "device/sector_device.h"
#include "device/win/sector_transfer.h"
#include "platform/win/unique_handle.h"

namespace tlx::win {

class VolumeDevice final : public LockableDevice {
public:
    // Any drive text devicePathFor accepts. Null on failure with error set to the Windows code:
    // 123 when no device path can be formed, 50 for a sector size outside 512..4096 or not a power of two.
    [[nodiscard]] static std::unique_ptr<VolumeDevice> open(const std::wstring& driveSpec, DeviceAccess access,
                                                            std::uint32_t& error);
    ~VolumeDevice() override;  // unlocks when locked, then closes the handle and frees the buffer
    VolumeDevice(const VolumeDevice&) = delete;
    VolumeDevice& operator=(const VolumeDevice&) = delete;

    std::uint32_t sectorSize() const override { return sectorSize_; }
    std::uint64_t sectorCount() const override { return sectorCount_; }
    // Transfers above 4 GiB - 1 byte fail without a system call and leave lastError() as it was.
    bool readSectors(std::uint64_t first, std::uint32_t count, void* destination) override;
    bool writeSectors(std::uint64_t first, std::uint32_t count, const void* source) override;
    std::uint32_t lastError() const override { return lastError_; }
    bool lock() override;      // FSCTL_LOCK_VOLUME, 5 attempts 200 ms apart
    bool dismount() override;  // FSCTL_DISMOUNT_VOLUME once
    // The volume holds the Windows folder: Windows keeps it in use, so a refused lock is expected.
    bool mountedInUse() const override;

private:
    VolumeDevice(FileHandle handle, std::wstring path, std::uint32_t sectorSize, std::uint64_t sectorCount);
    [[nodiscard]] std::uint64_t transferBytes(std::uint32_t count, bool& fits) const;
    [[nodiscard]] bool offsetOf(std::uint64_t first, std::uint64_t& offset);

    FileHandle handle_;
    std::wstring path_;  // the device path it was opened by
    std::uint32_t sectorSize_;
    std::uint64_t sectorCount_;
    std::uint32_t lastError_ = 0;
    bool locked_ = false;
    TransferBuffer ioBuffer_;  // page-aligned, grown to the largest transfer
};

}  // namespace tlx::win
