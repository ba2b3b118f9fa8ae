// The volumes of this machine: block devices and image files.
#include "device/posix/volume_device.h"
#include "device/system_volume_access.h"

namespace tlx {

VolumeAccess& systemVolumes() {
    static SystemVolumeAccess<posix::VolumeDevice> volumes;
    return volumes;
}

}  // namespace tlx
