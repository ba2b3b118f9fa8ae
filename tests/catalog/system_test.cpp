// Error texts, random bits and the clock of the platform layer.
#include "platform/system.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/text.h"

namespace tlx {
namespace {

TEST(ErrorText, GivesTheSystemTextOrTheNumber) {
    struct Case { std::uint32_t code; std::wstring text; };
    const std::vector<Case> cases = {
        {2, L"No such file or directory"},
        {5, L"Permission denied"},
        {19, L"Read-only file system"},
        {38, L"Unexpected end of file"},
        {50, L"Operation not supported"},
        {87, L"Invalid argument"},
        {112, L"No space left on device"},
        {170, L"Device or resource busy"},
        {1117, L"Input/output error"},
        {9999, L"Error 9999."},
        {4294967295u, L"Error 4294967295."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(errorText(c.code), c.text);
    }
}

TEST(RandomBits64, EveryBitVaries) {
    // 64 draws leave a bit fixed with probability 2^-63: a fault, not chance, when this fails.
    std::uint64_t seenOne = 0, seenZero = 0;
    for (int i = 0; i < 64; ++i) {
        const auto bits = randomBits64();
        ASSERT_TRUE(bits);
        seenOne |= *bits;
        seenZero |= ~*bits;
    }
    EXPECT_EQ(seenOne, ~0ull);
    EXPECT_EQ(seenZero, ~0ull);
}

TEST(UtcNow, LiesBetweenTwoReadingsOfTheSystemClock) {
    // Under a zone far from UTC a clock read in local time would fall outside the readings.
    const char* zone = std::getenv("TZ");
    const std::string saved = zone ? zone : "";
    setenv("TZ", "PST8PDT", 1);
    tzset();
    // The same clock as utcNow: time() reads a coarse clock that may still show the previous second.
    const auto reading = [] { return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()); };
    const std::time_t before = reading();
    const UtcTime now = utcNow();
    const std::time_t after = reading();
    if (zone) setenv("TZ", saved.c_str(), 1);
    else unsetenv("TZ");
    tzset();
    std::tm parts{};
    parts.tm_year = static_cast<int>(now.year) - 1900;
    parts.tm_mon = static_cast<int>(now.month) - 1;
    parts.tm_mday = static_cast<int>(now.day);
    parts.tm_hour = static_cast<int>(now.hour);
    parts.tm_min = static_cast<int>(now.minute);
    parts.tm_sec = static_cast<int>(now.second);
    const std::time_t stamp = timegm(&parts);
    EXPECT_LE(before, stamp);
    EXPECT_LE(stamp, after);
}

}  // namespace
}  // namespace tlx
