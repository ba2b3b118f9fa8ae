// qorin on POSIX: arguments arrive as bytes, normally UTF-8; any other byte is kept as it is.
#include <csignal>
#include <string>
#include <vector>

#include "command_line.h"
#include "dispatch.h"
#include "platform/text.h"

int main(int argc, char** argv) {
    // A reader that has gone away must not kill us with SIGPIPE: a change already written would then
    // end with 141 instead of its exit code. Failed writes are ignored like any other output error.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::wstring> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(tlx::fromSystemBytes(argv[i]));
    return tlx::dispatch(tlx::parseCommandLine(arguments));
}
