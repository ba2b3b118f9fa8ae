// Windows volumes are named by their volume GUID path, which stays with the volume.
#include "backup/backup_key.h"

namespace tlx {

std::wstring backupKeyFor(const std::wstring& volume) {
    return volume;
}

std::wstring backupKeyFor(const std::wstring& volume, const std::string&) {
    return volume;
}

}  // namespace tlx
