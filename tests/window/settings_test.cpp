// Window settings as stored: numbers, flags and the saved rectangle, with wrong types and sizes.
#include "settings.h"

#include <gtest/gtest.h>

namespace tlx {
namespace {

StoredValue dword(std::uint32_t value) {
    const auto bytes = encodeDword(value);
    return {kRegDword, {bytes.begin(), bytes.end()}};
}

TEST(DecodeSortColumn, RangeTypesAndSizes) {
    struct Case { const char* name; std::optional<StoredValue> value; int column; };
    const std::vector<Case> cases = {
        {"missing", std::nullopt, 0},
        {"0", dword(0), 0},
        {"5", dword(5), 5},
        {"6", dword(6), 6},
        {"9 read as 6", dword(9), 6},
        {"0xFFFFFFFF is -1", dword(0xFFFFFFFF), -1},
        {"string", StoredValue{1, {'5', 0, 0, 0}}, 0},
        {"binary of 4 bytes", StoredValue{kRegBinary, {5, 0, 0, 0}}, 0},
        {"dword of 3 bytes", StoredValue{kRegDword, {5, 0, 0}}, 0},
        {"qword", StoredValue{11, {5, 0, 0, 0, 0, 0, 0, 0}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodeSortColumn(c.value), c.column);
    }
}

TEST(DecodeFlag, NonZeroDwordOnly) {
    EXPECT_FALSE(decodeFlag(std::nullopt));
    EXPECT_FALSE(decodeFlag(dword(0)));
    EXPECT_TRUE(decodeFlag(dword(1)));
    EXPECT_TRUE(decodeFlag(dword(0x100)));
    EXPECT_FALSE(decodeFlag(StoredValue{1, {'1', 0}}));
    EXPECT_FALSE(decodeFlag(StoredValue{kRegBinary, {1, 0, 0, 0}}));
}

TEST(DecodeWindow, ExactlyTwentyBinaryBytes) {
    const SavedWindow saved{-1200, 40, -300, 700, true};
    const auto bytes = encodeWindow(saved);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<std::uint8_t>{0x50, 0xFB, 0xFF, 0xFF}));
    EXPECT_EQ(bytes[16], 1);

    const std::optional<SavedWindow> read = decodeWindow(StoredValue{kRegBinary, {bytes.begin(), bytes.end()}});
    ASSERT_TRUE(read);
    EXPECT_EQ(read->left, -1200);
    EXPECT_EQ(read->top, 40);
    EXPECT_EQ(read->right, -300);
    EXPECT_EQ(read->bottom, 700);
    EXPECT_TRUE(read->maximized);

    std::vector<std::uint8_t> flag2(bytes.begin(), bytes.end());
    flag2[16] = 2;
    EXPECT_TRUE(decodeWindow(StoredValue{kRegBinary, flag2})->maximized);
    flag2[16] = 0;
    EXPECT_FALSE(decodeWindow(StoredValue{kRegBinary, flag2})->maximized);

    EXPECT_FALSE(decodeWindow(std::nullopt));
    EXPECT_FALSE(decodeWindow(StoredValue{kRegBinary, std::vector<std::uint8_t>(16)}));
    EXPECT_FALSE(decodeWindow(StoredValue{kRegBinary, std::vector<std::uint8_t>(24)}));
    EXPECT_FALSE(decodeWindow(StoredValue{kRegDword, std::vector<std::uint8_t>(20)}));
    EXPECT_FALSE(decodeWindow(StoredValue{kRegBinary, {}}));
}

TEST(MeetsMinimumSize, WidthAndHeight) {
    EXPECT_TRUE(meetsMinimumSize({0, 0, 640, 480, false}, 640, 480));
    EXPECT_FALSE(meetsMinimumSize({0, 0, 639, 480, false}, 640, 480));
    EXPECT_FALSE(meetsMinimumSize({0, 0, 640, 479, false}, 640, 480));
    EXPECT_FALSE(meetsMinimumSize({100, 100, 0, 0, false}, 640, 480));  // inverted
    // A difference that overflows 32 bits is still a huge rectangle, not a negative one.
    EXPECT_TRUE(meetsMinimumSize({INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, false}, 640, 480));
    EXPECT_FALSE(meetsMinimumSize({INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN, false}, 640, 480));
}

}  // namespace
}  // namespace tlx
