// Quoting one argument so that CommandLineToArgvW hands it back unchanged.
#include "quote.h"

namespace tlx {

std::wstring quoteArgument(std::wstring_view text) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them: then each one needs a twin,
        // and the quote its own escape.
        if (c == L'"') {
            out.append(backslashes * 2 + 1, L'\\');
        } else {
            out.append(backslashes, L'\\');
        }
        backslashes = 0;
        out += c;
    }
    // The closing quote follows the last run, so that run is doubled too.
    out.append(backslashes * 2, L'\\');
    out += L'"';
    return out;
}

}  // namespace tlx
