// POSIX paths use '/'; only a folder written Windows-style (backslashes, no slash) keeps its backslash.
#include "backup/path_separator.h"

namespace tlx {

wchar_t joinSeparatorFor(std::wstring_view left) {
    const bool windowsStyle = left.find(L'\\') != std::wstring_view::npos && left.find(L'/') == std::wstring_view::npos;
    return windowsStyle ? L'\\' : L'/';
}

}  // namespace tlx
