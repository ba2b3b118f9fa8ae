#pragma once
// Which of a volume's backups the backups list offers, and the line under it for those it passes over.
#include <string>
#include <vector>

#include "backup/backup_store.h"

namespace tlx {

struct OfferedBackups {
    std::vector<BackupListEntry> entries;  // newest first, as listed; row i shows entry i
    std::wstring skippedLine;              // empty when nothing was passed over
};

// A file a less privileged user could have written is never offered, as qorin never takes it as the latest:
// one skipped file is named with qorin's sentence, more are counted.
[[nodiscard]] OfferedBackups offeredBackups(std::vector<BackupListEntry> listed);

}  // namespace tlx
