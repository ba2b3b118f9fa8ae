// No locale tables here: the catalogue's natural order stands in for the system's.
#include "natural_order.h"

#include "catalog/volume_info.h"

namespace tlx {

int compareListText(const std::wstring& a, const std::wstring& b) { return compareNatural(a, b); }

}  // namespace tlx
