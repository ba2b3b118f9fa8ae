// Quoting for the elevated instance's command line, judged by a CommandLineToArgvW-style splitter.
#include "quote.h"

#include <gtest/gtest.h>

#include "window/command_line_splitter.h"

namespace tlx {
namespace {

using test::splitParameters;

struct QuoteCase {
    std::wstring text;
    std::wstring quoted;  // empty: only the round trip is checked
};

TEST(QuoteArgument, EveryTextComesBackUnchanged) {
    const QuoteCase cases[] = {
        {L"", L"\"\""},
        {L"plain", L"\"plain\""},
        {L"with space", L"\"with space\""},
        {L"tab\there", L"\"tab\there\""},
        {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
        {L"\"", L"\"\\\"\""},
        {L"a\\b", L"\"a\\b\""},
        {L"a\\\\b", L"\"a\\\\b\""},
        {L"a\\\"b", L"\"a\\\\\\\"b\""},
        {L"a\\\\\"b", L"\"a\\\\\\\\\\\"b\""},
        {L"\\", L"\"\\\\\""},
        {L"end\\", L"\"end\\\\\""},
        {L"end\\\\", L"\"end\\\\\\\\\""},
        {L"\\\\?\\Volume{5eb1c0de-0000-4000-8000-00000000e61e}\\",
         L"\"\\\\?\\Volume{5eb1c0de-0000-4000-8000-00000000e61e}\\\\\""},
        {L"C:\\Users\\A B\\AppData\\Local\\Temp\\Dravik-4242-123456.tlxresult", L""},
        {L"C:\\ProgramData\\Morvane\\Plinthos\\Backups\\Volume{x}\\20261201-100000Z_1A2B3C4D_0000BEEF.tlxbak", L""},
        {L"\\\\server\\share with space\\\"odd\"\\", L""},
        {L"  leading and trailing  ", L""},
        {L"Žluťoučký kůň", L""},
    };
    for (const QuoteCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        const std::wstring quoted = quoteArgument(c.text);
        if (!c.quoted.empty()) {
            EXPECT_EQ(quoted, c.quoted);
        }
        EXPECT_EQ(quoted.front(), L'"');
        EXPECT_EQ(quoted.back(), L'"');
        EXPECT_EQ(splitParameters(quoted), std::vector<std::wstring>{c.text});
        // Beside other arguments it stays one argument.
        EXPECT_EQ(splitParameters(L"x " + quoted + L" " + quoted + L" y"),
                  (std::vector<std::wstring>{L"x", c.text, c.text, L"y"}));
    }
}

}  // namespace
}  // namespace tlx
