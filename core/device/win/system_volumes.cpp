// The computer's own volumes for the writing operations, and disk-image files used as drives.
#include "device/device_path.h"
#include "device/volume_access.h"
#include "device/win/image_device.h"
#include "device/win/volume_device.h"

namespace tlx {
namespace {

class WindowsVolumes final : public VolumeAccess {
public:
    std::unique_ptr<LockableDevice> open(const std::wstring& driveSpec, DeviceAccess access,
                                         std::uint32_t& error) override {
        error = 0;
        if (const std::optional<std::wstring> image = imagePathOf(driveSpec))
            return win::ImageDevice::open(*image, access, error);
        return win::VolumeDevice::open(driveSpec, access, error);
    }
    DiskEncryption probe(const std::wstring& driveSpec) override {
        if (const std::optional<std::wstring> image = imagePathOf(driveSpec))
            return win::probeImageEncryption(*image).answer;
        return probeDiskEncryption(driveSpec).answer;
    }

private:
    static std::optional<std::wstring> imagePathOf(const std::wstring& driveSpec) {
        std::optional<std::wstring> path = devicePathFor(driveSpec);
        if (!path || !win::isImagePath(*path)) return std::nullopt;
        return path;
    }
};

}  // namespace

VolumeAccess& systemVolumes() {
    static WindowsVolumes volumes;
    return volumes;
}

}  // namespace tlx
