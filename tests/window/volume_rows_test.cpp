// The volume list's texts, sort rule and the row it selects.
#include "volume_rows.h"

#include <gtest/gtest.h>

#include "catalog/display.h"
#include "natural_order.h"
#include "platform/text.h"

namespace tlx {
namespace {

VolumeInfo volume(std::wstring drive, std::wstring label = L"", std::uint32_t serial = 0x11112222) {
    VolumeInfo info;
    info.volume = L"\\\\?\\Volume{" + drive + L"}\\";
    if (!drive.empty()) info.mountPoints = {drive.size() == 2 ? drive + L"\\" : drive};
    info.label = std::move(label);
    info.fileSystem = L"FAT32";
    info.serial = serial;
    info.sizeBytes = 1 << 20;
    info.type = DriveType::Fixed;
    info.mediaPresent = true;
    info.supported = true;
    return info;
}

VolumeInfo hidden(std::wstring guidStart) {
    VolumeInfo info = volume(L"");
    info.volume = L"\\\\?\\Volume{" + guidStart + L"-1111-2222-3333-444455556666}\\";
    return info;
}

std::vector<std::wstring> drives(const std::vector<VolumeInfo>& volumes) {
    std::vector<std::wstring> texts;
    for (const VolumeInfo& info : volumes) texts.push_back(listDriveText(info));
    return texts;
}

TEST(ShortVolumeText, KeepsWordBraceAndEightDigits) {
    struct Case { std::wstring volume, text; };
    const std::vector<Case> cases = {
        {L"\\\\?\\Volume{1a2b3c4d-0000-1111-2222-333344445555}\\", L"Volume{1a2b3c4d\u2026}"},
        {L"\\\\?\\Volume{1a2b}", L"Volume{1a2b}\u2026}"},  // shorter than 15 characters from the word on
        {L"Volume{", L"Volume{\u2026}"},
        {L"/dev/sdb1", L"/dev/sdb1"},  // no GUID: the whole text
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.volume));
        EXPECT_EQ(shortVolumeText(c.volume), c.text);
    }
}

TEST(ListDriveText, DriveLetterMountedFolderOrShortGuid) {
    EXPECT_EQ(listDriveText(volume(L"E:")), L"E:");
    EXPECT_EQ(listDriveText(volume(L"C:\\Mount\\Stick\\")), L"C:\\Mount\\Stick\\");
    EXPECT_EQ(listDriveText(hidden(L"0badf00d")), L"Volume{0badf00d\u2026}");
}

TEST(ListStatusText, HiddenFirstRestartPendingLast) {
    const PendingRestarts none;
    VolumeInfo efi = hidden(L"0badf00d");
    efi.partitionRole = PartitionRole::EfiSystem;
    EXPECT_EQ(listStatusText(efi, none), L"hidden, EFI system partition");
    EXPECT_EQ(listStatusText(hidden(L"0badf00d"), none), L"hidden");

    VolumeInfo windows = volume(L"C:");
    windows.windowsDrive = true;
    windows.bitLockerHint = true;
    // The catalogue's words in between (the system drive is "Windows drive" on Windows, in Linux words here).
    const std::wstring words = statusText(windows);
    EXPECT_TRUE(words.ends_with(L" drive, BitLocker")) << toUtf8(words);
    EXPECT_EQ(listStatusText(windows, none), words);
    const PendingRestarts pending = {{windows.volume, 0x1234}};
    EXPECT_EQ(listStatusText(windows, pending), words + L", restart pending");
    EXPECT_EQ(listStatusText(volume(L"C:"), {{volume(L"C:").volume, 1}}), L"restart pending");

    VolumeInfo all = hidden(L"0badf00d");
    all.partitionRole = PartitionRole::Recovery;
    all.mediaPresent = false;
    all.readOnly = true;
    EXPECT_EQ(listStatusText(all, {{all.volume, 1}}), L"hidden, recovery partition, no media, read-only, restart pending");
    EXPECT_EQ(listStatusText(volume(L"D:"), none), L"");
}

