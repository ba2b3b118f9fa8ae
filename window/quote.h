#pragma once
// Quoting one argument so that CommandLineToArgvW hands it back unchanged.
#include <string>
#include <string_view>

namespace tlx {

// Always enclosed in double quotes, so an empty text survives as an empty argument.
[[nodiscard]] std::wstring quoteArgument(std::wstring_view text);

}  // namespace tlx
