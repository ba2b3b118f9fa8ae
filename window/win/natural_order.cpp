// Natural order from the system: the user's locale, case-blind, digits as numbers.
#include "natural_order.h"

#include "catalog/volume_info.h"
#include "platform/win/windows.h"

namespace tlx {

int compareListText(const std::wstring& a, const std::wstring& b) {
    const int result = CompareStringEx(LOCALE_NAME_USER_DEFAULT, NORM_IGNORECASE | SORT_DIGITSASNUMBERS, a.c_str(),
                                       static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), nullptr,
                                       nullptr, 0);
    if (result == 0) return compareNatural(a, b);  // flags unknown to an old system
    return result - CSTR_EQUAL;
}

}  // namespace tlx
