// What the commands print for given records: volume and change-result JSON, tables, backups, questions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands.h"
#include "output.h"
#include "platform/text.h"

namespace tlx {
namespace {

// A question's lines as the console shows them one after another.
std::wstring joined(const std::vector<std::wstring>& lines) {
    std::wstring text;
    for (const std::wstring& line : lines) text += (text.empty() ? L"" : std::wstring(kLineEnd)) + line;
    return text;
}

VolumeInfo exampleVolume() {
    VolumeInfo info;
    info.volume = L"\\\\?\\Volume{0a1b2c3d-0000-1111-2222-333344445555}\\";
    info.mountPoints = {L"E:\\"};
    info.label = L"DATA";
    info.fileSystem = L"exFAT";
    info.serial = 0x1A2B3C4D;
    info.sizeBytes = 63864569856;
    info.type = DriveType::Removable;
    info.mediaPresent = true;
    info.supported = true;
    return info;
}

const std::wstring kExampleJson =
    L"{\"drive\":\"E:\",\"volume\":\"\\\\\\\\?\\\\Volume{0a1b2c3d-0000-1111-2222-333344445555}\","
    L"\"mountPoints\":[\"E:\\\\\"],\"label\":\"DATA\",\"fileSystem\":\"exFAT\",\"serial\":\"1A2B-3C4D\","
    L"\"sizeBytes\":63864569856,\"type\":\"Removable\",\"mediaPresent\":true,\"supported\":true,\"system\":false,"
    L"\"readOnly\":false,\"bitLockerHint\":false,\"sameSerialAs\":[]}";

TEST(VolumeJson, ExampleRecordIsByteExact) {
    EXPECT_EQ(volumeJson(exampleVolume()), kExampleJson);
}

TEST(VolumeJson, HiddenVolumeWithoutMediaAndFlagsSet) {
    VolumeInfo info;
    info.volume = L"\\\\?\\Volume{e}\\";
    info.type = DriveType::Fixed;
    info.readOnly = true;
    info.windowsDrive = true;
    info.bitLockerHint = true;
    info.label = L"Tab\there \"q\"";
    EXPECT_EQ(volumeJson(info),
              L"{\"drive\":\"\\\\\\\\?\\\\Volume{e}\\\\\",\"volume\":\"\\\\\\\\?\\\\Volume{e}\",\"mountPoints\":[],"
              L"\"label\":\"Tab\\there \\\"q\\\"\",\"fileSystem\":\"\",\"serial\":null,\"sizeBytes\":0,"
              L"\"type\":\"Fixed\",\"mediaPresent\":false,\"supported\":false,\"system\":true,\"readOnly\":true,"
              L"\"bitLockerHint\":true,\"sameSerialAs\":[]}");
}

TEST(VolumeJson, GetAddsFullSerialAndEncryption) {
    const std::wstring open = kExampleJson.substr(0, kExampleJson.find(L",\"sameSerialAs\""));
    EXPECT_EQ(getJson(exampleVolume(), L"", L""),
              open + L",\"fullSerial\":null,\"encryption\":null,\"sameSerialAs\":[]}");
    EXPECT_EQ(getJson(exampleVolume(), L"0123-4567-89AB-CDEF", L"none"),
              open + L",\"fullSerial\":\"0123-4567-89AB-CDEF\",\"encryption\":\"none\",\"sameSerialAs\":[]}");
}

TEST(VolumeJson, SameSerialAsIsTheLastMember) {
    VolumeInfo info = exampleVolume();
    info.sameSerialAs = {L"F:", L"C:\\Mount\\\"x\"\\"};
    const std::wstring marks = L",\"sameSerialAs\":[\"F:\",\"C:\\\\Mount\\\\\\\"x\\\"\\\\\"]}";
    EXPECT_EQ(volumeJson(info), kExampleJson.substr(0, kExampleJson.find(L",\"sameSerialAs\"")) + marks);
    const std::wstring got = getJson(info, L"", L"none");
    EXPECT_TRUE(got.ends_with(L",\"encryption\":\"none\"" + marks)) << toUtf8(got);
}

TEST(GetText, SameSerialLineFollowsTheSerial) {
    VolumeInfo info = exampleVolume();
    info.sameSerialAs = {L"F:", L"G:"};
    const std::vector<std::wstring> lines = getLines(info, L"", L"", Wording::Windows);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], L"Serial:       1A2B-3C4D");
    EXPECT_EQ(lines[2], L"Same serial:  F:, G:");
    EXPECT_EQ(lines[3], L"File system:  exFAT");
    EXPECT_EQ(getLines(exampleVolume(), L"", L"", Wording::Windows).size(), lines.size() - 1);
}

