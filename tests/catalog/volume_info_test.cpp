// Catalogue helpers: case-blind comparison, supported names, BitLocker hint and the list order.
#include "catalog/volume_info.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace tlx {
namespace {

int sign(int v) { return (v > 0) - (v < 0); }

TEST(CompareOrdinalIgnoreCase, ComparesCodeUnitsAfterUpperCasing) {
    struct Case { std::wstring a, b; int expected; };
    const std::vector<Case> cases = {
        {L"", L"", 0},
        {L"abc", L"ABC", 0},
        {L"\\\\?\\Volume{ab-CD}", L"\\\\?\\VOLUME{AB-cd}", 0},
        {L"C:\\", L"C:\\Mount\\", -1},  // a prefix is less
        {L"C:\\Mount\\", L"C:\\", 1},
        {L"C:\\Mount\\", L"D:\\", -1},
        {L"a", L"B", -1},               // not by raw code unit, where 'B' < 'a'
        {L"_", L"a", 1},                // '_' (0x5F) sorts after 'A' (0x41) once 'a' is upper-cased
        {L"\u00e9t\u00e9", L"\u00c9T\u00c9", 0},
        {L"\u00ff", L"\u0178", 0},
        {L"\u0444\u0430\u0439\u043b", L"\u0424\u0410\u0419\u041b", 0},
        {L"\u03c3", L"\u03a3", 0},
        {L"\u0142", L"\u0141", 0},      // odd-upper pair of Latin Extended-A
        {L"\u0101", L"\u0100", 0},
        {L"x1", L"x2", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.a) + " vs " + toUtf8(c.b));
        EXPECT_EQ(sign(compareOrdinalIgnoreCase(c.a, c.b)), c.expected);
        EXPECT_EQ(sign(compareOrdinalIgnoreCase(c.b, c.a)), -c.expected);
    }
}

TEST(SupportedFileSystemName, AcceptsTheFourNamesInAnyCase) {
    struct Case { std::wstring name; bool supported; };
    const std::vector<Case> cases = {
        {L"FAT", true}, {L"fat", true}, {L"FAT32", true}, {L"fat32", true}, {L"exFAT", true},
        {L"EXFAT", true}, {L"NTFS", true}, {L"ntfs", true}, {L"", false}, {L"FAT16", false},
        {L"FAT12", false}, {L"ext4", false}, {L"ReFS", false}, {L"NTFS ", false}, {L"vfat", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.name));
        EXPECT_EQ(isSupportedFileSystemName(c.name), c.supported);
    }
}

TEST(BitLockerHint, HoldsForProtectedValuesOnly) {
    for (std::int32_t value = -2; value <= 9; ++value) {
        SCOPED_TRACE(value);
        const bool expected = value == 1 || value == 3 || value == 4 || value == 5 || value == 6;
        EXPECT_EQ(bitLockerHintFor(value), expected);
    }
}

VolumeInfo volume(std::wstring name, std::vector<std::wstring> mounts) {
    VolumeInfo v;
    v.volume = std::move(name);
    v.mountPoints = std::move(mounts);
    return v;
}

std::vector<std::wstring> namesOf(const std::vector<VolumeInfo>& list) {
    std::vector<std::wstring> names;
    for (const VolumeInfo& v : list) names.push_back(v.volume);
    return names;
}

TEST(SortVolumes, MountedByFirstMountPointThenHiddenInTheirOrder) {
    struct Case {
        const char* name;
        std::vector<VolumeInfo> input;
        std::vector<std::wstring> expected;
    };
    const std::vector<Case> cases = {
        {"letters", {volume(L"d", {L"D:\\"}), volume(L"c", {L"C:\\"}), volume(L"e", {L"e:\\"})}, {L"c", L"d", L"e"}},
        {"folders among letters",
         {volume(L"d", {L"D:\\"}), volume(L"m", {L"C:\\Mount\\"}), volume(L"c", {L"C:\\"})},
         {L"c", L"m", L"d"}},
        {"hidden last, enumeration order kept",
         {volume(L"h1", {}), volume(L"e", {L"E:\\"}), volume(L"h2", {}), volume(L"c", {L"C:\\"}), volume(L"h3", {})},
         {L"c", L"e", L"h1", L"h2", L"h3"}},
        {"first mount point decides",
         {volume(L"f", {L"F:\\", L"A:\\Folder\\"}), volume(L"b", {L"B:\\"})},
         {L"b", L"f"}},
        {"equal ignoring case keeps order",
         {volume(L"x", {L"/mnt/data"}), volume(L"y", {L"/MNT/DATA"}), volume(L"z", {L"/mnt/Data"})},
         {L"x", L"y", L"z"}},
        {"posix mount paths", {volume(L"/dev/sdb1", {L"/media/usb"}), volume(L"/dev/vda", {L"/"})}, {L"/dev/vda", L"/dev/sdb1"}},
        {"empty", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<VolumeInfo> list = c.input;
        sortVolumes(list);
        EXPECT_EQ(namesOf(list), c.expected);
    }
}

TEST(CompareNatural, NumbersByValueEverythingElseIgnoringCase) {
    struct Case { std::wstring a, b; int sign; };
    const std::vector<Case> cases = {
        {L"/dev/loop2", L"/dev/loop10", -1},   {L"/dev/sda2", L"/dev/sda10", -1},
        {L"/dev/nvme0n1p3", L"/dev/nvme0n1p12", -1}, {L"/dev/nvme1n1p1", L"/dev/nvme0n1p9", 1},
        {L"/dev/sda", L"/dev/sda1", -1},       {L"/dev/sdb", L"/dev/sda1", 1},
        {L"/mnt/A", L"/mnt/b", -1},            {L"/dev/loop007", L"/dev/loop7", -1},
        {L"/dev/loop7", L"/dev/loop7", 0},     {L"x99999999999999999999999", L"x100000000000000000000000", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.a + L" vs " + c.b));
        const int forward = compareNatural(c.a, c.b);
        EXPECT_EQ((forward > 0) - (forward < 0), c.sign);
        const int backward = compareNatural(c.b, c.a);
        EXPECT_EQ((backward > 0) - (backward < 0), -c.sign);
    }
}

TEST(SortVolumesNaturally, MountedByMountPointThenDevicesInNaturalOrder) {
    auto volume = [](const wchar_t* path, std::vector<std::wstring> mounts) {
        VolumeInfo v;
        v.volume = path;
        v.mountPoints = std::move(mounts);
        return v;
    };
    std::vector<VolumeInfo> list = {volume(L"/dev/loop10", {}),        volume(L"/dev/sda10", {L"/mnt/data10"}),
                                    volume(L"/dev/loop2", {}),         volume(L"/dev/vda", {L"/"}),
                                    volume(L"/dev/sda2", {L"/mnt/data2"}), volume(L"/dev/loop1", {})};
    sortVolumesNaturally(list);
    std::vector<std::wstring> order;
    for (const VolumeInfo& v : list) order.push_back(v.volume);
    EXPECT_EQ(order, (std::vector<std::wstring>{L"/dev/vda", L"/dev/sda2", L"/dev/sda10", L"/dev/loop1", L"/dev/loop2",
                                                L"/dev/loop10"}));
}

}  // namespace
}  // namespace tlx
