#pragma once
// Splits parameters the way CommandLineToArgvW does after the program name, so quoting can be
// checked on Linux: 2n backslashes before a quote give n and a delimiter, 2n+1 give n and a literal
// quote, other backslashes are literal, and "" inside quotes is a literal quote.
#include <string>
#include <string_view>
#include <vector>

namespace tlx::test {

inline std::vector<std::wstring> splitParameters(std::wstring_view line) {
    std::vector<std::wstring> args;
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
        if (i == line.size()) return args;
        std::wstring arg;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != L' ' && line[i] != L'\t'))) {
            if (line[i] == L'\\') {
                std::size_t run = 0;
                while (i < line.size() && line[i] == L'\\') ++run, ++i;
                if (i < line.size() && line[i] == L'"') {
                    arg.append(run / 2, L'\\');
                    if (run % 2 == 1) {
                        arg += L'"';
                        ++i;
                    }
                } else {
                    arg.append(run, L'\\');
                }
            } else if (line[i] == L'"') {
                ++i;
                if (quoted && i < line.size() && line[i] == L'"') {
                    arg += L'"';
                    ++i;
                } else {
                    quoted = !quoted;
                }
            } else {
                arg += line[i++];
            }
        }
        args.push_back(std::move(arg));
    }
}

}  // namespace tlx::test
