// Size, drive-type and status texts of a volume.
#include "catalog/display.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace tlx {
namespace {

TEST(FormatSize, MegabytesBelowOneGibibyteThenGigabytes) {
    struct Case { std::uint64_t bytes; std::wstring text; };
    const std::vector<Case> cases = {
        {1, L"0 MB"},
        {524288, L"0 MB"},  // half a MiB rounds to even
        {1048576, L"1 MB"},
        {1572864, L"2 MB"},
        {268435456, L"256 MB"},
        {1073741823, L"1024 MB"},
        {1073741824, L"1.0 GB"},
        {1181116006, L"1.1 GB"},
        {500107862016, L"465.8 GB"},
        {18446744073709551615ull, L"17179869184.0 GB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(formatSize(c.bytes), c.text);
    }
}

TEST(DriveTypeName, NamesEveryType) {
    struct Case { DriveType type; std::wstring name; };
    const std::vector<Case> cases = {
        {DriveType::Unknown, L"Unknown"}, {DriveType::Removable, L"Removable"}, {DriveType::Fixed, L"Fixed"},
        {DriveType::Network, L"Network"}, {DriveType::CdDvd, L"CD/DVD"},      {DriveType::RamDisk, L"RAM disk"},
        {static_cast<DriveType>(42), L"Unknown"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.type));
        EXPECT_EQ(driveTypeName(c.type), c.name);
    }
}

TEST(StatusText, ListsTheWordsInTheirOrder) {
    auto info = [](PartitionRole role, bool media, bool supported, bool windows, bool bitLocker, bool readOnly) {
        VolumeInfo v;
        v.partitionRole = role;
        v.mediaPresent = media;
        v.supported = supported;
        v.windowsDrive = windows;
        v.bitLockerHint = bitLocker;
        v.readOnly = readOnly;
        return v;
    };
    using R = PartitionRole;
    struct Case { VolumeInfo v; std::wstring text; };
    const std::vector<Case> cases = {
        {info(R::None, true, true, false, false, false), L""},
        {info(R::EfiSystem, false, false, false, false, false), L"EFI system partition, no media"},
        {info(R::Recovery, true, true, false, false, false), L"recovery partition"},
        {info(R::None, false, true, false, false, false), L"no media"},  // no media hides "unsupported"
        {info(R::None, true, false, false, false, false), L"unsupported"},
        {info(R::None, true, true, true, true, true), L"Windows drive, BitLocker, read-only"},
        {info(R::Recovery, true, false, true, true, true), L"recovery partition, unsupported, Windows drive, BitLocker, read-only"},
        {info(R::None, true, true, false, false, true), L"read-only"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.text));
        EXPECT_EQ(statusText(c.v, Wording::Windows), c.text);
    }
}

TEST(StatusText, LinuxCallsTheSystemVolumeTheSystemDrive) {
    VolumeInfo root;
    root.mediaPresent = true;
    root.windowsDrive = true;
    root.readOnly = true;
    EXPECT_EQ(statusText(root, Wording::Linux), L"unsupported, system drive, read-only");
    EXPECT_EQ(statusText(root), statusText(root, platformWording()));
}

TEST(StatusText, NoMediaIsToldFromNoAccessAndNoFileSystem) {
    struct Case { Readout readout; bool media; std::wstring text; };
    const std::vector<Case> cases = {
        {Readout::Device, false, L"no media"},
        {Readout::NoAccess, false, L"no access"},
        {Readout::NoFileSystem, false, L"no file system"},
        {Readout::Udev, true, L""},
        {Readout::MountTable, true, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.text));
        VolumeInfo v;
        v.readout = c.readout;
        v.mediaPresent = c.media;
        v.supported = c.media;
        EXPECT_EQ(statusText(v, Wording::Linux), c.text);
    }
}

}  // namespace
}  // namespace tlx
