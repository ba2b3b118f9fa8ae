// The selected-volume panel: description, current serial line, entry width switch and rules.
#include "panel_text.h"

#include <gtest/gtest.h>

#include "catalog/display.h"

namespace tlx {
namespace {

VolumeInfo stick() {
    VolumeInfo info;
    info.volume = L"\\\\?\\Volume{1a2b3c4d-0000-1111-2222-333344445555}\\";
    info.mountPoints = {L"E:\\"};
    info.label = L"BACKUP";
    info.fileSystem = L"exFAT";
    info.sizeBytes = 62491774976;  // 58.2 GB
    info.type = DriveType::Removable;
    info.serial = 0x1A2B3C4D;
    info.mediaPresent = true;
    info.supported = true;
    return info;
}

VolumeInfo ntfs(std::optional<std::uint64_t> fullSerial) {
    VolumeInfo info = stick();
    info.fileSystem = L"NTFS";
    info.fullSerial = fullSerial;
    if (fullSerial) info.serial = static_cast<std::uint32_t>(*fullSerial);
    return info;
}

TEST(PanelDescription, EveryPart) {
    EXPECT_EQ(panelDescription(nullptr, {}), L"Select a volume above.");
    VolumeInfo info = stick();
    EXPECT_EQ(panelDescription(&info, {}), L"E: BACKUP (exFAT, 58.2 GB, Removable)");

    VolumeInfo bare = stick();
    bare.label.clear();
    bare.fileSystem.clear();
    bare.sizeBytes = 0;
    bare.mediaPresent = false;
    bare.type = DriveType::CdDvd;
    EXPECT_EQ(panelDescription(&bare, {}), L"E: (no file system, CD/DVD, no media)");

    VolumeInfo efi = stick();
    efi.mountPoints.clear();
    efi.label.clear();
    efi.fileSystem = L"FAT32";
    efi.sizeBytes = 104857600;
    efi.type = DriveType::Fixed;
    efi.partitionRole = PartitionRole::EfiSystem;
    EXPECT_EQ(panelDescription(&efi, {}),
              L"\\\\?\\Volume{1a2b3c4d-0000-1111-2222-333344445555}\\ (FAT32, 100 MB, Fixed, hidden, EFI system "
              L"partition)");

    VolumeInfo windows = ntfs(0x1122334455667788);
    windows.mountPoints = {L"C:\\", L"D:\\Mounted\\"};
    windows.windowsDrive = true;
    EXPECT_EQ(panelDescription(&windows, {{windows.volume, 1}}),
              L"C: BACKUP (NTFS, 58.2 GB, Removable, " + statusText(windows) + L", restart pending)");

    VolumeInfo folder = stick();
    folder.mountPoints = {L"C:\\Mount\\Stick\\"};
    EXPECT_EQ(panelDescription(&folder, {}), L"C:\\Mount\\Stick\\ BACKUP (exFAT, 58.2 GB, Removable)");
}

TEST(PanelDescription, SameSerialEndsTheLine) {
    VolumeInfo info = stick();
    info.sameSerialAs = {L"F:"};
    EXPECT_EQ(panelDescription(&info, {}), L"E: BACKUP (exFAT, 58.2 GB, Removable); same serial as F:");
    info.readOnly = true;
    info.sameSerialAs = {L"F:", L"G:"};
    EXPECT_EQ(panelDescription(&info, {{info.volume, 1}}),
              L"E: BACKUP (exFAT, 58.2 GB, Removable, read-only, restart pending); same serial as F: and 1 more");
}

TEST(CurrentSerialLine, EveryCase) {
    const std::wstring noFull = L"   (Windows doesn't report the full 64-bit serial on this version)";
    const VolumeInfo withFull = ntfs(0xAAAABBBBCCCCDDDD);
    const VolumeInfo withoutFull = ntfs(std::nullopt);
    VolumeInfo noMedia = stick();
    noMedia.mediaPresent = false;
    VolumeInfo unsupported = stick();
    unsupported.fileSystem = L"ext4";
    unsupported.supported = false;
    const PendingRestarts pending = {{withFull.volume, 0x0102030405060708}};

    struct Case { const char* name; const VolumeInfo* volume; bool full64; PendingRestarts pending; std::wstring line; };
    const std::vector<Case> cases = {
        {"32-bit", &withFull, false, {}, L"CCCC-DDDD"},
        {"64-bit", &withFull, true, {}, L"AAAA-BBBB-CCCC-DDDD"},
        {"64-bit not reported", &withoutFull, true, {}, L"1A2B-3C4D" + noFull},
        {"64-bit not reported, ticked off", &withoutFull, false, {}, L"1A2B-3C4D"},
        {"no media", &noMedia, false, {}, L"-"},
        {"no media, pending ignored", &noMedia, true, {{noMedia.volume, 5}}, L"-"},
        {"pending 32", &withFull, false, pending, L"CCCC-DDDD   (0506-0708 after you restart)"},
        {"pending 64", &withFull, true, pending, L"AAAA-BBBB-CCCC-DDDD   (0102-0304-0506-0708 after you restart)"},
        {"pending without full", &withoutFull, true, pending,
         L"1A2B-3C4D" + noFull + L"   (0102-0304-0506-0708 after you restart)"},
        {"unsupported", &unsupported, false, {}, L"1A2B-3C4D   This file system isn't supported."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(currentSerialLine(*c.volume, c.full64, c.pending), c.line);
    }
}

TEST(CanChangeSerial, PresentSupportedWritable) {
    VolumeInfo info = stick();
    EXPECT_TRUE(canChangeSerial(&info));
    EXPECT_FALSE(canChangeSerial(nullptr));
    info.readOnly = true;
    EXPECT_FALSE(canChangeSerial(&info));
    info = stick();
    info.supported = false;
    EXPECT_FALSE(canChangeSerial(&info));
    info = stick();
    info.mediaPresent = false;
    EXPECT_FALSE(canChangeSerial(&info));
}

TEST(IsNtfs, IgnoresCase) {
    VolumeInfo info = ntfs(std::nullopt);
    EXPECT_TRUE(isNtfs(&info));
    info.fileSystem = L"ntfs";
    EXPECT_TRUE(isNtfs(&info));
    info.fileSystem = L"NTFS5";
    EXPECT_FALSE(isNtfs(&info));
    EXPECT_FALSE(isNtfs(nullptr));
}

TEST(SwitchedEntry, BothWays) {
    struct Case { std::wstring text; bool to64; std::optional<std::uint64_t> full; std::optional<std::wstring> result; };
    const std::vector<Case> cases = {
        {L"0102-0304", true, 0xAAAABBBBCCCCDDDD, L"AAAA-BBBB-0102-0304"},
        {L"01020304", true, 0xAAAABBBBCCCCDDDD, L"AAAA-BBBB-0102-0304"},
        {L"0102-03G4", true, 0xAAAABBBBCCCCDDDD, std::nullopt},  // unparsable stays as typed
        {L"0102-0304", true, std::nullopt, std::nullopt},         // no 64-bit serial reported
        {L"", true, 0xAAAABBBBCCCCDDDD, std::nullopt},
        {L"1111-2222-3333-4444", true, 0xAAAABBBBCCCCDDDD, std::nullopt},  // more than 8 digits
        {L"1111-2222-3333-4444", false, std::nullopt, L"3333-4444"},
        {L"ABCD", false, std::nullopt, L"0000-ABCD"},
        {L"1111-2222-3333-4444-5", false, std::nullopt, std::nullopt},  // 17 digits
        {L"xyz", false, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << (c.to64 ? "to 64 " : "to 32 ") << c.text.size());
        EXPECT_EQ(switchedEntry(c.text, c.to64, c.full), c.result);
    }
}

TEST(RandomEntryText, WidthOfTheEntry) {
    EXPECT_EQ(randomEntryText(0x0123456789ABCDEF, false), L"89AB-CDEF");
    EXPECT_EQ(randomEntryText(0x0123456789ABCDEF, true), L"0123-4567-89AB-CDEF");
    EXPECT_EQ(randomEntryText(0, false), L"0000-0000");
}

TEST(EntryRules, ThirtyTwoAndSixtyFourBits) {
    const EntryRules narrow = entryRules(false), wide = entryRules(true);
    EXPECT_EQ(narrow.hint, L"Format: XXXX-XXXX (hexadecimal)");
    EXPECT_EQ(narrow.cueBanner, L"XXXX-XXXX");
    EXPECT_EQ(narrow.maxLength, 9u);
    EXPECT_EQ(narrow.maxDigits, 8u);
    EXPECT_EQ(narrow.balloonText, L"Use XXXX-XXXX (8 hexadecimal digits, 0-9 and A-F).");
    EXPECT_EQ(wide.hint, L"Enter all 16 hex digits. Windows shows the last 8.");
    EXPECT_EQ(wide.cueBanner, L"XXXX-XXXX-XXXX-XXXX");
    EXPECT_EQ(wide.maxLength, 19u);
    EXPECT_EQ(wide.maxDigits, 16u);
    EXPECT_EQ(wide.balloonText, L"Use 16 hexadecimal digits (0-9 and A-F).");
}

}  // namespace
}  // namespace tlx