TEST(CellText, DashesForMissingValues) {
    VolumeInfo info = volume(L"E:", L"", 0xFFFF0000);
    EXPECT_EQ(cellText(info, 5, {}), L"FFFF-0000");
    EXPECT_EQ(cellText(info, 3, {}), L"1 MB");
    info.mediaPresent = false;
    info.fileSystem.clear();
    info.sizeBytes = 0;
    info.type = DriveType::CdDvd;
    EXPECT_EQ(cellText(info, 1, {}), L"");
    EXPECT_EQ(cellText(info, 2, {}), L"-");
    EXPECT_EQ(cellText(info, 3, {}), L"-");
    EXPECT_EQ(cellText(info, 4, {}), L"CD/DVD");
    EXPECT_EQ(cellText(info, 5, {}), L"-");
    EXPECT_EQ(cellText(info, 6, {}), L"no media");
}

TEST(CompareListText, DigitsAsNumbersCaseBlind) {
    EXPECT_LT(compareListText(L"Disk 9", L"Disk 10"), 0);
    EXPECT_GT(compareListText(L"Disk 10", L"Disk 9"), 0);
    EXPECT_LT(compareListText(L"disk 9", L"DISK 10"), 0);
    EXPECT_EQ(compareListText(L"Fixed", L"Fixed"), 0);
    EXPECT_LT(compareListText(L"E:", L"F:"), 0);
    EXPECT_LT(compareListText(L"abc", L"abcd"), 0);
    EXPECT_LT(compareListText(L"a2b", L"a10a"), 0);
    EXPECT_EQ(compareListText(L"", L""), 0);
}

