// Serial parsing and text forms.
#include "bootsector/serial.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tlx {
namespace {

struct ParseCase {
    const wchar_t* text;
    unsigned maxDigits;
    std::optional<VolumeSerial> expected;
};

TEST(ParseHexSerial, AcceptsGroupingsAndRefusesEverythingElse) {
    const ParseCase cases[] = {
        {L"0123-ABCD", 8, 0x0123ABCD},
        {L"0123ABCD", 8, 0x0123ABCD},
        {L"0x0123abcd", 8, 0x0123ABCD},
        {L" 01 23 AB CD ", 8, 0x0123ABCD},
        {L"0123-ABCD-", 8, 0x0123ABCD},
        {L"\t 0X0123abcd", 8, 0x0123ABCD},
        {L"0-1-2-3-a-b-c-d", 8, 0x0123ABCD},
        {L"ABC", 8, 0xABC},
        {L"0", 8, 0},
        {L"FFFFFFFF", 8, 0xFFFFFFFF},
        {L"0123ABCD9", 8, std::nullopt},
        {L"", 8, std::nullopt},
        {L"   \t ", 8, std::nullopt},
        {L"-", 8, std::nullopt},
        {L"0x", 8, std::nullopt},
        {L" 0x - ", 8, std::nullopt},
        {L"_0123ABCD", 8, std::nullopt},
        {L"0123_ABCD", 8, std::nullopt},
        {L"0123ABCD_", 8, std::nullopt},
        {L"x0123ABCD", 8, std::nullopt},
        {L"0x0x1234", 8, std::nullopt},
        {L"12 0x34", 8, std::nullopt},
        {L"0123:ABCD", 8, std::nullopt},
        {L"0123-ABCG", 8, std::nullopt},
        {L"\x0661\x0662", 8, std::nullopt},  // Arabic-Indic digits are not hex digits
        {L"0123-4567-89AB-CDEF", 16, 0x0123456789ABCDEFull},
        {L"0x0123456789abcdef", 16, 0x0123456789ABCDEFull},
        {L"FFFFFFFFFFFFFFFF", 16, 0xFFFFFFFFFFFFFFFFull},
        {L"0123-4567-89AB-CDEF", 8, std::nullopt},
        {L"1-0123-4567-89AB-CDEF", 16, std::nullopt},
        // Digits beyond 64 bits are refused even when the caller allows more.
        {L"10000000000000000", 20, std::nullopt},
        {L"1234", 0, std::nullopt},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "text \"" << std::wstring(c.text) << "\" maxDigits " << c.maxDigits);
        EXPECT_EQ(parseHexSerial(c.text, c.maxDigits), c.expected);
    }
}

TEST(ParseHexSerial, StopsAtTheGivenLength) {
    // The view need not be terminated: characters past its end are not part of the text.
    const wchar_t text[] = L"0123ABCD_junk";
    EXPECT_EQ(parseHexSerial(std::wstring_view(text, 8), 8), VolumeSerial{0x0123ABCD});
    EXPECT_EQ(parseHexSerial(std::wstring_view(text, 9), 8), std::nullopt);
    EXPECT_EQ(parseHexSerial(std::wstring_view(text, 1), 8), VolumeSerial{0});
    // A lone "0" is a digit, not half a prefix.
    EXPECT_EQ(parseHexSerial(std::wstring_view(L"0x12", 1), 8), VolumeSerial{0});
}

TEST(FormatSerial, TextForms) {
    EXPECT_EQ(formatSerial32(0), L"0000-0000");
    EXPECT_EQ(formatSerial32(0x89ABCDEF), L"89AB-CDEF");
    EXPECT_EQ(formatSerial32(0x000A000B), L"000A-000B");
    EXPECT_EQ(formatSerial64(0x0123456789ABCDEFull), L"0123-4567-89AB-CDEF");
    EXPECT_EQ(formatSerial64(0), L"0000-0000-0000-0000");
    EXPECT_EQ(formatSerial64(0xFFFFFFFFFFFFFFFFull), L"FFFF-FFFF-FFFF-FFFF");
    EXPECT_EQ(formatSerialHex(0x0123456789ABCDEFull, 4), "89ABCDEF");
    EXPECT_EQ(formatSerialHex(0x0123456789ABCDEFull, 8), "0123456789ABCDEF");
    EXPECT_EQ(formatSerialHex(0xABC, 4), "00000ABC");
    EXPECT_EQ(formatSerialHex(0xABC, 8), "0000000000000ABC");
}

TEST(FormatSerial, DisplayFormShowsTheFullValueOnlyForWideFieldsWhenAsked) {
    struct Case {
        VolumeSerial value;
        std::uint32_t width;
        bool showFull;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {0x0123456789ABCDEFull, 8, true, L"89AB-CDEF (full 0123-4567-89AB-CDEF)"},
        {0x0123456789ABCDEFull, 8, false, L"89AB-CDEF"},
        {0x0123456789ABCDEFull, 4, true, L"89AB-CDEF"},
        {0x1234ABCD, 4, false, L"1234-ABCD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.value << " width " << c.width << " full " << c.showFull);
        EXPECT_EQ(formatSerialDisplay(c.value, c.width, c.showFull), c.expected);
    }
}

TEST(FormatSerial, FormsParseBackToTheSameValue) {
    const VolumeSerial values[] = {0, 1, 0x0123456789ABCDEFull, 0xFFFFFFFFFFFFFFFFull, 0x8000000000000000ull};
    for (VolumeSerial value : values) {
        SCOPED_TRACE(testing::Message() << std::hex << value);
        EXPECT_EQ(parseHexSerial(formatSerial64(value), 16), value);
        const std::string hex = formatSerialHex(value, 8);
        EXPECT_EQ(parseHexSerial(std::wstring(hex.begin(), hex.end()), 16), value);
        EXPECT_EQ(parseHexSerial(formatSerial32(static_cast<std::uint32_t>(value)), 8), value & 0xFFFFFFFFu);
    }
}

TEST(WithLowHalf, KeepsTheHighHalfOfTheCurrentSerial) {
    EXPECT_EQ(withLowHalf(0xAAAABBBBCCCCDDDDull, 0x11112222), 0xAAAABBBB11112222ull);
    EXPECT_EQ(withLowHalf(0xAAAABBBBCCCCDDDDull, 0xFFFFFFFF11112222ull), 0xAAAABBBB11112222ull);
    EXPECT_EQ(withLowHalf(0x00000000CCCCDDDDull, 0), 0ull);
}

}  // namespace
}  // namespace tlx
