// The computer's own volumes for the writing operations.
#include "device/system_volume_access.h"
#include "device/win/volume_device.h"

namespace tlx {

VolumeAccess& systemVolumes() {
    static SystemVolumeAccess<win::VolumeDevice> volumes;
    return volumes;
}

}  // namespace tlx
