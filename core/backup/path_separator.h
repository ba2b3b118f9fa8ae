#pragma once
// The separator joinPath inserts: each platform has its own preference.
#include <string_view>

namespace tlx {

[[nodiscard]] wchar_t joinSeparatorFor(std::wstring_view left);

}  // namespace tlx
