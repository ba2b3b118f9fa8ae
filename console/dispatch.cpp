#include "dispatch.h"

#include "commands.h"
#include "output.h"
#include "usage.h"

namespace tlx {

int dispatch(const CommandLine& line) {
    if (!line.parsedOk) {
        if (!line.unknownOption.empty()) printErrorLine(L"Unknown option: " + line.unknownOption);
        return printUsage(true);
    }
    const std::wstring& command = line.command;
    if (command.empty()) return printUsage(true);
    if (command == L"help") return printUsage(false);
    if (command == L"version") {
        printLine(kVersionLine);
        return 0;
    }
    if (command == L"list" && line.arguments.empty()) return listCommand(line);
    if (command == L"get") return getCommand(line);
    if (command == L"set") return setCommand(line);
    if (command == L"random") return randomCommand(line);
    if (command == L"backups") return backupsCommand(line);
    if (command == L"restore") return restoreCommand(line);
    return printUsage(true);
}

}  // namespace tlx
