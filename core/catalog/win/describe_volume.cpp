// Every Windows volume comes from the volume manager's enumeration; nothing is described outside it.
#include "catalog/resolve.h"

namespace tlx {

std::optional<VolumeInfo> describeVolume(const std::wstring& volumeName) {
    return findVolumeIn(enumerateVolumes(), volumeName);
}

}  // namespace tlx
