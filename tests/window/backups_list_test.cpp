#include "backups_list.h"

#include <gtest/gtest.h>

namespace tlx {
namespace {

BackupListEntry entry(const wchar_t* path, bool untrusted) {
    BackupListEntry e;
    e.path = path;
    e.untrusted = untrusted;
    return e;
}

std::vector<std::wstring> paths(const OfferedBackups& offered) {
    std::vector<std::wstring> out;
    for (const BackupListEntry& e : offered.entries) out.push_back(e.path);
    return out;
}

TEST(OfferedBackups, PlantedFilesArePassedOverAndSaidSoUnderTheList) {
    struct Case {
        std::vector<BackupListEntry> listed;
        std::vector<std::wstring> offered;
        std::wstring skippedLine;
    };
    const std::wstring one = L"Skipped C:\\B\\Volume{x}\\3.tlxbak: a less privileged user could have written it.";
    const std::wstring two = L"Skipped 2 backups: a less privileged user could have written them.";
    const Case cases[] = {
        {{}, {}, L""},
        {{entry(L"C:\\B\\Volume{x}\\2.tlxbak", false), entry(L"C:\\B\\Volume{x}\\1.tlxbak", false)},
         {L"C:\\B\\Volume{x}\\2.tlxbak", L"C:\\B\\Volume{x}\\1.tlxbak"},
         L""},
        // The newest is the planted one: the one below it becomes row 0, the one restored by default.
        {{entry(L"C:\\B\\Volume{x}\\3.tlxbak", true), entry(L"C:\\B\\Volume{x}\\2.tlxbak", false),
          entry(L"C:\\B\\Volume{x}\\1.tlxbak", false)},
         {L"C:\\B\\Volume{x}\\2.tlxbak", L"C:\\B\\Volume{x}\\1.tlxbak"},
         one},
        {{entry(L"C:\\B\\Volume{x}\\3.tlxbak", true)}, {}, one},
        {{entry(L"C:\\B\\Volume{x}\\3.tlxbak", true), entry(L"C:\\B\\Volume{x}\\2.tlxbak", false),
          entry(L"C:\\B\\Volume{x}\\1.tlxbak", true)},
         {L"C:\\B\\Volume{x}\\2.tlxbak"},
         two},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.listed.size());
        const OfferedBackups offered = offeredBackups(c.listed);
        EXPECT_EQ(paths(offered), c.offered);
        EXPECT_EQ(offered.skippedLine, c.skippedLine);
    }
}

TEST(OfferedBackups, KeepsWhatRestoringNeeds) {
    BackupListEntry trusted = entry(L"C:\\B\\Volume{x}\\1.tlxbak", false);
    trusted.backup.oldSerial = 0x1A2B3C4D;
    trusted.fileDigest = Sha256Digest{};
    (*trusted.fileDigest)[0] = 0x5E;
    const OfferedBackups offered = offeredBackups({entry(L"C:\\B\\Volume{x}\\2.tlxbak", true), trusted});
    ASSERT_EQ(offered.entries.size(), 1u);
    EXPECT_EQ(offered.entries[0].backup.oldSerial, 0x1A2B3C4Du);
    EXPECT_EQ(offered.entries[0].fileDigest, trusted.fileDigest);
}

}  // namespace
}  // namespace tlx
