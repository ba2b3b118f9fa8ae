// The backups-folder rule as a table: owner, access entries and reparse flag against trusted or not.
#include "platform/folder_trust.h"

#include <gtest/gtest.h>

namespace tlx {
namespace {

constexpr Trustee kAdmins = Trustee::Administrators;
constexpr Trustee kSystem = Trustee::System;
constexpr Trustee kInstaller = Trustee::TrustedInstaller;
constexpr Trustee kOther = Trustee::Other;

FolderAccessEntry writes(Trustee who) { return {who, true, false, true}; }
FolderAccessEntry reads(Trustee who) { return {who, true, false, false}; }

// What the programs and the installer create: SYSTEM and Administrators full control, Users read.
FolderSecurity protectedFolder(Trustee owner = kAdmins) {
    return {false, true, owner, {writes(kSystem), writes(kAdmins), reads(kOther)}};
}

TEST(FolderTrust, AdministratorsSystemAndTrustedInstallerOnly) {
    struct Case {
        const char* what;
        FolderSecurity folder;
        bool trusted;
    };
    FolderSecurity userOwned = protectedFolder(kOther);
    FolderSecurity junction = protectedFolder();
    junction.reparsePoint = true;
    FolderSecurity noDacl = protectedFolder();
    noDacl.hasDacl = false;
    FolderSecurity userWrites = protectedFolder();
    userWrites.entries.push_back(writes(kOther));
    FolderSecurity userDenied = protectedFolder();
    userDenied.entries.push_back({kOther, false, false, true});
    // An entry only for what the folder holds lands on every backup file written into it.
    FolderSecurity usersWriteFiles = protectedFolder();
    usersWriteFiles.entries.push_back({kOther, true, true, true});
    FolderSecurity usersDeniedFiles = protectedFolder();
    usersDeniedFiles.entries.push_back({kOther, false, true, true});
    FolderSecurity creatorOwnerForChildren = protectedFolder();
    creatorOwnerForChildren.entries.push_back({Trustee::CreatorOwner, true, true, true});
    FolderSecurity creatorOwnerOwned = protectedFolder(Trustee::CreatorOwner);
    FolderSecurity installerOwned = protectedFolder(kInstaller);
    installerOwned.entries.push_back(writes(kInstaller));
    const Case cases[] = {
        {"made by the programs or the installer", protectedFolder(), true},
        {"owned by SYSTEM", protectedFolder(kSystem), true},
        {"owned and written by TrustedInstaller", installerOwned, true},
        // The elevated user's own account is every unelevated process of that user too.
        {"owned by the user", userOwned, false},
        {"writable for the user", userWrites, false},
        {"a junction", junction, false},
        {"without a DACL", noDacl, false},
        {"a denying entry adds no rights", userDenied, true},
        {"users may write the files it will hold", usersWriteFiles, false},
        {"users denied the files it will hold", usersDeniedFiles, true},
        // Only administrators can create files in it, so CREATOR OWNER is one of them.
        {"CREATOR OWNER for what it holds", creatorOwnerForChildren, true},
        {"owned by CREATOR OWNER", creatorOwnerOwned, false},
        {"no entries at all", {false, true, kAdmins, {}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(administratorsOnly(c.folder), c.trusted);
    }
}

}  // namespace
}  // namespace tlx
