// Per-volume folder names of disk images named by Windows paths: one safe component each.
#include <gtest/gtest.h>

#include "backup/backup_store.h"

namespace tlx {
namespace {

TEST(ImageFolderName, WindowsImagePathsBecomeOneComponent) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"C:\\images\\fat.img", L"C_images_fat.img"},
        {L"d:\\x.img", L"d_x.img"},
        {L"\\\\server\\share\\disk.img", L"__server_share_disk.img"},
        // '_' and '%' of the path itself are escaped, so these keep folders of their own.
        {L"C:\\a_b\\x.img", L"C_a%5Fb_x.img"},
        {L"C:\\a\\b_x.img", L"C_a_b%5Fx.img"},
        {L"C:\\100%\\x.img", L"C_100%25_x.img"},
        // A stream's colon is no drive colon.
        {L"C:\\x.img:data", L"C_x.img%3Adata"},
        // A folder named like a volume inside the path does not decide the name.
        {L"C:\\Volume{1}\\x.img", L"C_Volume{1}_x.img"},
        // Volume names keep their rule.
        {L"\\\\?\\Volume{1234}\\", L"Volume{1234}"},
        {L"\\\\?\\Volume{1234}", L"Volume{1234}"},
    };
    for (const auto& [volume, expected] : cases) EXPECT_EQ(backupFolderName(volume), expected);
    // Too long for one component: the image's own name stays, with a digest of the whole path.
    const std::wstring deep = L"C:\\" + std::wstring(200, L'a') + L"\\" + std::wstring(100, L'b') + L"\\disk_1.img";
    const std::wstring shortened = backupFolderName(deep);
    EXPECT_LE(shortened.size(), 255u);
    EXPECT_NE(shortened.find(L"disk%5F1.img%%"), std::wstring::npos);
    EXPECT_NE(shortened, backupFolderName(L"C:\\" + std::wstring(201, L'a') + L"\\" + std::wstring(100, L'b') +
                                          L"\\disk_1.img"));
    // A UNC path and a drive path never meet in one folder.
    EXPECT_NE(backupFolderName(L"\\\\C\\images\\fat.img"), backupFolderName(L"C:\\images\\fat.img"));
}

}  // namespace
}  // namespace tlx