TEST(ListText, SameSerialFollowsTheOtherStatusWords) {
    VolumeInfo clone = exampleVolume();
    clone.readOnly = true;
    clone.sameSerialAs = {L"/dev/sdc1", L"/dev/sdd1"};
    const std::vector<std::wstring> lines = listLines({clone}, Wording::Linux);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[1].ends_with(L"  read-only, same serial as /dev/sdc1 and 1 more")) << toUtf8(lines[1]);
}

TEST(ListText, ColumnsAlignAndLongCellsPushRight) {
    VolumeInfo card;
    card.volume = L"\\\\?\\Volume{c}\\";
    card.mountPoints = {L"F:\\"};
    card.type = DriveType::Removable;
    VolumeInfo longLabel = exampleVolume();
    longLabel.label = L"ABCDEFGHIJKLMNOPQRST";  // 20 characters
    longLabel.windowsDrive = true;
    const std::vector<std::wstring> lines = listLines({exampleVolume(), card, longLabel}, Wording::Windows);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], L"Drive   Serial     FS      Size       Type       Label             Status");
    EXPECT_EQ(lines[1], L"E:      1A2B-3C4D  exFAT   59.5 GB    Removable  DATA              ");
    EXPECT_EQ(lines[2], L"F:      -          -       -          Removable                    no media");
    EXPECT_EQ(lines[3].find(L"Windows drive"), lines[0].find(L"Status") + 4);
    EXPECT_EQ(listLines({}, Wording::Windows), std::vector<std::wstring>{lines[0]});
}

// Where every cell of each column starts in a table whose header words are single words.
std::vector<std::size_t> headerStarts(const std::wstring& header) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < header.size(); ++i)
        if (header[i] != L' ' && (i == 0 || header[i - 1] == L' ')) starts.push_back(i);
    return starts;
}

TEST(ListText, LinuxColumnsFitTheirLongestCellAndShowNoSerialAsADash) {
    VolumeInfo root;
    root.volume = L"/dev/nvme0n1p3";
    root.mountPoints = {L"/"};
    root.fileSystem = L"ext4";
    root.hasSerial = false;
    root.sizeBytes = 512ull << 30;
    root.type = DriveType::Fixed;
    root.mediaPresent = true;
    root.windowsDrive = true;
    VolumeInfo stick;
    stick.volume = L"/dev/loop10";
    stick.fileSystem = L"FAT32";
    stick.serial = 0x1234ABCD;
    stick.sizeBytes = 64ull << 20;
    stick.type = DriveType::Fixed;
    stick.mediaPresent = true;
    stick.supported = true;
    stick.label = L"A LONGER LABEL THAN SIXTEEN";
    const std::vector<std::wstring> lines = listLines({root, stick}, Wording::Linux);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], L"Drive        Serial     FS     Size      Type   Label                        Status");
    EXPECT_EQ(lines[1], L"/            -          ext4   512.0 GB  Fixed                               unsupported, system drive");
    EXPECT_EQ(lines[2], L"/dev/loop10  1234-ABCD  FAT32  64 MB     Fixed  A LONGER LABEL THAN SIXTEEN  ");
    const std::vector<std::size_t> starts = headerStarts(lines[0]);
    ASSERT_EQ(starts.size(), 7u);
    for (const std::wstring& line : lines)
        for (std::size_t column = 1; column < starts.size(); ++column) {
            SCOPED_TRACE(toUtf8(line));
            EXPECT_EQ(line.substr(starts[column] - 2, 2), L"  ");
        }
    EXPECT_EQ(listLines({}, Wording::Linux)[0], L"Drive  Serial  FS  Size  Type  Label  Status");
}

