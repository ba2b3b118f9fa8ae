// Arguments from GetCommandLineW, split by CommandLineToArgvW.
#include "platform/win/arguments.h"

#include "platform/win/windows.h"

#include <shellapi.h>

namespace tlx::win {

std::vector<std::wstring> splitArguments(const wchar_t* commandLine) {
    std::vector<std::wstring> arguments;
    // An empty line would make CommandLineToArgvW report the program's own path instead.
    if (!commandLine || !*commandLine) return arguments;
    int count = 0;
    wchar_t** items = CommandLineToArgvW(commandLine, &count);
    if (!items) return arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(items[i]);
    LocalFree(items);
    return arguments;
}

std::vector<std::wstring> processArguments() {
    return splitArguments(GetCommandLineW());
}

}  // namespace tlx::win
