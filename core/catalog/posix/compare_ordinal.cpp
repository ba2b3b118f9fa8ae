// Case-blind comparison where no system table is at hand.
#include "catalog/volume_info.h"

namespace tlx {

int compareOrdinalIgnoreCase(const std::wstring& a, const std::wstring& b) {
    return compareUpperCased(a, b);
}

}  // namespace tlx
