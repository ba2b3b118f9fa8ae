#pragma once
// UTF-8 at the edges, wide text inside.
#include <string>
#include <string_view>

namespace tlx {

[[nodiscard]] std::string toUtf8(std::wstring_view text);
// Malformed sequences become U+FFFD rather than failing.
[[nodiscard]] std::wstring fromUtf8(std::string_view text);
// Plain ASCII widening, for fixed texts.
[[nodiscard]] std::wstring widen(std::string_view ascii);

}  // namespace tlx
