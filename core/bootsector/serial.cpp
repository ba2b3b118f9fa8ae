#include "bootsector/serial.h"

#include <cstdio>

namespace tlx {

std::optional<VolumeSerial> parseHexSerial(std::wstring_view text, unsigned maxDigits) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
    if (text.size() - i >= 2 && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X')) i += 2;

    VolumeSerial value = 0;
    unsigned digits = 0;
    for (; i < text.size(); ++i) {
        const wchar_t c = text[i];
        unsigned digit = 0;
        if (c >= L'0' && c <= L'9') digit = static_cast<unsigned>(c - L'0');
        else if (c >= L'a' && c <= L'f') digit = static_cast<unsigned>(c - L'a' + 10);
        else if (c >= L'A' && c <= L'F') digit = static_cast<unsigned>(c - L'A' + 10);
        else if (c == L' ' || c == L'\t' || c == L'-') continue;
        else return std::nullopt;
        // A 17th digit would no longer fit the value, whatever the caller allows.
        if (++digits > maxDigits || digits > 16) return std::nullopt;
        value = value * 16 + digit;
    }
    if (digits == 0) return std::nullopt;
    return value;
}

namespace {
std::wstring widenAscii(const char* text) {
    std::wstring out;
    for (; *text; ++text) out += static_cast<wchar_t>(*text);
    return out;
}
}  // namespace

std::wstring formatSerial32(std::uint32_t value32) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04X-%04X", value32 >> 16, value32 & 0xFFFFu);
    return widenAscii(buffer);
}

std::wstring formatSerial64(VolumeSerial value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04X-%04X-%04X-%04X", static_cast<unsigned>(value >> 48),
                  static_cast<unsigned>((value >> 32) & 0xFFFF), static_cast<unsigned>((value >> 16) & 0xFFFF),
                  static_cast<unsigned>(value & 0xFFFF));
    return widenAscii(buffer);
}

std::string formatSerialHex(VolumeSerial value, std::uint32_t width) {
    char buffer[24];
    if (width == 8)
        std::snprintf(buffer, sizeof buffer, "%016llX", static_cast<unsigned long long>(value));
    else
        std::snprintf(buffer, sizeof buffer, "%08X", static_cast<unsigned>(value & 0xFFFFFFFFu));
    return buffer;
}

std::wstring formatSerialDisplay(VolumeSerial value, std::uint32_t width, bool showFull) {
    std::wstring text = formatSerial32(static_cast<std::uint32_t>(value));
    if (width == 8 && showFull) text += L" (full " + formatSerial64(value) + L")";
    return text;
}

}  // namespace tlx
