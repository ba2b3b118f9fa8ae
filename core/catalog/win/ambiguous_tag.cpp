// Windows drive texts name at most one volume.
#include "catalog/resolve.h"

namespace tlx {

std::vector<std::wstring> ambiguousVolumesFor(const std::wstring&) {
    return {};
}

}  // namespace tlx
