#include "usage.h"

#include "catalog/wording.h"
#include "output.h"

namespace tlx {

std::vector<std::wstring> usageLines(bool isError) {
    return usageLines(isError, platformWording());
}

std::vector<std::wstring> usageLines(bool isError, Wording wording) {
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
    if (wording == Wording::Linux) {
        lines[13] = L"  <drive> is a device (/dev/sdb1), an image file, a mounted folder, or UUID=, LABEL=, PARTUUID=.";
        lines[14] = L"  Changing a serial needs root. --backup-dir <dir> overrides the backups folder (see qorin(8)).";
        lines[16] = L"  Exit codes: 0 ok, 1 failed, 2 usage, 3 needs root, 4 volume in use, 5 locked by BitLocker,";
    }
    if (!isError) lines.push_back(std::wstring(L"  Graphical version: Plinthos, ") + kProductPage);
    return lines;
}

int printUsage(bool isError) {
    for (const std::wstring& line : usageLines(isError)) printLine(line);
    return isError ? 2 : 0;
}

}  // namespace tlx
