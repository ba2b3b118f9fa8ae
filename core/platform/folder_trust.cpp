// The rule for a backups folder administrators alone can change.
#include "platform/folder_trust.h"

namespace tlx {

bool administratorsOnly(const FolderSecurity& folder) {
    if (folder.reparsePoint || !folder.hasDacl || folder.owner == Trustee::Other) return false;
    for (const FolderAccessEntry& entry : folder.entries)
        if (entry.allows && !entry.inheritOnly && entry.grantsWrite && entry.trustee == Trustee::Other) return false;
    return true;
}

}  // namespace tlx