TEST(VolumeJson, NoSerialIsNullNotZero) {
    VolumeInfo ext4 = exampleVolume();
    ext4.fileSystem = L"ext4";
    ext4.serial = 0;
    ext4.hasSerial = false;
    const std::wstring json = volumeJson(ext4);
    EXPECT_NE(json.find(L"\"serial\":null,"), std::wstring::npos) << toUtf8(json);
    EXPECT_EQ(getLines(ext4, L"", L"", Wording::Linux)[1], L"Serial:       -");
}

TEST(GetText, LinesForAnNtfsSystemVolumeAndAnEmptyReader) {
    VolumeInfo ntfs = exampleVolume();
    ntfs.fileSystem = L"NTFS";
    ntfs.windowsDrive = true;
    ntfs.sizeBytes = 1073741823;
    EXPECT_EQ(getLines(ntfs, L"0123-4567-1A2B-3C4D", L"none", Wording::Windows),
              (std::vector<std::wstring>{
                  L"Drive:        E:  (DATA)",
                  L"Serial:       1A2B-3C4D",
                  L"Full serial:  0123-4567-1A2B-3C4D  (NTFS, 64-bit)",
                  L"File system:  NTFS",
                  L"Size:         1024 MB",
                  L"Type:         Removable, Windows drive",
                  L"Encryption:   none",
                  L"Volume:       \\\\?\\Volume{0a1b2c3d-0000-1111-2222-333344445555}",
              }));

    VolumeInfo reader;
    reader.volume = L"\\\\?\\Volume{r}\\";
    reader.mountPoints = {L"G:\\"};
    reader.type = DriveType::Removable;
    reader.bitLockerHint = true;
    EXPECT_EQ(getLines(reader, L"", L"", Wording::Windows),
              (std::vector<std::wstring>{
                  L"Drive:        G:",
                  L"Serial:       - (no media)",
                  L"File system:  -",
                  L"Size:         -",
                  L"Type:         Removable",
                  L"Encryption:   BitLocker (as reported by Windows, run elevated to check)",
                  L"Volume:       \\\\?\\Volume{r}",
              }));

    VolumeInfo unsupported = exampleVolume();
    unsupported.fileSystem = L"ext4";
    unsupported.supported = false;
    EXPECT_EQ(getLines(unsupported, L"", L"BitLocker")[2], L"File system:  ext4  (not supported)");
    EXPECT_EQ(getLines(unsupported, L"", L"BitLocker")[5], L"Encryption:   BitLocker");
    EXPECT_EQ(getLines(ntfs, L"", L"", Wording::Linux)[4], L"Type:         Removable, system drive");
    EXPECT_EQ(getLines(reader, L"", L"", Wording::Linux)[5],
              L"Encryption:   BitLocker (by its signature, run as root to check)");
    EXPECT_EQ(administratorText(Wording::Windows), L"Changing a serial requires administrator rights. Please run "
                                                   L"qorin from an elevated command prompt (Run as administrator).");
    EXPECT_EQ(administratorText(Wording::Linux), L"Changing a serial requires root rights. Please run qorin as root "
                                                 L"(for example with sudo); an image file only needs to be writable "
                                                 L"by you.");
}

TEST(GetText, LinuxSaysWhereTheSerialCameFromOrWhyThereIsNone) {
    struct Case { Readout readout; bool media; bool hasSerial; std::wstring line; };
    const std::vector<Case> cases = {
        {Readout::Udev, true, true, L"Serial:       1A2B-3C4D  (read from udev; run as root to read the boot sector)"},
        {Readout::MountTable, true, false, L"Serial:       -  (run as root to read the boot sector)"},
        {Readout::NoAccess, false, false, L"Serial:       - (no access)"},
        {Readout::NoFileSystem, false, false, L"Serial:       - (no file system)"},
        {Readout::Device, false, false, L"Serial:       - (no media)"},
        {Readout::Device, true, true, L"Serial:       1A2B-3C4D"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.line));
        VolumeInfo info = exampleVolume();
        info.readout = c.readout;
        info.mediaPresent = c.media;
        info.hasSerial = c.hasSerial;
        EXPECT_EQ(getLines(info, L"", L"", Wording::Linux)[1], c.line);
    }
    EXPECT_EQ(readingNeedsRootText(L"/dev/sdb1"),
              L"Reading /dev/sdb1 requires root rights. Please run qorin as root (for example with sudo).");
    EXPECT_EQ(readOnlyRefusal(L"/dev/loop3", Wording::Linux),
              L"/dev/loop3 is read-only, so its serial can't be changed. Nothing was written.");
    EXPECT_EQ(readOnlyRefusal(L"E:", Wording::Windows), L"");
}

