// Case-blind comparison by the system's own upper-case table, as volume names and mount points are compared.
#include "catalog/volume_info.h"

#include "platform/win/windows.h"

namespace tlx {

int compareOrdinalIgnoreCase(const std::wstring& a, const std::wstring& b) {
    const int result = CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                            static_cast<int>(b.size()), TRUE);
    // 0 only for invalid arguments, which these lengths never are.
    if (result == 0) return compareUpperCased(a, b);
    return result - CSTR_EQUAL;
}

}  // namespace tlx
