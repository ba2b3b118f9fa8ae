// Parsing qorin's command line: options anywhere, help and version, unknown options, the older syntax.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backup/backup_folder.h"
#include "command_line.h"

namespace tlx {
namespace {

struct Expected {
    std::wstring command{};
    std::vector<std::wstring> arguments{};
    bool parsedOk = true;
    std::wstring unknownOption{};
    std::wstring missingValue{};
    bool json = false, yes = false, full64 = false, raw = false, force = false, all = false;
    std::wstring backupDir = L"DEFAULT";
};

struct Case {
    std::vector<std::wstring> arguments;
    Expected expected;
};

std::wstring joined(const std::vector<std::wstring>& arguments) {
    std::wstring out;
    for (const std::wstring& a : arguments) out += L"[" + a + L"]";
    return out;
}

void expectParsed(const std::vector<Case>& cases, Wording wording) {
    for (const Case& c : cases) {
        SCOPED_TRACE(joined(c.arguments));
        const CommandLine line = parseCommandLine(c.arguments, L"DEFAULT", wording);
        const Expected& e = c.expected;
        EXPECT_EQ(line.command, e.command);
        EXPECT_EQ(line.arguments, e.arguments);
        EXPECT_EQ(line.parsedOk, e.parsedOk);
        EXPECT_EQ(line.unknownOption, e.unknownOption);
        EXPECT_EQ(line.missingValue, e.missingValue);
        EXPECT_EQ(line.json, e.json);
        EXPECT_EQ(line.yes, e.yes);
        EXPECT_EQ(line.full64, e.full64);
        EXPECT_EQ(line.raw, e.raw);
        EXPECT_EQ(line.force, e.force);
        EXPECT_EQ(line.all, e.all);
        EXPECT_EQ(line.backupDir, e.backupDir);
    }
}

TEST(CommandLine, WindowsTable) {
    const std::vector<Case> cases = {
        {{}, {}},
        {{L"list"}, {.command = L"list"}},
        {{L"list", L"--all", L"--json"}, {.command = L"list", .json = true, .all = true}},
        {{L"--json", L"get", L"E:"}, {.command = L"get", .arguments = {L"E:"}, .json = true}},
        {{L"set", L"E:", L"--yes", L"1234-ABCD"}, {.command = L"set", .arguments = {L"E:", L"1234-ABCD"}, .yes = true}},
        {{L"set", L"-y", L"E:", L"1", L"--full64"},
         {.command = L"set", .arguments = {L"E:", L"1"}, .yes = true, .full64 = true}},
        {{L"restore", L"E:", L"--raw", L"--force"}, {.command = L"restore", .arguments = {L"E:"}, .raw = true, .force = true}},
        {{L"help"}, {.command = L"help"}},
        {{L"--help"}, {.command = L"help"}},
        {{L"-h"}, {.command = L"help"}},
        {{L"/?"}, {.command = L"help"}},
        {{L"--version"}, {.command = L"version"}},
        {{L"--version", L"list"}, {.command = L"version", .arguments = {L"list"}}},
        {{L"version", L"extra"}, {.command = L"version", .arguments = {L"extra"}}},
        // Help after a command is an error, without an unknown-option text.
        {{L"list", L"--help"}, {.command = L"list", .parsedOk = false}},
        {{L"get", L"E:", L"--version"}, {.command = L"get", .arguments = {L"E:"}, .parsedOk = false}},
        {{L"--help", L"--help"}, {.command = L"help", .parsedOk = false}},
        // The last unknown option is the one reported.
        {{L"list", L"--jsn", L"--xx"}, {.command = L"list", .parsedOk = false, .unknownOption = L"--xx"}},
        {{L"-Y", L"list"}, {.command = L"list", .parsedOk = false, .unknownOption = L"-Y"}},
        {{L"list", L"--JSON"}, {.command = L"list", .parsedOk = false, .unknownOption = L"--JSON"}},
        {{L"list", L"--backup-dir"}, {.command = L"list", .parsedOk = false, .unknownOption = L"--backup-dir"}},
        {{L"backups", L"E:", L"--backup-dir", L"D:\\B"},
         {.command = L"backups", .arguments = {L"E:"}, .backupDir = L"D:\\B"}},
        // The folder is taken verbatim, even when it looks like an option.
        {{L"--backup-dir", L"--json", L"list"}, {.command = L"list", .backupDir = L"--json"}},
        {{L"--backup-dir", L"a", L"--backup-dir", L"b"}, {.backupDir = L"b"}},
        // A lone "-" is an argument, not an option.
        {{L"-"}, {.command = L"-"}},
        {{L"get", L"-"}, {.command = L"get", .arguments = {L"-"}}},
        {{L"LIST"}, {.command = L"LIST"}},
        {{L"l"}, {.command = L"list"}},
        {{L"L", L"--all"}, {.command = L"list", .all = true}},
        {{L"l", L"x"}, {.command = L"list", .arguments = {L"x"}}},
        {{L"c", L"E:", L"1234-ABCD"}, {.command = L"set", .arguments = {L"E:", L"1234-ABCD"}, .yes = true}},
        {{L"C", L"E:", L"1234-ABCD", L"--json"},
         {.command = L"set", .arguments = {L"E:", L"1234-ABCD"}, .json = true, .yes = true}},
        {{L"c", L"E:"}, {.command = L"c", .arguments = {L"E:"}}},
        {{L"c", L"E:", L"1", L"2"}, {.command = L"c", .arguments = {L"E:", L"1", L"2"}}},
        {{L"cc", L"E:", L"1"}, {.command = L"cc", .arguments = {L"E:", L"1"}}},
    };
    expectParsed(cases, Wording::Windows);
}

TEST(CommandLine, LinuxHabits) {
    const std::vector<Case> cases = {
        {{L"backups", L"/dev/sdb1", L"--backup-dir=/b c"},
         {.command = L"backups", .arguments = {L"/dev/sdb1"}, .backupDir = L"/b c"}},
        {{L"--backup-dir=--json", L"list"}, {.command = L"list", .backupDir = L"--json"}},
        {{L"--backup-dir", L"/b", L"list"}, {.command = L"list", .backupDir = L"/b"}},
        {{L"list", L"--backup-dir"}, {.command = L"list", .parsedOk = false, .missingValue = L"--backup-dir"}},
        {{L"list", L"--backup-dir="}, {.command = L"list", .parsedOk = false, .missingValue = L"--backup-dir"}},
        // "--" ends the options: a file named like one is an argument.
        {{L"get", L"--", L"--json"}, {.command = L"get", .arguments = {L"--json"}}},
        {{L"--json", L"--", L"get", L"-x.img"}, {.command = L"get", .arguments = {L"-x.img"}, .json = true}},
        {{L"get", L"--", L"--", L"/?"}, {.command = L"get", .arguments = {L"--", L"/?"}}},
        {{L"-V"}, {.command = L"version"}},
        {{L"list", L"-V"}, {.command = L"version"}},
        // Help after a command asks for help.
        {{L"list", L"--help"}, {.command = L"help"}},
        {{L"get", L"/dev/sdb1", L"-h"}, {.command = L"help", .arguments = {L"/dev/sdb1"}}},
        {{L"--help", L"--version"}, {.command = L"help"}},
        {{L"list", L"--jsn", L"--xx"}, {.command = L"list", .parsedOk = false, .unknownOption = L"--xx"}},
        {{L"-v"}, {.parsedOk = false, .unknownOption = L"-v"}},
    };
    expectParsed(cases, Wording::Linux);
    // Windows keeps its grammar for the same words.
    EXPECT_EQ(parseCommandLine({L"list", L"--backup-dir=/b"}, L"D", Wording::Windows).unknownOption, L"--backup-dir=/b");
    EXPECT_EQ(parseCommandLine({L"get", L"--", L"x"}, L"D", Wording::Windows).unknownOption, L"--");
    EXPECT_EQ(parseCommandLine({L"-V"}, L"D", Wording::Windows).unknownOption, L"-V");
}

TEST(CommandLine, BackupFolderDefaultsToThePlatformFolder) {
    EXPECT_EQ(parseCommandLine({L"list"}).backupDir, defaultBackupDirectory());
}

}  // namespace
}  // namespace tlx
