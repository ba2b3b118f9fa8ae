// qorin on POSIX: arguments arrive as UTF-8.
#include <string>
#include <vector>

#include "command_line.h"
#include "dispatch.h"
#include "platform/text.h"

int main(int argc, char** argv) {
    std::vector<std::wstring> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(tlx::fromUtf8(argv[i]));
    return tlx::dispatch(tlx::parseCommandLine(arguments));
}
