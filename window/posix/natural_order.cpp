// No locale tables here: the portable natural order stands in for the system's.
#include "natural_order.h"

namespace tlx {

int compareNatural(const std::wstring& a, const std::wstring& b) { return compareNaturalPortable(a, b); }

}  // namespace tlx
