// JSON strings, table columns, yes/no answers and the usage text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output.h"
#include "usage.h"

namespace tlx {
namespace {

TEST(Output, JsonStringEscapes) {
    struct Case {
        std::wstring text;
        std::wstring json;
    };
    const std::vector<Case> cases = {
        {L"", L"\"\""},
        {L"DATA", L"\"DATA\""},
        {L"a\tb", L"\"a\\tb\""},
        {L"a\nb\rc", L"\"a\\nb\\rc\""},
        {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
        {L"\\\\?\\Volume{1}", L"\"\\\\\\\\?\\\\Volume{1}\""},
        {std::wstring(L"x\x01y"), L"\"x\\u0001y\""},
        {std::wstring(L"\x1f\x08\x0c"), L"\"\\u001f\\u0008\\u000c\""},
        {std::wstring(1, L'\0'), L"\"\\u0000\""},
        {L"Fotos \u00c4rger \u65e5\u672c", L"\"Fotos \u00c4rger \u65e5\u672c\""},
        {L" /~\x7f", L"\" /~\x7f\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        EXPECT_EQ(jsonString(c.text), c.json);
    }
}

TEST(Output, PadColumnFillsButNeverCuts) {
    struct Case {
        std::wstring text;
        std::size_t width;
        std::wstring padded;
    };
    const std::vector<Case> cases = {
        {L"E:", 6, L"E:      "},
        {L"", 3, L"     "},
        {L"Serial", 6, L"Serial  "},
        {L"C:\\Mount\\Data\\", 6, L"C:\\Mount\\Data\\  "},
        {L"x", 0, L"x  "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(padColumn(c.text, c.width), c.padded);
    }
}

TEST(Output, OnlyAFirstYCountsAsYes) {
    struct Case {
        std::wstring answer;
        bool yes;
    };
    const std::vector<Case> cases = {
        {L"y", true},       {L"Y", true},  {L"yes", true}, {L"  y", true}, {L"\t Yes\r\n", true},
        {L"Yikes", true},   {L"n", false}, {L"ja", false}, {L"", false},   {L"   \r\n", false},
        {L"ok", false},     {L"x y", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        EXPECT_EQ(isYesAnswer(c.answer), c.yes);
    }
}

const std::vector<std::wstring> kUsage = {
    L"Plinthos 3.0.2 (command line)",
    L"",
    L"  qorin list [--all] [--json]            list volumes (--all: include hidden ones)",
    L"  qorin get <drive> [--json]             show a volume's serial",
    L"  qorin set <drive> <serial> [--full64] [--yes] [--json]",
    L"                                         change the serial: XXXX-XXXX, or with --full64 all",
    L"                                         16 hex digits of an NTFS serial",
    L"  qorin random <drive> [--yes] [--json]  set a random serial",
    L"  qorin backups <drive> [--json]         list the boot-sector backups of a volume",
    L"  qorin restore <drive> [<file.tlxbak>] [--raw [--force]] [--yes] [--json]",
    L"                                         set the serial saved in a backup (default: the latest);",
    L"                                         --raw writes its boot sectors back exactly (recovery)",
    L"",
    L"  <drive> is E:, a mounted folder, or \\\\?\\Volume{...}\\. Changing a serial needs an elevated prompt.",
    L"  --backup-dir <dir> overrides %ProgramData%\\Morvane\\Plinthos\\Backups.",
    L"",
    L"  Exit codes: 0 ok, 1 failed, 2 usage, 3 needs administrator, 4 volume in use, 5 locked by BitLocker,",
    L"  6 unsupported file system, 7 rolled back (unchanged), 8 rollback failed (use the backup),",
    L"  9 backup problem.",
    L"",
    L"  Changes only the file-system Volume Serial Number, not the drive's hardware serial.",
};

TEST(Usage, ErrorUsageIsTheTwentyOneLines) {
    EXPECT_EQ(usageLines(true, Wording::Windows), kUsage);
}

TEST(Usage, LinuxFitsEightyColumnsAndNamesItsDrivesRootAndTheManualPage) {
    const std::vector<std::wstring> lines = usageLines(true, Wording::Linux);
    std::wstring text;
    for (const std::wstring& line : lines) {
        EXPECT_LT(line.size(), 80u) << line;
        text += line + L"\n";
    }
    for (const wchar_t* words : {L"/dev/sdb1", L"UUID=", L"needs root", L"--backup-dir=<dir>", L"qorin(8)",
                                 L"-V, --version", L"9 backup problem."})
        EXPECT_NE(text.find(words), std::wstring::npos) << words;
    EXPECT_EQ(lines.front(), kUsage.front());
    // The commands are typed as on Windows.
    for (const wchar_t* command : {L"list", L"get", L"set", L"random", L"backups", L"restore"})
        EXPECT_EQ(synopsisOf(command, Wording::Linux), synopsisOf(command, Wording::Windows)) << command;
    EXPECT_EQ(synopsisOf(L"get", Wording::Linux), L"qorin get <drive> [--json]");
    EXPECT_EQ(synopsisOf(L"set", Wording::Linux), L"qorin set <drive> <serial> [--full64] [--yes] [--json]");
    EXPECT_EQ(synopsisOf(L"nothing", Wording::Linux), L"");
    // Linux has no window program to point to.
    EXPECT_EQ(usageLines(false, Wording::Linux), lines);
    EXPECT_EQ(usageLines(true), usageLines(true, platformWording()));
}

TEST(Usage, HelpAddsTheGraphicalVersionLine) {
    std::vector<std::wstring> expected = kUsage;
    expected.push_back(L"  Graphical version: Plinthos, https://plinthos.org");
    EXPECT_EQ(usageLines(false, Wording::Windows), expected);
}

TEST(Usage, DescriptionsStartAtTheSameColumn) {
    const std::vector<std::wstring> lines = usageLines(true);
    for (std::size_t index : {2u, 3u, 5u, 6u, 7u, 8u, 10u, 11u}) {
        SCOPED_TRACE(lines[index]);
        ASSERT_GT(lines[index].size(), 41u);
        EXPECT_EQ(lines[index][40], L' ');
        EXPECT_NE(lines[index][41], L' ');  // the 42nd character
    }
}

}  // namespace
}  // namespace tlx
