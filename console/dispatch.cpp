#include "dispatch.h"

#include "commands.h"
#include "output.h"
#include "platform/system.h"
#include "usage.h"

namespace tlx {

namespace {

int run(const CommandLine& line) {
    if (!line.parsedOk) {
        if (!line.missingValue.empty()) return usageError(L"option '" + line.missingValue + L"' needs a folder");
        return usageError(line.unknownOption.empty() ? std::wstring() : L"Unknown option: " + line.unknownOption);
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
    if (platformWording() == Wording::Windows) return printUsage(true);
    if (command == L"list") return argumentsError(command);
    return usageError(L"Unknown command: " + command);
}

// Commands whose output is all they do; a change keeps the exit code of what it did to the volume.
bool onlyPrints(const std::wstring& command) {
    return command == L"list" || command == L"get" || command == L"backups" || command == L"help" ||
           command == L"version";
}

}  // namespace

int dispatch(const CommandLine& line) {
    const int code = run(line);
    const std::uint32_t error = outputError();
    if (error == 0 || !onlyPrints(line.command)) return code;
    if (error != kBrokenPipe) printErrorLine(L"Couldn't write the output (" + errorText(error) + L").");
    return 1;
}

}  // namespace tlx
