#pragma once
// Natural text order for the volume list: case-blind, runs of digits compared as numbers.
#include <string>

namespace tlx {

// Negative, zero or positive. Windows: CompareStringEx of the user's locale with NORM_IGNORECASE and
// SORT_DIGITSASNUMBERS; elsewhere the catalogue's compareNatural.
[[nodiscard]] int compareListText(const std::wstring& a, const std::wstring& b);

}  // namespace tlx
