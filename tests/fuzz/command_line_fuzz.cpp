// qorin's command line over arbitrary arguments (split at NUL bytes): no crash, and the parse keeps
// the properties callers rely on.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "command_line.h"
#include "fuzz_check.h"

using tlx::fuzz::require;

namespace {

const std::wstring kDefaultDir = L"/default/backups";

bool sameExceptYes(const tlx::CommandLine& a, const tlx::CommandLine& b) {
    return a.command == b.command && a.arguments == b.arguments && a.json == b.json && a.full64 == b.full64 &&
           a.raw == b.raw && a.force == b.force && a.all == b.all && a.backupDir == b.backupDir &&
           a.parsedOk == b.parsedOk && a.unknownOption == b.unknownOption;
}

bool contains(const std::vector<std::wstring>& list, const std::wstring& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// Whether every item of part appears in whole, in the same order.
bool isSubsequence(const std::vector<std::wstring>& part, const std::vector<std::wstring>& whole) {
    std::size_t at = 0;
    for (const std::wstring& item : whole)
        if (at < part.size() && part[at] == item)
            ++at;
    return at == part.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::wstring> arguments(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            arguments.emplace_back();
        else
            arguments.back().push_back(static_cast<wchar_t>(data[i]));
    }
    if (size == 0)
        arguments.clear();

    const tlx::CommandLine line = tlx::parseCommandLine(arguments, kDefaultDir, tlx::Wording::Windows);

    require(line.backupDir == kDefaultDir || contains(arguments, line.backupDir), "backups folder from nowhere");
    require(isSubsequence(line.arguments, arguments), "arguments out of order or invented");
    for (const std::wstring& argument : line.arguments)
        require(argument.size() <= 1 || argument[0] != L'-', "an option taken as an argument");
    if (!line.unknownOption.empty())
        require(!line.parsedOk && line.unknownOption.size() > 1 && line.unknownOption[0] == L'-' &&
                contains(arguments, line.unknownOption), "unknown option");
    if (line.command.empty())
        require(line.arguments.empty(), "arguments without a command");
    else if (line.command != L"list" && line.command != L"set" && line.command != L"help" && line.command != L"version")
        require(contains(arguments, line.command), "command from nowhere");

    // Without anything that looks like an option, the words are the command and its arguments as typed.
    // (An empty word cannot be told from a missing command, so it is left out of this check.)
    const bool plainWords = std::none_of(arguments.begin(), arguments.end(), [](const std::wstring& a) {
        return a.empty() || (a.size() > 1 && a[0] == L'-') || a == L"/?";
    });
    if (plainWords) {
        // Only the older "c E: serial" form sets a flag by itself.
        const bool olderSet = arguments.size() == 3 && (arguments[0] == L"c" || arguments[0] == L"C");
        require(line.yes == olderSet && (line.command == L"set") == (olderSet || (!arguments.empty() && arguments[0] == L"set")),
                "older c form");
        require(line.parsedOk && !line.json && !line.full64 && !line.raw && !line.force && !line.all &&
                line.backupDir == kDefaultDir, "flags set by plain words");
        require(line.arguments.size() + (arguments.empty() ? 0 : 1) == arguments.size(), "words lost");
    }

    // An option in front changes only its own flag.
    std::vector<std::wstring> withYes{L"-y"};
    withYes.insert(withYes.end(), arguments.begin(), arguments.end());
    const tlx::CommandLine yesLine = tlx::parseCommandLine(withYes, kDefaultDir, tlx::Wording::Windows);
    require(yesLine.yes && sameExceptYes(line, yesLine), "a leading -y changed more than yes");

    // Linux: --backup-dir=DIR and "--" besides; the folder and the arguments still come from what was typed.
    const tlx::CommandLine onLinux = tlx::parseCommandLine(arguments, kDefaultDir, tlx::Wording::Linux);
    require(onLinux.backupDir == kDefaultDir || contains(arguments, onLinux.backupDir) ||
                contains(arguments, L"--backup-dir=" + onLinux.backupDir), "Linux: backups folder from nowhere");
    require(isSubsequence(onLinux.arguments, arguments), "Linux: arguments out of order or invented");
    require(onLinux.missingValue.empty() || !onLinux.parsedOk, "Linux: a missing value that parsed");
    return 0;
}
