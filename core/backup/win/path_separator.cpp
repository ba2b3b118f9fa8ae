// Windows joins with a backslash whatever the left side already uses.
#include "backup/path_separator.h"

namespace tlx {

wchar_t joinSeparatorFor(std::wstring_view) {
    return L'\\';
}

}  // namespace tlx
