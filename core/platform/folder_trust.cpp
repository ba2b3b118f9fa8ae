// The rule for a backups folder administrators alone can change.
#include "platform/folder_trust.h"

namespace tlx {

namespace {

bool administrative(Trustee trustee) {
    return trustee == Trustee::Administrators || trustee == Trustee::System || trustee == Trustee::TrustedInstaller;
}

}  // namespace

bool administratorsOnly(const FolderSecurity& folder) {
    if (folder.reparsePoint || !folder.hasDacl || !administrative(folder.owner)) return false;
    // CREATOR OWNER grants nothing on the folder itself, and on what it holds only to an administrator.
    for (const FolderAccessEntry& entry : folder.entries)
        if (entry.allows && entry.grantsWrite && entry.trustee == Trustee::Other) return false;
    return true;
}

}  // namespace tlx
