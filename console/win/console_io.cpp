// Console and redirected output on Windows: UTF-16 to a console window, UTF-8 without BOM elsewhere.
#include "platform/win/windows.h"

#include <string>

#include "console_io.h"
#include "output.h"

namespace tlx {

const wchar_t* const kLineEnd = L"\r\n";

std::uint32_t outputError() {
    return 0;
}

namespace {

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

}  // namespace

void writeText(Stream stream, std::wstring_view text) {
    const HANDLE handle = GetStdHandle(stream == Stream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return;
    DWORD written = 0;
    if (isConsole(handle)) {
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (!WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
            written == 0)
            return;  // output errors are never reported
        done += written;
    }
}

bool inputIsConsole() {
    return isConsole(GetStdHandle(STD_INPUT_HANDLE));
}

std::optional<std::wstring> readConsoleAnswer() {
    // Read up to the end of the line: whatever stayed in the console's input would be run by
    // cmd.exe as a command once qorin has ended. Only the first 63 characters are the answer.
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring answer;
    for (;;) {
        wchar_t buffer[64] = {};
        DWORD read = 0;
        if (!ReadConsoleW(input, buffer, 63, &read, nullptr) || read == 0) break;
        const std::wstring_view piece(buffer, read);
        if (answer.size() < 63) answer += piece.substr(0, 63 - answer.size());
        if (piece.find(L'\n') != std::wstring_view::npos) break;
    }
    if (answer.empty()) return std::nullopt;
    return answer;
}

}  // namespace tlx
