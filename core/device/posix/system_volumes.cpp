// The volumes of this machine: block devices and image files.
#include "device/volume_access.h"

#include "device/posix/volume_device.h"

namespace tlx {

namespace {

class SystemVolumes final : public VolumeAccess {
public:
    std::unique_ptr<LockableDevice> open(const std::wstring& driveSpec, DeviceAccess access,
                                         std::uint32_t& error) override {
        return posix::VolumeDevice::open(driveSpec, access, error);
    }
    DiskEncryption probe(const std::wstring& driveSpec) override { return probeDiskEncryption(driveSpec).answer; }
};

}  // namespace

VolumeAccess& systemVolumes() {
    static SystemVolumes volumes;
    return volumes;
}

}  // namespace tlx
