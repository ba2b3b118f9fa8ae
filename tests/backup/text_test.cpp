// Names from the system survive the trip through wide text byte for byte.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace tlx {
namespace {

TEST(Text, SystemBytesComeBackExactly) {
    const std::string cases[] = {
        "plain.img",
        "\xff.img",
        "bk\xff",
        "caf\xc3\xa9",              // valid UTF-8 stays text
        "\xc3",                     // a sequence cut short
        "\xe2\x28\xa1",             // a broken three-byte sequence
        "\xed\xb2\x80",             // an encoded surrogate is not UTF-8
        "\xc0\xaf",                 // overlong
        "\xf4\x90\x80\x80",         // past U+10FFFF
        std::string("\x80\x00\xfe", 3),
    };
    for (const std::string& bytes : cases) {
        SCOPED_TRACE(bytes);
        EXPECT_EQ(toUtf8(fromSystemBytes(bytes)), bytes);
    }
    EXPECT_EQ(fromSystemBytes("caf\xc3\xa9"), L"caf\u00e9");
    EXPECT_NE(fromSystemBytes("\xff.img"), fromSystemBytes("\xef\xbf\xbd.img")) << "never the replacement's name";
}

TEST(Text, ReadableTextShowsKeptBytesAsReplacement) {
    EXPECT_EQ(toReadableUtf8(fromSystemBytes("a\xff" "b")), "a\xef\xbf\xbd" "b");
    EXPECT_EQ(toReadableUtf8(L"caf\u00e9"), "caf\xc3\xa9");
    EXPECT_EQ(fromUtf8("E\xff"), L"E\uFFFD") << "file contents keep their replacement rule";
}

}  // namespace
}  // namespace tlx
