// Typed serials: the parser never accepts what the digit rules refuse, and every text form reads back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "bootsector/serial.h"
#include "fuzz_check.h"

using tlx::fuzz::require;

namespace {

// The documented rules, spelled out independently of the parser under test.
std::optional<tlx::VolumeSerial> expectedParse(const std::wstring& text, unsigned maxDigits) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t'))
        ++i;
    if (text.size() - i >= 2 && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X'))
        i += 2;
    tlx::VolumeSerial value = 0;
    unsigned digits = 0;
    for (; i < text.size(); ++i) {
        const wchar_t c = text[i];
        unsigned digit;
        if (c >= L'0' && c <= L'9') digit = static_cast<unsigned>(c - L'0');
        else if (c >= L'a' && c <= L'f') digit = static_cast<unsigned>(c - L'a' + 10);
        else if (c >= L'A' && c <= L'F') digit = static_cast<unsigned>(c - L'A' + 10);
        else if (c == L' ' || c == L'\t' || c == L'-') continue;
        else return std::nullopt;
        // Past 16 digits the value cannot be held: refused, never wrapped, whatever maxDigits says.
        if (++digits > maxDigits || digits > 16)
            return std::nullopt;
        value = value * 16 + digit;
    }
    if (digits == 0)
        return std::nullopt;
    return value;
}

std::wstring widenAscii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const unsigned maxDigits = data[0] % 18;  // 17 is past any real field, 0 refuses everything
    // Bytes from 0x80 become full-width forms (U+FF00..): look-alike digits a locale-aware check would take.
    std::wstring text;
    for (std::size_t i = 1; i < size; ++i)
        text.push_back(data[i] < 0x80 ? static_cast<wchar_t>(data[i]) : static_cast<wchar_t>(0xFF00 + (data[i] & 0x7F)));

    const std::optional<tlx::VolumeSerial> parsed = tlx::parseHexSerial(text, maxDigits);
    require(parsed == expectedParse(text, maxDigits), "parseHexSerial differs from the digit rules");

    // Every text form of any value reads back to that value.
    tlx::VolumeSerial value = 0;
    std::memcpy(&value, data + 1, std::min<std::size_t>(size - 1, sizeof value));
    const auto low = static_cast<std::uint32_t>(value);
    const std::wstring full = tlx::formatSerial64(value);
    const std::wstring shortForm = tlx::formatSerial32(low);
    require(full.size() == 19 && shortForm.size() == 9, "text form lengths");
    require(tlx::parseHexSerial(full, 16) == value, "full form round trip");
    require(tlx::parseHexSerial(shortForm, 8) == low, "short form round trip");
    require(full.substr(10) == shortForm, "full form ends with the short form of the low half");
    const std::string hex16 = tlx::formatSerialHex(value, 8);
    const std::string hex8 = tlx::formatSerialHex(value, 4);
    require(hex16.size() == 16 && hex8.size() == 8, "plain hex lengths");
    require(tlx::parseHexSerial(widenAscii(hex16), 16) == value, "16-digit hex round trip");
    require(tlx::parseHexSerial(widenAscii(hex8), 8) == low, "8-digit hex round trip");
    require(tlx::formatSerialDisplay(value, 4, true) == shortForm, "display of a 32-bit field");
    require(tlx::formatSerialDisplay(value, 8, false) == shortForm, "display without the full form");
    require(tlx::formatSerialDisplay(value, 8, true) == shortForm + L" (full " + full + L")", "display with the full form");
    if (parsed && maxDigits >= 16)
        require(tlx::parseHexSerial(tlx::formatSerial64(*parsed), 16) == parsed, "a parsed value formats back");
    require(tlx::withLowHalf(value, low ^ 0xFFFFFFFFu) >> 32 == value >> 32, "low-half rule keeps the high half");
    return 0;
}
