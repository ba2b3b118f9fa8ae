#include "usage.h"

#include "catalog/wording.h"
#include "output.h"

namespace tlx {

std::vector<std::wstring> usageLines(bool isError) {
    return usageLines(isError, platformWording());
}

std::vector<std::wstring> usageLines(bool isError, Wording wording) {
    if (wording == Wording::Linux) {
        // Within 80 columns, as a terminal shows it; the window program is no version of this one there.
        return {
            L"Plinthos 3.0.2 (command line)",
            L"",
            L"  qorin list [--all] [--json]            list volumes (--all: also hidden ones)",
            L"  qorin get <drive> [--json]             show a volume's serial",
            L"  qorin set <drive> <serial> [--full64] [--yes] [--json]",
            L"                                         change the serial: XXXX-XXXX, or with",
            L"                                         --full64 all 16 hex digits of NTFS",
            L"  qorin random <drive> [--yes] [--json]  set a random serial",
            L"  qorin backups <drive> [--json]         list the boot-sector backups",
            L"  qorin restore <drive> [<file.tlxbak>] [--raw [--force]] [--yes] [--json]",
            L"                                         set the serial saved in a backup",
            L"                                         (default: the latest); --raw writes",
            L"                                         its boot sectors back as they were",
            L"",
            L"  <drive> is a device (/dev/sdb1), an image file, a mounted folder, or UUID=,",
            L"  LABEL=, PARTUUID=. Changing a serial needs root. --backup-dir=<dir> overrides",
            L"  the backups folder (see qorin(8)). -V, --version prints the version.",
            L"",
            L"  Exit codes: 0 ok, 1 failed, 2 usage, 3 needs root, 4 volume in use,",
            L"  5 locked by BitLocker, 6 unsupported file system, 7 rolled back (unchanged),",
            L"  8 rollback failed (use the backup), 9 backup problem.",
            L"",
            L"  Changes only the file-system volume serial number, not the drive's hardware",
            L"  serial.",
        };
    }
    std::vector<std::wstring> lines = {
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
    if (!isError) lines.push_back(std::wstring(L"  Graphical version: Plinthos, ") + kProductPage);
    return lines;
}

int printUsage(bool isError) {
    for (const std::wstring& line : usageLines(isError)) printLine(line);
    return isError ? 2 : 0;
}

int usageError(const std::wstring& line) {
    return usageError(line, platformWording());
}

int usageError(const std::wstring& line, Wording wording) {
    if (wording == Wording::Windows || line.empty()) {
        if (!line.empty()) printErrorLine(line);
        return printUsage(true);
    }
    printErrorLine(line);
    printErrorLine(kTryHelp);
    return 2;
}

std::wstring synopsisOf(const std::wstring& command, Wording wording) {
    const std::wstring start = L"  qorin " + command + L" ";
    for (const std::wstring& line : usageLines(true, wording)) {
        if (!line.starts_with(start)) continue;
        // A description on the same line follows two blanks or more.
        const std::size_t end = line.find(L"  ", 2);
        return line.substr(2, end == std::wstring::npos ? std::wstring::npos : end - 2);
    }
    return {};
}

int argumentsError(const std::wstring& command) {
    const Wording wording = platformWording();
    if (wording == Wording::Windows) return printUsage(true);
    return usageError(L"Usage: " + synopsisOf(command, wording), wording);
}

}  // namespace tlx
