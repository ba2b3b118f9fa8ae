// The flows' texts and the table that decides how a result is shown.
#include "flow_texts.h"

#include <gtest/gtest.h>

#include "backup/backup_store.h"
#include "catalog/report.h"

namespace tlx {
namespace {

const LocalTimeConversion kPlusTwoHours = [](UtcTime& t) {
    // Enough of a calendar for the cases below: 23:30 UTC becomes 01:30 on the next day.
    t.hour += 2;
    if (t.hour >= 24) {
        t.hour -= 24;
        ++t.day;
    }
    return true;
};
const LocalTimeConversion kRefuses = [](UtcTime& t) {
    t.hour = 99;  // must not be used
    return false;
};

TEST(CreatedText, LocalTimeOrUnknownTime) {
    struct Case {
        const char* created;
        const LocalTimeConversion* toLocal;
        const wchar_t* shown;
    };
    const Case cases[] = {
        {"2024-05-01T23:30:00Z", &kPlusTwoHours, L"2024-05-02 01:30"},
        {"2024-05-01T09:05:59Z", &kPlusTwoHours, L"2024-05-01 11:05"},
        {"2024-05-01T09:05:59Z", &kRefuses, L"2024-05-01 09:05"},  // UTC values kept
        // Anything but the stored form: the text came from whoever made the file.
        {"2024-5-1T9:5:0", &kRefuses, L"unknown time"},
        {"2024-05-01 09:05:00", &kPlusTwoHours, L"unknown time"},
        {"2024-05-01T09:05", &kPlusTwoHours, L"unknown time"},
        {"2024-05-01T09:05:59", &kPlusTwoHours, L"unknown time"},
        {"2024-05-01T09:05:59Z ", &kPlusTwoHours, L"unknown time"},
        {"2024-05-01T09:05:59Z<A HREF=\"cmd.exe\">x</A>", &kPlusTwoHours, L"unknown time"},
        {"<A HREF=\"C:\\Windows\\System32\\calc.exe\">2024-05-01</A>", &kPlusTwoHours, L"unknown time"},
        {"2024-05-01T+9:05:59Z", &kPlusTwoHours, L"unknown time"},
        {"", &kPlusTwoHours, L"unknown time"},
        {"yesterday", &kPlusTwoHours, L"unknown time"},
        {"\xC5\xBD", &kPlusTwoHours, L"unknown time"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.created);
        EXPECT_EQ(createdText(c.created, *c.toLocal), c.shown);
    }
    EXPECT_EQ(createdText("2024-05-01T09:05:59Z", nullptr), L"2024-05-01 09:05");
}

TEST(FlowTexts, WarningsInTheirOrder) {
    VolumeInfo volume;
    EXPECT_EQ(confirmationWarnings(volume, L"E:"), L"");
    volume.windowsDrive = true;
    volume.bitLockerHint = true;
    volume.partitionRole = PartitionRole::EfiSystem;
    EXPECT_EQ(confirmationWarnings(volume, L"E:"),
              L"\n\n" + windowsDriveWarning(L"E:") + L"\n\n" + bitLockerWarning(L"E:") + L"\n\n" +
                  efiPartitionWarning(L"E:"));
    volume.windowsDrive = false;
    volume.partitionRole = PartitionRole::Recovery;
    EXPECT_EQ(confirmationWarnings(volume, L"E:"), L"\n\n" + bitLockerWarning(L"E:"));
}

TEST(FlowTexts, Questions) {
    BootSectorBackup backup;
    backup.serialBytes = 8;
    backup.oldSerial = 0x0123456789ABCDEFull;
    backup.created = "2024-05-01T23:30:00Z";
    EXPECT_EQ(restoreQuestionContent(L"E:", L"C:\\b\\x.tlxbak", backup, false, kPlusTwoHours),
              L"This sets the serial of E: to 89AB-CDEF (full 0123-4567-89AB-CDEF) (from the backup made 2024-05-02 "
              L"01:30). A backup of the current boot sector is saved first.");
    EXPECT_EQ(restoreQuestionContent(L"E:", L"C:\\b\\x.tlxbak", backup, true, kPlusTwoHours),
              L"This writes the boot sectors saved in C:\\b\\x.tlxbak back to E: exactly as they were. Use it only to "
              L"recover a drive after a failed change. A backup of the current sectors is saved first.");
    EXPECT_EQ(differentVolumeContent(L"E:", backup),
              L"This backup was made on a different volume, or E: was reformatted since. Restoring sets its serial to "
              L"89AB-CDEF and changes nothing else.");
    backup.serialBytes = 4;
    backup.oldSerial = 0x1A2B3C4D;
    EXPECT_EQ(restoreQuestionContent(L"E:", L"x", backup, false, kRefuses),
              L"This sets the serial of E: to 1A2B-3C4D (from the backup made 2024-05-01 23:30). A backup of the "
              L"current boot sector is saved first.");
    EXPECT_EQ(unrecognizedBootSectorContent(L"Volume{1a2b3c4d…}"),
              L"The current boot sector of Volume{1a2b3c4d…} is damaged or unreadable, so the backup can't be checked "
              L"against it. Write the saved sectors anyway?");
    EXPECT_EQ(unusableBackupContent(L"C:\\x.tlxbak", BackupParseError::BadMagic),
              L"C:\\x.tlxbak\n\nIt is damaged or not a backup file (BadMagic).");
    EXPECT_EQ(unusableBackupContent(L"x", static_cast<BackupParseError>(9)),
              L"x\n\nIt is damaged or not a backup file (?).");
}

ElevatedResult ranWith(ApplyFailure error) {
    ElevatedResult result;
    result.ran = true;
    result.change.error = error;
    return result;
}

TEST(Presentation, NothingForADeclinedPrompt) {
    ElevatedResult result;
    result.cancelled = true;
    result.launchError = 1223;
    const ResultPresentation shown = presentation(result, L"E:", L"C:\\B");
    EXPECT_FALSE(shown.show);
    EXPECT_FALSE(shown.refresh);
    EXPECT_EQ(shown.pending, PendingRestartChange::Keep);
}

TEST(Presentation, NotStartedAndUnusableBackupAreNotRefreshed) {
    ElevatedResult notStarted;
    notStarted.launchError = 2;
    ResultPresentation shown = presentation(notStarted, L"E:", L"C:\\B");
    EXPECT_TRUE(shown.show);
    EXPECT_FALSE(shown.refresh);
    EXPECT_EQ(shown.icon, DialogIcon::Error);
    EXPECT_EQ(shown.mainInstruction, L"The change couldn't be started");
    std::wstring text = errorText(2);
    if (text.ends_with(L'.')) text.pop_back();  // "(Error 483.)." would end twice
    EXPECT_EQ(shown.content, L"The administrator helper couldn't be started (" + text + L").");
    EXPECT_TRUE(shown.buttons.empty());
    EXPECT_EQ(shown.pending, PendingRestartChange::Keep);

    ElevatedResult unusable = ranWith(ApplyFailure::None);
    unusable.parseError = BackupParseError::Truncated;
    shown = presentation(unusable, L"E:", L"C:\\B");
    EXPECT_FALSE(shown.refresh);
    EXPECT_EQ(shown.mainInstruction, L"This backup file can't be used");
    EXPECT_EQ(shown.content, L"It is damaged or not a backup file.");
}

TEST(Presentation, TableOfOutcomes) {
    struct Case {
        const char* name;
        ElevatedResult result;
        const wchar_t* mainInstruction;
        DialogIcon icon;
        std::vector<int> buttons;
        int defaultButton;
        PendingRestartChange pending;
    };
    ElevatedResult changed = ranWith(ApplyFailure::None);
    changed.change.plan.newSerial = 0xBEEF;
    changed.backupPath = L"C:\\B\\x.tlxbak";
    ElevatedResult inPlace = changed;
    inPlace.change.restartRequired = true;
    inPlace.change.mode = WriteMode::InPlace;
    inPlace.change.plan.newSerial = 0x0123456789ABCDEFull;
    ElevatedResult same = ranWith(ApplyFailure::Plan);
    same.change.planError = PlanError::SameSerial;
    ElevatedResult rollbackFailed = ranWith(ApplyFailure::Apply);
    rollbackFailed.change.applyOutcome = ApplyOutcome::RollbackFailed;
    rollbackFailed.backupPath = L"C:\\B\\x.tlxbak";
    ElevatedResult rollbackFailedNoBackup = rollbackFailed;
    rollbackFailedNoBackup.backupPath.clear();
    ElevatedResult rolledBack = ranWith(ApplyFailure::Apply);
    rolledBack.change.applyOutcome = ApplyOutcome::RolledBack;
    ElevatedResult notAdmin = ranWith(ApplyFailure::OpenFailed);
    notAdmin.change.systemError = 5;
    ElevatedResult differentVolume = ranWith(ApplyFailure::None);
    differentVolume.differentVolume = true;  // only ever presented after the question; as the result says
    const std::vector<int> none;
    const Case cases[] = {
        {"changed", changed, L"Serial changed", DialogIcon::Information, none, 0, PendingRestartChange::Remove},
        {"same serial", same, L"Nothing to change", DialogIcon::Information, none, 0, PendingRestartChange::Remove},
        {"in place", inPlace, L"Restart to finish changing the serial", DialogIcon::Information, {110, 111}, 111,
         PendingRestartChange::Set},
        {"rollback failed", rollbackFailed, L"The change failed and couldn't be undone automatically",
         DialogIcon::Error, {120, 121}, 120, PendingRestartChange::Keep},
        {"rollback failed without backup", rollbackFailedNoBackup,
         L"The change failed and couldn't be undone automatically", DialogIcon::Error, none, 0,
         PendingRestartChange::Keep},
        {"rolled back", rolledBack, L"The serial couldn't be changed", DialogIcon::Error, none, 0,
         PendingRestartChange::Keep},
        {"in use", ranWith(ApplyFailure::VolumeInUse), L"Nothing was changed", DialogIcon::Warning, none, 0,
         PendingRestartChange::Keep},
        {"BitLocker", ranWith(ApplyFailure::BitLockerLocked), L"Nothing was changed", DialogIcon::Warning, none, 0,
         PendingRestartChange::Keep},
        {"open failed", ranWith(ApplyFailure::OpenFailed), L"Nothing was changed", DialogIcon::Error, none, 0,
         PendingRestartChange::Keep},
        {"not administrator", notAdmin, L"Nothing was changed", DialogIcon::Error, none, 0,
         PendingRestartChange::Keep},
        {"backup mismatch", ranWith(ApplyFailure::BackupMismatch), L"Nothing was changed", DialogIcon::Error, none, 0,
         PendingRestartChange::Keep},
        {"out of range", ranWith(static_cast<ApplyFailure>(99)), L"Nothing was changed", DialogIcon::Error, none, 0,
         PendingRestartChange::Keep},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ResultPresentation shown = presentation(c.result, L"E:", L"C:\\B");
        EXPECT_TRUE(shown.show);
        EXPECT_TRUE(shown.refresh);
        EXPECT_EQ(shown.mainInstruction, c.mainInstruction);
        EXPECT_EQ(shown.icon, c.icon);
        std::vector<int> ids;
        for (const DialogButton& button : shown.buttons) ids.push_back(button.id);
        EXPECT_EQ(ids, c.buttons);
        EXPECT_EQ(shown.defaultButton, c.defaultButton);
        EXPECT_EQ(shown.pending, c.pending);
        // The content is the report's sentence and its lines, each after a blank line.
        const OutcomeReport report =
            buildReport(c.result.change, L"E:", c.result.backupPath, L"C:\\B", c.result.backupError,
                        L"To recover, choose \"Recover Now\" below. You can also do it later with \"Recover Boot "
                        L"Sectors from Backup\" on the Tools menu.");
        std::wstring content = report.message;
        for (const std::wstring& line : report.lines) content += L"\n\n" + line;
        EXPECT_EQ(shown.content, content);
    }
    EXPECT_EQ(presentation(inPlace, L"E:", L"C:\\B").pendingSerial, 0x0123456789ABCDEFull);
    const ResultPresentation recover = presentation(rollbackFailed, L"E:", L"C:\\B");
    EXPECT_EQ(recover.buttons[0].text, L"Recover Now");
    EXPECT_EQ(recover.buttons[1].text, L"Later");
    EXPECT_NE(recover.content.find(L"To recover, choose \"Recover Now\" below."), std::wstring::npos);
    EXPECT_EQ(presentation(inPlace, L"E:", L"C:\\B").buttons[0].text, L"Restart Now");
}

TEST(BackupsList, RowsAndFolders) {
    BootSectorBackup backup;
    backup.serialBytes = 8;
    backup.oldSerial = 0x0123456789ABCDEFull;
    backup.newSerial = 0xFFFFFFFF0000BEEFull;
    backup.created = "2024-05-01T23:30:00Z";
    BackupRowTexts row = backupRowTexts(L"C:\\B\\Volume{x}\\20240501-233000Z_89ABCDEF_0000BEEF.tlxbak", backup,
                                        kPlusTwoHours);
    EXPECT_EQ(row.created, L"2024-05-02 01:30");
    EXPECT_EQ(row.change, L"89AB-CDEF to 0000-BEEF");  // the 32-bit form, also for 8-byte serials
    EXPECT_EQ(row.file, L"20240501-233000Z_89ABCDEF_0000BEEF.tlxbak");
    backup.created = "not a time";
    row = backupRowTexts(L"/var/lib/b/x.tlxbak", backup, kPlusTwoHours);
    EXPECT_EQ(row.created, L"unknown time");
    EXPECT_EQ(row.file, L"x.tlxbak");
    EXPECT_EQ(backupRowTexts(L"x.tlxbak", backup, nullptr).file, L"x.tlxbak");

    EXPECT_EQ(volumeBackupFolder(L"C:\\B", L"\\\\?\\Volume{5eb1c0de-0000}"),
              joinPath(L"C:\\B", L"Volume{5eb1c0de-0000}"));
    EXPECT_EQ(volumeBackupFolder(L"C:\\B", L"/dev/sdb1"), L"C:\\B");
    EXPECT_EQ(volumeBackupFolder(L"C:\\B", L"Volume{"), joinPath(L"C:\\B", L"Volume{"));
    EXPECT_EQ(volumeBackupFolder(L"C:\\B", L""), L"C:\\B");
    EXPECT_EQ(noBackupsContent(L"C:\\ProgramData\\Morvane\\Plinthos\\Backups"),
              L"Backups are saved to C:\\ProgramData\\Morvane\\Plinthos\\Backups the first time you change a serial.");
}

}  // namespace
}  // namespace tlx