// Each row: column, direction, expected drive order. The fixture is deliberately out of every order.
TEST(SortVolumes, EachColumnBothDirectionsEmptyLastTiesByDrive) {
    std::vector<VolumeInfo> catalogue;
    {
        VolumeInfo f = volume(L"F:", L"Disk 10", 0xFFFF0000);
        f.sizeBytes = 3ull << 30;
        f.type = DriveType::Removable;
        VolumeInfo e = volume(L"E:", L"", 0x7FFFFFFF);
        e.sizeBytes = 0;
        e.fileSystem.clear();
        e.mediaPresent = false;
        e.type = DriveType::CdDvd;
        VolumeInfo d = volume(L"D:", L"Disk 9", 0x00000001);
        d.sizeBytes = 2ull << 30;
        d.readOnly = true;
        VolumeInfo mounted = volume(L"C:\\Mount\\", L"Disk 9", 0x80000000);
        mounted.fileSystem = L"NTFS";
        VolumeInfo c = volume(L"C:", L"", 0x12345678);
        c.windowsDrive = true;
        c.fileSystem = L"NTFS";
        c.sizeBytes = 2ull << 30;
        catalogue = {f, hidden(L"bbbbbbbb"), e, mounted, hidden(L"AAAAAAAA"), d, c};
    }
    struct Case { int column; bool descending; std::vector<std::wstring> order; };
    const std::wstring hb = L"Volume{bbbbbbbb\u2026}", ha = L"Volume{AAAAAAAA\u2026}";
    const std::vector<Case> cases = {
        {0, false, {L"C:", L"D:", L"E:", L"F:", L"C:\\Mount\\", ha, hb}},
        {0, true, {hb, ha, L"C:\\Mount\\", L"F:", L"E:", L"D:", L"C:"}},
        // Labels: "Disk 9" before "Disk 10"; equal labels by drive ascending in both directions; empty last.
        {1, false, {L"D:", L"C:\\Mount\\", L"F:", L"C:", L"E:", ha, hb}},
        {1, true, {L"F:", L"D:", L"C:\\Mount\\", L"C:", L"E:", ha, hb}},
        {2, false, {L"D:", L"F:", ha, hb, L"C:", L"C:\\Mount\\", L"E:"}},
        {2, true, {L"C:", L"C:\\Mount\\", L"D:", L"F:", ha, hb, L"E:"}},
        {3, false, {L"C:\\Mount\\", ha, hb, L"C:", L"D:", L"F:", L"E:"}},
        {3, true, {L"F:", L"C:", L"D:", L"C:\\Mount\\", ha, hb, L"E:"}},
        // "CD/DVD" < "Fixed" < "Removable".
        {4, false, {L"E:", L"C:", L"D:", L"C:\\Mount\\", ha, hb, L"F:"}},
        {4, true, {L"F:", L"C:", L"D:", L"C:\\Mount\\", ha, hb, L"E:"}},
        // Unsigned: 8000-0000 and FFFF-0000 after 1234-5678; the volume without media is last.
        {5, false, {L"D:", ha, hb, L"C:", L"C:\\Mount\\", L"F:", L"E:"}},
        {5, true, {L"F:", L"C:\\Mount\\", L"C:", ha, hb, L"D:", L"E:"}},
        {6, false, {ha, hb, L"E:", L"D:", L"C:", L"F:", L"C:\\Mount\\"}},
        {6, true, {L"C:", L"D:", L"E:", ha, hb, L"F:", L"C:\\Mount\\"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "column " << c.column << (c.descending ? " descending" : " ascending"));
        std::vector<VolumeInfo> rows = catalogue;
        sortVolumes(rows, c.column, c.descending, {});
        EXPECT_EQ(drives(rows), c.order);
    }
}

TEST(SortVolumes, ColumnOutOfRangeKeepsCatalogueOrder) {
    const std::vector<VolumeInfo> catalogue = {volume(L"F:"), volume(L"D:"), hidden(L"aaaaaaaa"), volume(L"E:")};
    for (int column : {-1, 7, 1000}) {
        SCOPED_TRACE(column);
        std::vector<VolumeInfo> rows = catalogue;
        sortVolumes(rows, column, false, {});
        EXPECT_EQ(drives(rows), drives(catalogue));
    }
}

TEST(SortVolumes, StatusSeesPendingRestarts) {
    std::vector<VolumeInfo> rows = {volume(L"C:"), volume(L"D:")};
    sortVolumes(rows, 6, false, {{rows[1].volume, 5}});
    EXPECT_EQ(drives(rows), (std::vector<std::wstring>{L"D:", L"C:"}));  // the one without status is empty
}

TEST(ShownVolumes, HiddenOnlyWhenAsked) {
    const std::vector<VolumeInfo> catalogue = {volume(L"C:"), hidden(L"aaaaaaaa"), volume(L"D:")};
    EXPECT_EQ(drives(shownVolumes(catalogue, false)), (std::vector<std::wstring>{L"C:", L"D:"}));
    EXPECT_EQ(shownVolumes(catalogue, true).size(), 3u);
    EXPECT_TRUE(shownVolumes({}, true).empty());
}

TEST(ShownVolumes, MarkedAmongTheShownOnly) {
    // Two clones and the EFI partitions cloned with them; C: has a serial of its own.
    const std::vector<VolumeInfo> catalogue = {volume(L"C:", L"", 1), volume(L"E:", L"", 5), hidden(L"aaaaaaaa"),
                                               volume(L"F:", L"", 5), hidden(L"bbbbbbbb")};
    std::vector<VolumeInfo> rows = shownVolumes(catalogue, false);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(cellText(rows[0], 6, {}), L"");
    EXPECT_EQ(cellText(rows[1], 6, {}), L"same serial as F:");
    EXPECT_EQ(cellText(rows[2], 6, {}), L"same serial as E:");

    // Hidden volumes take part once shown, under their short GUID form; the mark goes before
    // "restart pending".
    rows = shownVolumes(catalogue, true);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(listStatusText(rows[2], {}), L"hidden, same serial as Volume{bbbbbbbb\u2026}");
    EXPECT_EQ(listStatusText(rows[1], {{rows[1].volume, 7}}), L"same serial as F:, restart pending");

    // The status sort compares the whole text, the named drive included; C: has none and goes last.
    rows = shownVolumes(catalogue, false);
    sortVolumes(rows, 6, true, {});
    EXPECT_EQ(drives(rows), (std::vector<std::wstring>{L"E:", L"F:", L"C:"}));
}

TEST(RowToSelect, KeptVolumeElseFirstSupportedRemovableElseFirstRow) {
    VolumeInfo stick = volume(L"F:");
    stick.type = DriveType::Removable;
    VolumeInfo unsupportedStick = volume(L"E:");
    unsupportedStick.type = DriveType::Removable;
    unsupportedStick.supported = false;
    const std::vector<VolumeInfo> rows = {volume(L"C:"), unsupportedStick, stick, volume(L"G:")};
    EXPECT_EQ(rowToSelect(rows, rows[3].volume), 3);
    EXPECT_EQ(rowToSelect(rows, L"\\\\?\\Volume{gone}\\"), 2);
    EXPECT_EQ(rowToSelect(rows, L""), 2);
    EXPECT_EQ(rowToSelect({volume(L"C:"), unsupportedStick}, L""), 0);
    EXPECT_EQ(rowToSelect({}, L"anything"), -1);
}

}  // namespace
}  // namespace tlx
