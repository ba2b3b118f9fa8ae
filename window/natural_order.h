#pragma once
// Natural text order for the volume list: case-blind, runs of digits compared as numbers.
#include <string>

namespace tlx {

// Negative, zero or positive. Windows: CompareStringEx of the user's locale with NORM_IGNORECASE and
// SORT_DIGITSASNUMBERS; elsewhere compareNaturalPortable.
[[nodiscard]] int compareNatural(const std::wstring& a, const std::wstring& b);
// "Disk 9" before "Disk 10"; letters compared after compareUpperCased's mapping; leading zeros ignored.
[[nodiscard]] int compareNaturalPortable(const std::wstring& a, const std::wstring& b);

}  // namespace tlx
