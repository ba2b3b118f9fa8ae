// Volumes that share a serial: who takes part, the marks over a list, and the status words.
#include "catalog/same_serial.h"

#include <gtest/gtest.h>

#include "catalog/display.h"
#include "catalog/resolve.h"
#include "platform/text.h"

namespace tlx {
namespace {

VolumeInfo volume(const wchar_t* drive, const wchar_t* fileSystem, std::uint32_t serial) {
    VolumeInfo info;
    info.volume = std::wstring(L"\\\\?\\Volume{") + drive[0] + L"}\\";
    info.mountPoints = {std::wstring(drive) + L"\\"};
    info.fileSystem = fileSystem;
    info.serial = serial;
    info.mediaPresent = true;
    info.supported = isSupportedFileSystemName(fileSystem);
    return info;
}

std::wstring drives(const std::vector<std::wstring>& texts) {
    std::wstring joined;
    for (const std::wstring& text : texts) joined += (joined.empty() ? L"" : L" ") + text;
    return joined;
}

TEST(MarkSameSerials, OnlyComparableVolumesTakePart) {
    VolumeInfo ntfs = volume(L"F:", L"NTFS", 0x1234ABCD);
    ntfs.fullSerial = 0x99998888'1234ABCDull;  // the upper half differs, Windows shows the same
    VolumeInfo noMedia = volume(L"H:", L"", 0);
    noMedia.mediaPresent = false;
    noMedia.supported = false;
    VolumeInfo noMediaToo = noMedia;
    noMediaToo.volume = L"\\\\?\\Volume{I}\\";
    noMediaToo.mountPoints = {L"I:\\"};
    VolumeInfo noSerial = volume(L"J:", L"FAT", 0);  // a FAT volume without the extended boot signature
    noSerial.hasSerial = false;
    VolumeInfo noSerialToo = noSerial;
    noSerialToo.volume = L"\\\\?\\Volume{K}\\";
    noSerialToo.mountPoints = {L"K:\\"};
    std::vector<VolumeInfo> list{
        volume(L"E:", L"FAT32", 0x1234ABCD),  ntfs, volume(L"G:", L"exFAT", 0x1234ABCE), noMedia, noMediaToo,
        noSerial, noSerialToo, volume(L"L:", L"ext4", 0x1234ABCD), volume(L"M:", L"exFAT", 0),
        volume(L"N:", L"FAT32", 0),
    };
    markSameSerials(list, displayDrive);
    const std::vector<std::wstring> expected{L"F:", L"E:", L"", L"", L"", L"", L"", L"", L"N:", L"M:"};
    ASSERT_EQ(list.size(), expected.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        SCOPED_TRACE(toUtf8(displayDrive(list[i])));
        EXPECT_EQ(drives(list[i].sameSerialAs), expected[i]);
    }
}

TEST(MarkSameSerials, ClonesNameEachOtherInListOrder) {
    std::vector<VolumeInfo> list{volume(L"C:", L"NTFS", 7), volume(L"E:", L"FAT32", 5), volume(L"F:", L"FAT32", 5),
                                 volume(L"G:", L"exFAT", 5), volume(L"H:", L"FAT32", 6)};
    markSameSerials(list, displayDrive);
    EXPECT_EQ(drives(list[0].sameSerialAs), L"");
    EXPECT_EQ(drives(list[1].sameSerialAs), L"F: G:");
    EXPECT_EQ(drives(list[2].sameSerialAs), L"E: G:");
    EXPECT_EQ(drives(list[3].sameSerialAs), L"E: F:");
    EXPECT_EQ(drives(list[4].sameSerialAs), L"");
    EXPECT_EQ(sameSerialText(list[0]), L"");
    EXPECT_EQ(sameSerialText(list[2]), L"same serial as E: and 1 more");

    // After one of them is given a new serial, the next listing marks only the other two.
    list[1].serial = 0xC0DE1234;
    markSameSerials(list, displayDrive);
    EXPECT_EQ(drives(list[1].sameSerialAs), L"");
    EXPECT_EQ(sameSerialText(list[2]), L"same serial as G:");
    EXPECT_EQ(sameSerialText(list[3]), L"same serial as F:");
}

TEST(MarkSameSerials, DriveTextIsTheCallers) {
    std::vector<VolumeInfo> list{volume(L"E:", L"FAT32", 5), volume(L"F:", L"FAT32", 5)};
    markSameSerials(list, [](const VolumeInfo& info) { return L"<" + info.volume + L">"; });
    EXPECT_EQ(sameSerialText(list[0]), L"same serial as <\\\\?\\Volume{F}\\>");
}

TEST(SameSerialVolumes, GetLeavesItsOwnVolumeOutOfTheListing) {
    const VolumeInfo target = volume(L"E:", L"FAT32", 5);
    VolumeInfo sameAgain = target;
    sameAgain.volume = L"\\\\?\\volume{e}";  // the listing's record of the same volume, another spelling
    const std::vector<VolumeInfo> listed{volume(L"D:", L"FAT32", 5), sameAgain, volume(L"F:", L"NTFS", 5),
                                         volume(L"G:", L"FAT32", 4)};
    EXPECT_EQ(drives(sameSerialVolumes(target, listed, displayDrive)), L"D: F:");
    VolumeInfo unsupported = target;
    unsupported.supported = false;
    EXPECT_TRUE(sameSerialVolumes(unsupported, listed, displayDrive).empty());
}

TEST(StatusText, SameSerialMarkComesLast) {
    VolumeInfo info = volume(L"E:", L"FAT32", 5);
    info.sameSerialAs = {L"/dev/sdc1"};
    EXPECT_EQ(statusText(info, Wording::Linux), L"same serial as /dev/sdc1");
    info.windowsDrive = true;
    info.readOnly = true;
    info.sameSerialAs = {L"F:", L"G:", L"H:"};
    EXPECT_EQ(statusText(info, Wording::Windows), L"Windows drive, read-only, same serial as F: and 2 more");
}

}  // namespace
}  // namespace tlx
