// POSIX paths use '/', but a Windows-style folder given on the command line keeps its own separator.
#include "backup/path_separator.h"

namespace tlx {

wchar_t joinSeparatorFor(std::wstring_view left) {
    const bool posixStyle = left.find(L'/') != std::wstring_view::npos && left.find(L'\\') == std::wstring_view::npos;
    return posixStyle ? L'/' : L'\\';
}

}  // namespace tlx
