#pragma once
// Everything qorin prints: text and lines to a stream, the yes/no question, JSON strings, table columns.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tlx {

enum class Stream { Output, Error };

// The platform's line break: "\r\n" on Windows, "\n" elsewhere.
extern const wchar_t* const kLineEnd;

// Platform: console windows get UTF-16, anything redirected gets UTF-8 without a byte-order mark.
// Empty text writes nothing; write errors are ignored.
void writeText(Stream stream, std::wstring_view text);
// Text and line break in one write.
void writeLine(Stream stream, std::wstring_view text);
void printLine(std::wstring_view text);
void printErrorLine(std::wstring_view text);
// Linux: the error code of the first failed write to standard output, 0 when all went out. Windows
// ignores output errors and always answers 0.
[[nodiscard]] std::uint32_t outputError();
inline constexpr std::uint32_t kBrokenPipe = 109;  // the reader went away: not worth a line

// Asks on the console; without one, says so on standard error and answers no.
[[nodiscard]] bool confirm(std::wstring_view question);
// Only the first non-blank character counts: y or Y.
[[nodiscard]] bool isYesAnswer(std::wstring_view answer);

// The JSON string literal, quotes included; non-ASCII text is copied unchanged.
[[nodiscard]] std::wstring jsonString(std::wstring_view text);
// Padded with spaces to width (never cut), then two spaces.
[[nodiscard]] std::wstring padColumn(std::wstring_view text, std::size_t width);

}  // namespace tlx
