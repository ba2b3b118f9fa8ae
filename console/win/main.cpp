// qorin on Windows: wide arguments straight from the system.
#include <string>
#include <vector>

#include "command_line.h"
#include "dispatch.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    return tlx::dispatch(tlx::parseCommandLine(arguments));
}
