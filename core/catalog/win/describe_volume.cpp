// Every Windows volume comes from the volume manager's enumeration; nothing is described outside it.
#include "catalog/resolve.h"

namespace tlx {

std::optional<VolumeInfo> describeUnlistedVolume(const std::wstring&) {
    return std::nullopt;
}

}  // namespace tlx
