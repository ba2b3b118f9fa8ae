// Finding a record by volume name, and the short drive text of a record.
#include "catalog/resolve.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace tlx {
namespace {

const std::wstring kGuid = L"\\\\?\\Volume{6f2c8e1a-0b1d-4c3e-9a7f-1234567890ab}";

VolumeInfo volume(std::wstring name, std::vector<std::wstring> mounts, std::wstring label = L"") {
    VolumeInfo v;
    v.volume = std::move(name);
    v.mountPoints = std::move(mounts);
    v.label = std::move(label);
    return v;
}

TEST(DisplayDrive, ShowsALetterAFolderOrTheVolume) {
    struct Case { VolumeInfo info; std::wstring expected; };
    const std::vector<Case> cases = {
        {volume(kGuid + L"\\", {L"E:\\"}), L"E:"},
        {volume(kGuid + L"\\", {L"E:\\", L"C:\\Mount\\E\\"}), L"E:"},
        {volume(kGuid + L"\\", {L"C:\\Mount\\Data\\"}), L"C:\\Mount\\Data\\"},
        {volume(kGuid + L"\\", {L"C:\\Mount\\Data\\", L"F:\\"}), L"C:\\Mount\\Data\\"},
        {volume(kGuid + L"\\", {}), kGuid + L"\\"},
        {volume(L"/dev/sdb1", {L"/media/usb"}), L"/media/usb"},
        {volume(L"/dev/vda", {L"/"}), L"/"},
        {volume(L"/tmp/disk.img", {}), L"/tmp/disk.img"},
        {volume(kGuid + L"\\", {L"E:/"}), L"E:"},  // any third character: still a drive root
        {volume(kGuid + L"\\", {L"E:"}), L"E:"},   // two characters are shown as they are
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.expected));
        EXPECT_EQ(displayDrive(c.info), c.expected);
    }
}

TEST(VolumeNameOf, DropsOneTrailingBackslashOnly) {
    EXPECT_EQ(volumeNameOf(volume(kGuid + L"\\", {})), kGuid);
    EXPECT_EQ(volumeNameOf(volume(kGuid, {})), kGuid);
    EXPECT_EQ(volumeNameOf(volume(kGuid + L"\\\\", {})), kGuid + L"\\");
    EXPECT_EQ(volumeNameOf(volume(L"/dev/sdb1", {})), L"/dev/sdb1");
    EXPECT_EQ(volumeNameOf(volume(L"", {})), L"");
}

TEST(FindVolumeIn, MatchesTheVolumeNameIgnoringCase) {
    const std::wstring other = L"\\\\?\\Volume{00000000-1111-2222-3333-444444444444}";
    const std::vector<VolumeInfo> list = {
        volume(other + L"\\", {L"C:\\"}, L"first"),
        volume(kGuid + L"\\", {}, L"hidden"),
        volume(kGuid + L"\\", {L"Z:\\"}, L"duplicate"),
        volume(L"/dev/sdb1", {L"/media/usb"}, L"posix"),
    };
    struct Case { std::wstring name; std::optional<std::wstring> label; };
    const std::vector<Case> cases = {
        {kGuid, L"hidden"},  // hidden volumes are found; the first match wins
        {L"\\\\?\\VOLUME{6F2C8E1A-0B1D-4C3E-9A7F-1234567890AB}", L"hidden"},
        {other, L"first"},
        {L"/dev/sdb1", L"posix"},
        {kGuid + L"\\", std::nullopt},  // names are compared without their trailing backslash
        {L"\\\\?\\Volume{6f2c8e1a}", std::nullopt},
        {L"/dev/sdb", std::nullopt},
        {L"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.name));
        const auto found = findVolumeIn(list, c.name);
        ASSERT_EQ(found.has_value(), c.label.has_value());
        if (found) EXPECT_EQ(found->label, *c.label);
    }
    EXPECT_FALSE(findVolumeIn({}, kGuid));
}

TEST(PartitionsText, NamesThePartitionsOfAWholeDisk) {
    VolumeInfo disk;
    disk.volume = L"/dev/sdb";
    EXPECT_EQ(partitionsText(disk), L"");
    disk.partitions = {L"/dev/sdb1", L"/dev/sdb2"};
    EXPECT_EQ(partitionsText(disk), L"/dev/sdb holds partitions: /dev/sdb1, /dev/sdb2.");
    disk.partitions = {L"/dev/loop3p1"};
    disk.volume = L"/dev/loop3";
    EXPECT_EQ(partitionsText(disk), L"/dev/loop3 holds partitions: /dev/loop3p1.");
}

TEST(NotFoundText, QuotesTheArgumentAsTyped) {
    EXPECT_EQ(notFoundText(L"Q:"), L"\"Q:\" isn't a volume on this computer. Run \"qorin list\" to see them.");
    EXPECT_EQ(notFoundText(L" q: "), L"\" q: \" isn't a volume on this computer. Run \"qorin list\" to see them.");
    EXPECT_EQ(notFoundText(L""), L"\"\" isn't a volume on this computer. Run \"qorin list\" to see them.");
}

TEST(NotFoundText, NamesEveryVolumeAnAmbiguousTextNames) {
    EXPECT_EQ(notFoundText(L"UUID=1234-ABCD", {L"/dev/sdb1", L"/dev/sdc1"}),
              L"\"UUID=1234-ABCD\" names more than one volume: /dev/sdb1, /dev/sdc1. Name the one you mean by its "
              L"device path.");
    EXPECT_EQ(notFoundText(L"LABEL=x", {L"/dev/sdb1"}),
              L"\"LABEL=x\" isn't a volume on this computer. Run \"qorin list\" to see them.");
}

}  // namespace
}  // namespace tlx
