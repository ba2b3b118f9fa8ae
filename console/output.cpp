#include "output.h"

#include <cstdint>
#include <cstdio>
#include <cwctype>

#include "console_io.h"

namespace tlx {

void writeLine(Stream stream, std::wstring_view text) {
    std::wstring line(text);
    line += kLineEnd;
    writeText(stream, line);
}

void printLine(std::wstring_view text) {
    writeLine(Stream::Output, text);
}

void printErrorLine(std::wstring_view text) {
    writeLine(Stream::Error, text);
}

bool isYesAnswer(std::wstring_view answer) {
    for (wchar_t c : answer) {
        if (std::iswspace(static_cast<std::wint_t>(c))) continue;
        return c == L'y' || c == L'Y';
    }
    return false;
}

bool confirm(std::wstring_view question) {
    if (!inputIsConsole()) {
        printErrorLine(L"There's no console to ask for confirmation. Add --yes to proceed.");
        return false;
    }
    std::wstring prompt(question);
    prompt += L" [y/N] ";
    writeText(Stream::Output, prompt);
    const std::optional<std::wstring> answer = readConsoleAnswer();
    return answer && isYesAnswer(*answer);
}

std::wstring jsonString(std::wstring_view text) {
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        switch (c) {
        case L'\t': out += L"\\t"; break;
        case L'\n': out += L"\\n"; break;
        case L'\r': out += L"\\r"; break;
        case L'"': out += L"\\\""; break;
        case L'\\': out += L"\\\\"; break;
        default:
            if (static_cast<std::uint32_t>(c) < 0x20) {
                wchar_t escape[8];
                std::swprintf(escape, 8, L"\\u%04x", static_cast<unsigned>(c));
                out += escape;
            } else {
                out += c;
            }
        }
    }
    out += L'"';
    return out;
}

std::wstring padColumn(std::wstring_view text, std::size_t width) {
    std::wstring out(text);
    if (out.size() < width) out.append(width - out.size(), L' ');
    out += L"  ";
    return out;
}

}  // namespace tlx
