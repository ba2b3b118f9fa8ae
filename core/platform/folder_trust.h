#pragma once
// Whether a backups folder, or a backup in it, can be changed by administrators only: what an elevated
// program restores must not lie where anyone else could have placed it. Pure, so the rule is tested
// everywhere; the Windows side reads the owner, access entries and reparse flag from a handle.
#include <cstdint>
#include <vector>

namespace tlx {

// Administrators, SYSTEM and TrustedInstaller; everyone else is Other, the user's own account too: in
// Admin Approval Mode every unelevated process of that user runs as the same account. CREATOR OWNER
// stands for whoever creates a file in the folder, and only administrators can.
enum class Trustee : std::int32_t { Administrators = 0, System = 1, TrustedInstaller = 2, Other = 3, CreatorOwner = 4 };

struct FolderAccessEntry {
    Trustee trustee = Trustee::Other;
    bool allows = true;        // a denying entry never adds rights
    bool inheritOnly = false;  // for what the folder holds: every backup written into it inherits it
    bool grantsWrite = false;  // add, remove or replace entries or their bytes, or take the folder over
};

struct FolderSecurity {
    bool reparsePoint = false;  // a junction or link could send the writes anywhere
    bool hasDacl = true;        // no DACL at all grants everyone everything
    Trustee owner = Trustee::Other;
    std::vector<FolderAccessEntry> entries;
};

[[nodiscard]] bool administratorsOnly(const FolderSecurity& folder);

}  // namespace tlx
