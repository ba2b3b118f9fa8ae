#include "platform/text.h"

#include <cstdint>

namespace tlx {

namespace {

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void appendWide(std::wstring& out, char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (c >> 10));
            out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
            return;
        }
    }
    out += static_cast<wchar_t>(c);
}

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kKeptByte = 0xDC00;  // + the byte (0x80 to 0xFF) that was not valid UTF-8

bool isKeptByte(char32_t c) {
    return c >= kKeptByte + 0x80 && c <= kKeptByte + 0xFF;
}

std::string encode(std::wstring_view text, bool keepBytes) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
                char32_t low = static_cast<char32_t>(text[i + 1]);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        if (keepBytes && isKeptByte(c)) {
            out += static_cast<char>(c - kKeptByte);
            continue;
        }
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacement;
        appendUtf8(out, c);
    }
    return out;
}

std::wstring decode(std::string_view text, bool keepBytes) {
    std::wstring out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size()) {
            appendWide(out, keepBytes ? kKeptByte + static_cast<std::uint8_t>(text[i]) : kReplacement);
            ++i;
            continue;
        }
        char32_t c = length == 1 ? lead : lead & (0xFF >> (length + 1));
        bool valid = true;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<std::uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            c = (c << 6) | (next & 0x3F);
        }
        static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!valid || c < kMinimum[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            appendWide(out, keepBytes ? kKeptByte + static_cast<std::uint8_t>(text[i]) : kReplacement);
            ++i;
            continue;
        }
        appendWide(out, c);
        i += length;
    }
    return out;
}

}  // namespace

std::string toUtf8(std::wstring_view text) {
    return encode(text, true);
}

std::string toReadableUtf8(std::wstring_view text) {
    return encode(text, false);
}

std::wstring fromUtf8(std::string_view text) {
    return decode(text, false);
}

std::wstring fromSystemBytes(std::string_view bytes) {
    return decode(bytes, true);
}

std::wstring widen(std::string_view ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

}  // namespace tlx