TEST(ChangeResultJson, OpenFailureHasZeroSerialsAndNoBackup) {
    ChangeResult result;
    result.error = ApplyFailure::OpenFailed;
    result.systemError = 5;
    OutcomeReport report;
    report.exitCode = 3;
    report.message = L"Changing a serial requires administrator rights.";
    EXPECT_EQ(changeResultJson(L"E:", result, report, L""),
              L"{\"drive\":\"E:\",\"exit\":3,\"error\":\"OpenFailed\",\"outcome\":\"Success\",\"mode\":\"Locked\","
              L"\"restartRequired\":false,\"oldSerial\":\"0000-0000\",\"newSerial\":\"0000-0000\",\"backup\":null,"
              L"\"message\":\"Changing a serial requires administrator rights.\",\"notes\":[]}");
}

TEST(ChangeResultJson, SixtyFourBitChangeInPlaceWithNotes) {
    ChangeResult result;
    result.mode = WriteMode::InPlace;
    result.restartRequired = true;
    result.plan.serialWidth = 8;
    result.plan.oldSerial = 0xAAAABBBBCCCCDDDD;
    result.plan.newSerial = 0x0123456789ABCDEF;
    OutcomeReport report;
    report.message = L"m";
    report.lines = {L"A boot-sector backup was saved to C:\\b\\x.tlxbak", L"second"};
    EXPECT_EQ(changeResultJson(L"C:", result, report, L"C:\\b\\x.tlxbak"),
              L"{\"drive\":\"C:\",\"exit\":0,\"error\":\"None\",\"outcome\":\"Success\",\"mode\":\"InPlace\","
              L"\"restartRequired\":true,\"oldSerial\":\"AAAA-BBBB-CCCC-DDDD\",\"newSerial\":\"0123-4567-89AB-CDEF\","
              L"\"backup\":\"C:\\\\b\\\\x.tlxbak\",\"message\":\"m\",\"notes\":[\"A boot-sector backup was saved to "
              L"C:\\\\b\\\\x.tlxbak\",\"second\"]}");
}

