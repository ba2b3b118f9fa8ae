#pragma once
// UTF-8 at the edges, wide text inside.
#include <string>
#include <string_view>

namespace tlx {

// A byte that fromSystemBytes kept as U+DC80 + byte becomes that byte again; other unpaired
// surrogates become U+FFFD.
[[nodiscard]] std::string toUtf8(std::wstring_view text);
// Malformed sequences become U+FFFD rather than failing.
[[nodiscard]] std::wstring fromUtf8(std::string_view text);
// Names the system hands over (arguments, paths) may hold any bytes: each byte that is not part of
// valid UTF-8 becomes the unpaired surrogate U+DC80 + byte, so toUtf8 gives exactly the same bytes back.
[[nodiscard]] std::wstring fromSystemBytes(std::string_view bytes);
// Always valid UTF-8, for what people and parsers read: bytes kept by fromSystemBytes show as U+FFFD.
[[nodiscard]] std::string toReadableUtf8(std::wstring_view text);
// Plain ASCII widening, for fixed texts.
[[nodiscard]] std::wstring widen(std::string_view ascii);

}  // namespace tlx
