#include "natural_order.h"

#include <cstddef>

#include "catalog/volume_info.h"

namespace tlx {
namespace {

bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Compares the digit runs starting at i and j and moves both past them.
int compareNumberRuns(const std::wstring& a, std::size_t& i, const std::wstring& b, std::size_t& j) {
    while (i < a.size() && a[i] == L'0' && i + 1 < a.size() && isDigit(a[i + 1])) ++i;
    while (j < b.size() && b[j] == L'0' && j + 1 < b.size() && isDigit(b[j + 1])) ++j;
    std::size_t endA = i, endB = j;
    while (endA < a.size() && isDigit(a[endA])) ++endA;
    while (endB < b.size() && isDigit(b[endB])) ++endB;
    int result = 0;
    if (endA - i != endB - j) {
        result = endA - i < endB - j ? -1 : 1;  // fewer significant digits is the smaller number
    } else {
        for (std::size_t k = 0; k < endA - i && result == 0; ++k)
            if (a[i + k] != b[j + k]) result = a[i + k] < b[j + k] ? -1 : 1;
    }
    i = endA;
    j = endB;
    return result;
}

}  // namespace

int compareNaturalPortable(const std::wstring& a, const std::wstring& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            if (const int r = compareNumberRuns(a, i, b, j); r != 0) return r;
            continue;
        }
        if (const int r = compareUpperCased(std::wstring(1, a[i]), std::wstring(1, b[j])); r != 0) return r;
        ++i;
        ++j;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

}  // namespace tlx
