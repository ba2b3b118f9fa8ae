#pragma once
// qorin's command line: options anywhere, one command, its arguments, and the older one-letter forms.
#include <string>
#include <vector>

#include "catalog/wording.h"

namespace tlx {

struct CommandLine {
    std::wstring command;
    std::vector<std::wstring> arguments;
    bool json = false;
    bool yes = false;
    bool full64 = false;
    bool raw = false;
    bool force = false;
    bool all = false;
    std::wstring backupDir;
    bool parsedOk = true;
    std::wstring unknownOption;  // the last one seen
    std::wstring missingValue;   // Linux: the option that lacks its value ("--backup-dir")
};

// arguments: everything after the program name. backupDir starts as defaultBackupDirectory().
// Comparisons are exact and case-sensitive; "l"/"L" become list, "c"/"C" with two arguments set --yes.
// Linux adds the habits of its tools: --backup-dir=DIR, "--" ending the options, -V, and --help or
// --version after a command asking for help or the version; a trailing --backup-dir lacks its value.
[[nodiscard]] CommandLine parseCommandLine(const std::vector<std::wstring>& arguments);
[[nodiscard]] CommandLine parseCommandLine(const std::vector<std::wstring>& arguments, std::wstring defaultBackupDir,
                                           Wording wording);

}  // namespace tlx
