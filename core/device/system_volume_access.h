#pragma once
// The writing operations' access to this computer's volumes, over the platform's VolumeDevice.
#include "device/volume_access.h"

namespace tlx {

template <class Device>
class SystemVolumeAccess final : public VolumeAccess {
public:
    std::unique_ptr<LockableDevice> open(const std::wstring& driveSpec, DeviceAccess access,
                                         std::uint32_t& error) override {
        return Device::open(driveSpec, access, error);
    }
    DiskEncryption probe(const std::wstring& driveSpec) override { return probeDiskEncryption(driveSpec).answer; }
};

}  // namespace tlx
