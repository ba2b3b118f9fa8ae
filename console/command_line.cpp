#include "command_line.h"

#include "backup/backup_folder.h"

namespace tlx {

namespace {

bool* flagFor(CommandLine& line, const std::wstring& argument) {
    if (argument == L"--json") return &line.json;
    if (argument == L"--yes" || argument == L"-y") return &line.yes;
    if (argument == L"--full64") return &line.full64;
    if (argument == L"--raw") return &line.raw;
    if (argument == L"--force") return &line.force;
    if (argument == L"--all") return &line.all;
    return nullptr;
}

void translateOlderSyntax(CommandLine& line) {
    if (line.command == L"l" || line.command == L"L") {
        line.command = L"list";
    } else if ((line.command == L"c" || line.command == L"C") && line.arguments.size() == 2) {
        line.command = L"set";
        line.yes = true;
    }
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::wstring>& arguments) {
    return parseCommandLine(arguments, defaultBackupDirectory(), platformWording());
}

CommandLine parseCommandLine(const std::vector<std::wstring>& arguments, std::wstring defaultBackupDir,
                             Wording wording) {
    const bool linuxHabits = wording == Wording::Linux;
    const std::wstring backupDirEquals = L"--backup-dir=";
    CommandLine line;
    line.backupDir = std::move(defaultBackupDir);
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        // A lone "-" is an argument; "/?" asks for help.
        const bool positional = optionsEnded || (argument != L"/?" && (argument.size() <= 1 || argument[0] != L'-'));
        if (positional) {
            if (line.command.empty())
                line.command = argument;
            else
                line.arguments.push_back(argument);
            continue;
        }
        if (bool* flag = flagFor(line, argument)) {
            *flag = true;
        } else if (argument == L"--backup-dir" && i + 1 < arguments.size()) {
            line.backupDir = arguments[++i];
        } else if (linuxHabits && argument.starts_with(backupDirEquals) && argument.size() > backupDirEquals.size()) {
            line.backupDir = argument.substr(backupDirEquals.size());
        } else if (linuxHabits && (argument == L"--backup-dir" || argument == backupDirEquals)) {
            line.parsedOk = false;
            line.missingValue = L"--backup-dir";
        } else if (linuxHabits && argument == L"--") {
            optionsEnded = true;
        } else if (argument == L"--help" || argument == L"-h" || argument == L"/?" || argument == L"--version" ||
                   (linuxHabits && argument == L"-V")) {
            const bool version = argument == L"--version" || argument == L"-V";
            if (line.command.empty() || (linuxHabits && line.command != L"help" && line.command != L"version"))
                line.command = version ? L"version" : L"help";
            else if (!linuxHabits)
                line.parsedOk = false;
        } else {
            // Also a trailing "--backup-dir" that has nothing to take (Windows).
            line.parsedOk = false;
            line.unknownOption = argument;
        }
    }
    translateOlderSyntax(line);
    return line;
}

}  // namespace tlx
