#include "backups_list.h"

#include <utility>

#include "catalog/report.h"

namespace tlx {

OfferedBackups offeredBackups(std::vector<BackupListEntry> listed) {
    OfferedBackups offered;
    std::vector<std::wstring> skipped;
    for (BackupListEntry& entry : listed) {
        if (entry.untrusted)
            skipped.push_back(entry.path);
        else
            offered.entries.push_back(std::move(entry));
    }
    if (skipped.size() == 1)
        offered.skippedLine = skippedBackupText(skipped.front());
    else if (skipped.size() > 1)
        offered.skippedLine = L"Skipped " + std::to_wstring(skipped.size()) +
                              L" backups: a less privileged user could have written them.";
    return offered;
}

}  // namespace tlx