TEST(ChangeResultJson, NamesOfEveryStageAndUnknownValues) {
    struct Case {
        ApplyFailure error;
        ApplyOutcome outcome;
        WriteMode mode;
        std::wstring expected;
    };
    const std::vector<Case> cases = {
        {ApplyFailure::Apply, ApplyOutcome::RollbackFailed, WriteMode::Locked,
         L"\"error\":\"Apply\",\"outcome\":\"RollbackFailed\",\"mode\":\"Locked\""},
        {ApplyFailure::BackupMismatch, ApplyOutcome::NothingWritten, WriteMode::Locked,
         L"\"error\":\"BackupMismatch\",\"outcome\":\"NothingWritten\",\"mode\":\"Locked\""},
        {ApplyFailure::BitLockerLocked, ApplyOutcome::RolledBack, WriteMode::InPlace,
         L"\"error\":\"BitLockerLocked\",\"outcome\":\"RolledBack\",\"mode\":\"InPlace\""},
        {static_cast<ApplyFailure>(77), static_cast<ApplyOutcome>(9), static_cast<WriteMode>(3),
         L"\"error\":\"?\",\"outcome\":\"?\",\"mode\":\"?\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        ChangeResult result;
        result.error = c.error;
        result.applyOutcome = c.outcome;
        result.mode = c.mode;
        result.plan.serialWidth = 4;
        result.plan.oldSerial = 0x1A2B3C4D;
        result.plan.newSerial = 0xFFFFFFFF;
        OutcomeReport report;
        report.exitCode = -1;
        const std::wstring json = changeResultJson(L"E:", result, report, L"");
        EXPECT_NE(json.find(L"\"exit\":-1," + c.expected + L","), std::wstring::npos) << json;
        EXPECT_NE(json.find(L"\"oldSerial\":\"1A2B-3C4D\",\"newSerial\":\"FFFF-FFFF\""), std::wstring::npos);
    }
}

BackupListEntry entry(std::wstring path, FsType type, std::uint32_t width, VolumeSerial oldSerial,
                      VolumeSerial newSerial, std::string created) {
    BackupListEntry e;
    e.path = std::move(path);
    e.backup.fsType = type;
    e.backup.serialBytes = width;
    e.backup.oldSerial = oldSerial;
    e.backup.newSerial = newSerial;
    e.backup.created = std::move(created);
    return e;
}

TEST(BackupsOutput, TextAndJson) {
    const std::vector<BackupListEntry> entries = {
        entry(L"D:\\bk\\Volume{1}\\b.tlxbak", FsType::NTFS, 8, 0xAAAABBBB11112222, 0xAAAABBBB33334444,
              "2024-05-01T12:34:56Z"),
        entry(L"D:\\bk\\Volume{1}\\a.tlxbak", FsType::FAT32, 4, 0x1A2B3C4D, 0xBEEF, "2024-03-05T14:07:09Z"),
    };
    EXPECT_EQ(backupsLines(entries, L"E:", L"D:\\bk"),
              (std::vector<std::wstring>{
                  L"Created (UTC)         Change                  File",
                  L"2024-05-01T12:34:56Z  1111-2222 -> 3333-4444  D:\\bk\\Volume{1}\\b.tlxbak",
                  L"2024-03-05T14:07:09Z  1A2B-3C4D -> 0000-BEEF  D:\\bk\\Volume{1}\\a.tlxbak",
              }));
    EXPECT_EQ(backupsJson(entries),
              L"[{\"file\":\"D:\\\\bk\\\\Volume{1}\\\\b.tlxbak\",\"created\":\"2024-05-01T12:34:56Z\","
              L"\"fileSystem\":\"NTFS\",\"oldSerial\":\"1111-2222\",\"newSerial\":\"3333-4444\"},"
              L"{\"file\":\"D:\\\\bk\\\\Volume{1}\\\\a.tlxbak\",\"created\":\"2024-03-05T14:07:09Z\","
              L"\"fileSystem\":\"FAT32\",\"oldSerial\":\"1A2B-3C4D\",\"newSerial\":\"0000-BEEF\"}]");
}

TEST(BackupsOutput, NoBackupsAndFileSystemNames) {
    EXPECT_EQ(backupsLines({}, L"Q:", L"C:\\ProgramData\\Morvane\\Plinthos\\Backups"),
              std::vector<std::wstring>{L"No backups for Q: in C:\\ProgramData\\Morvane\\Plinthos\\Backups."});
    EXPECT_EQ(backupsJson({}), L"[]");
    const std::vector<std::pair<FsType, std::wstring>> names = {
        {FsType::FAT12, L"FAT12"},     {FsType::FAT16, L"FAT16"}, {FsType::exFAT, L"exFAT"},
        {FsType::BitLocker, L"BitLocker"}, {FsType::Unknown, L"Unknown"}, {static_cast<FsType>(40), L"Unknown"},
    };
    for (const auto& [type, name] : names) {
        SCOPED_TRACE(name);
        const std::wstring json = backupJson(entry(L"p", type, 4, 0, 0, "t"));
        EXPECT_NE(json.find(L"\"fileSystem\":\"" + name + L"\""), std::wstring::npos) << json;
    }
}

TEST(SetText, SerialSyntaxLine) {
    EXPECT_EQ(notASerialText(L"ZZ", false), L"\"ZZ\" isn't a serial number. Format: XXXX-XXXX (hexadecimal).");
    EXPECT_EQ(notASerialText(L"12345-ABCD", true),
              L"\"12345-ABCD\" isn't a serial number. Format: XXXX-XXXX (hexadecimal), or 16 hex digits with "
              L"--full64.");
    EXPECT_EQ(recoverHint(L"E:", L"B"), L"To recover, run:  qorin restore E: \"B\" --raw");
}

TEST(SetText, ChangeQuestionAddsTheWarningsInTheirOrder) {
    const std::wstring nl = kLineEnd;
    VolumeInfo ntfs = exampleVolume();
    ntfs.fileSystem = L"NTFS";
    ntfs.fullSerial = 0x0123456789ABCDEF;
    const std::wstring to64 = L"This will change the Volume Serial Number of E: (NTFS) from 1A2B-3C4D to "
                              L"0000-0000-1234-ABCD. A backup of the boot sector will be saved first so you can "
                              L"revert. Make sure no other program is using this drive.";
    const std::wstring to32 = L"This will change the Volume Serial Number of E: (NTFS) from 1A2B-3C4D to 1234-ABCD. "
                              L"A backup of the boot sector will be saved first so you can revert. Make sure no "
                              L"other program is using this drive.";
    VolumeInfo everything = ntfs;
    everything.windowsDrive = true;
    everything.partitionRole = PartitionRole::EfiSystem;
    VolumeInfo recovery = ntfs;
    recovery.partitionRole = PartitionRole::Recovery;
    struct Case {
        const char* name;
        VolumeInfo info;
        bool full64, bitLocker;
        std::wstring expected;
    };
    const std::vector<Case> cases = {
        {"32-bit", ntfs, false, false, to32},
        {"64-bit new, 32-bit old", ntfs, true, false, to64},
        {"recovery partition has no warning", recovery, false, false, to32},
        {"bitlocker", ntfs, false, true, to32 + nl + bitLockerWarning(L"E:")},
        {"all three",
         everything, false, true,
         to32 + nl + windowsDriveWarning(L"E:") + nl + efiPartitionWarning(L"E:") + nl + bitLockerWarning(L"E:")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(joined(changeQuestion(c.info, 0x1234ABCD, c.full64, c.bitLocker)), c.expected);
    }
}

TEST(RestoreText, QuestionsForEachMatch) {
    BootSectorBackup ntfs;
    ntfs.serialBytes = 8;
    ntfs.oldSerial = 0x0123456789ABCDEF;
    ntfs.created = "2024-05-01T12:34:56Z";
    const std::wstring nl = kLineEnd;
    const std::wstring serial =
        L"This sets the serial of E: to 89AB-CDEF (full 0123-4567-89AB-CDEF) (from the backup made "
        L"2024-05-01T12:34:56Z). A backup of the current boot sector is saved first.";
    const std::wstring raw = L"This writes the boot sectors saved in b.tlxbak back to E: exactly as they were "
                             L"(recovery). A backup of the current sectors is saved first.";
    const std::wstring unknown =
        L"The current boot sector of E: can't be recognized, so the backup can't be checked against it.";
    const std::wstring bitLocker = nl + bitLockerWarning(L"E:");
    struct Case {
        bool raw, force;
        std::int32_t match;
        bool bitLocker;
        std::wstring expected;
    };
    const std::vector<Case> cases = {
        {false, false, 0, false, serial},
        {false, false, 2, false, serial},
        {false, false, 1, false,
         L"This backup was made on a different volume, or E: was reformatted since. Restoring sets its serial to "
         L"89AB-CDEF and changes nothing else." +
             nl + serial},
        {false, false, 0, true, serial + bitLocker},
        {true, false, 0, false, raw},
        {true, false, 1, false, raw},
        {true, false, 2, false, raw + nl + unknown + L" Add --force to write it anyway."},
        {true, true, 2, true, raw + nl + unknown + bitLocker},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(joined(restoreQuestion(L"E:", L"b.tlxbak", ntfs, c.raw, c.force, c.match, c.bitLocker)), c.expected);
    }
}

TEST(RestoreText, UnusableBackupLine) {
    BackupReadResult read;
    read.parseError = BackupParseError::ChecksumMismatch;
    EXPECT_EQ(unusableBackupText(L"broken.tlxbak", read), L"The backup file broken.tlxbak can't be used: ChecksumMismatch.");
    read.parseError = BackupParseError::Truncated;
    read.systemError = 123456;
    EXPECT_EQ(unusableBackupText(L"x", read), L"The backup file x can't be used: Truncated (Error 123456).");
    read.parseError = static_cast<BackupParseError>(50);
    read.systemError = 0;
    EXPECT_EQ(unusableBackupText(L"x", read), L"The backup file x can't be used: ?.");
}

}  // namespace
}  // namespace tlx
