#pragma once
// What the writing operations need from the platform: open a volume and probe its disk.
// The system implementation wraps the platform's VolumeDevice; tests supply in-memory volumes.
#include <cstdint>
#include <memory>
#include <string>

#include "device/encryption.h"
#include "device/sector_device.h"

namespace tlx {

class VolumeAccess {
public:
    virtual ~VolumeAccess() = default;
    // Null on failure, with error set to the Windows error code.
    [[nodiscard]] virtual std::unique_ptr<LockableDevice> open(const std::wstring& driveSpec, DeviceAccess access,
                                                               std::uint32_t& error) = 0;
    [[nodiscard]] virtual DiskEncryption probe(const std::wstring& driveSpec) = 0;
};

// The platform's volumes (VolumeDevice and probeDiskEncryption).
[[nodiscard]] VolumeAccess& systemVolumes();

}  // namespace tlx
