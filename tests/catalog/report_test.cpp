// The user's sentences, lines and exit codes for every outcome of a change, restore or recovery.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "catalog/report.h"
#include "platform/system.h"
#include "platform/text.h"

namespace tlx {
namespace {

const std::wstring kDrive = L"E:";
const std::wstring kFolder = L"D:\\bk";
const std::wstring kBackup = L"D:\\bk\\Volume{1}\\20240305-140709Z_1A2B3C4D_0000BEEF.tlxbak";
const std::wstring kHint = L"To recover, run:  qorin restore E: \"B\" --raw";
constexpr std::uint32_t kNoText = 123456;  // a code the system has no text for
// The system text without its final period: the sentence around it has its own.
const std::wstring kNoTextSuffix = L" (Error 123456)";

std::wstring withoutPeriod(std::wstring text) {
    if (text.ends_with(L'.')) text.pop_back();
    return text;
}

const std::wstring kLockedBitLocker =
    L"E: is locked by BitLocker, so its serial can't be read or changed. Unlock the drive first (open it in Explorer "
    L"and enter its password or recovery key), then try again.";
const std::wstring kUnsupported =
    L"The file system on E: isn't supported. This tool works with FAT, FAT32, exFAT and NTFS volumes.";
const std::wstring kGeneric = L"The serial couldn't be changed. No changes were written. Your drive is unchanged.";
const std::wstring kSupportLine = L"If that doesn't help, contact support@plinthos.org.";

struct Case {
    const char* name;
    std::function<void(ChangeResult&)> setUp;
    std::wstring backupPath;
    std::uint32_t backupError;
    std::int32_t exitCode;
    std::wstring message;
    std::vector<std::wstring> lines;
};

ChangeResult planFailure(PlanError error) {
    ChangeResult result;
    result.error = ApplyFailure::Plan;
    result.planError = error;
    return result;
}

void applyFailure(ChangeResult& r, ApplyOutcome outcome, ApplyStep step) {
    r.error = ApplyFailure::Apply;
    r.applyOutcome = outcome;
    r.applyFailure = step;
    r.applySystemError = kNoText;
    r.systemError = kNoText;
}

void success(ChangeResult& r, std::uint32_t width, VolumeSerial oldSerial, VolumeSerial newSerial) {
    r.plan.serialWidth = width;
    r.plan.oldSerial = oldSerial;
    r.plan.newSerial = newSerial;
}

TEST(Report, EveryOutcomeHasItsSentenceLinesAndExitCode) {
    const std::vector<Case> cases = {
        {"ntfs low half only", [](ChangeResult& r) { success(r, 8, 0xAAAABBBB11112222, 0xAAAABBBB33334444); }, L"", 0,
         0, L"Volume Serial Number of E: changed from 1111-2222 to 3333-4444.", {}},
        {"ntfs all 64 bits",
         [](ChangeResult& r) { success(r, 8, 0xAAAABBBB11112222, 0x0123456789ABCDEF); }, L"", 0, 0,
         L"Volume Serial Number of E: changed from 1111-2222 (full AAAA-BBBB-1111-2222) to 89AB-CDEF (full "
         L"0123-4567-89AB-CDEF).",
         {}},
        {"fat32 without backup sector, backup written",
         [](ChangeResult& r) {
             success(r, 4, 0x1A2B3C4D, 0xBEEF);
             r.plan.notes = {PlanNote::Fat32NoBackup};
         },
         kBackup, 0, 0, L"Volume Serial Number of E: changed from 1A2B-3C4D to 0000-BEEF.",
         {L"A boot-sector backup was saved to " + kBackup,
          L"This FAT32 volume has no backup boot sector, so only the main one was updated."}},
        {"in place on the Windows drive: backup, restart, then notes in plan order",
         [](ChangeResult& r) {
             success(r, 8, 0x11112222, 0x33334444);
             r.mode = WriteMode::InPlace;
             r.restartRequired = true;
             r.plan.notes = {PlanNote::NtfsBackupNotCopy, PlanNote::NtfsBackupUnreachable};
         },
         kBackup, 0, 0, L"Volume Serial Number of E: changed from 1111-2222 to 3333-4444.",
         {L"A boot-sector backup was saved to " + kBackup,
          L"E: is in use by Windows. The new serial has been written and will take effect after you restart your "
          L"computer.",
          L"The NTFS backup boot sector doesn't hold a copy of the boot sector, so it was left as is.",
          L"The NTFS backup boot sector couldn't be reached, so only the main one was updated."}},
        {"fat32 and exfat notes",
         [](ChangeResult& r) {
             success(r, 4, 1, 2);
             r.plan.notes = {PlanNote::Fat32BackupNotCopy, PlanNote::ExFatBackupInconsistent};
         },
         L"", 0, 0, L"Volume Serial Number of E: changed from 0000-0001 to 0000-0002.",
         {L"The FAT32 backup boot sector doesn't hold a copy of the boot sector, so it was left as is.",
          L"The exFAT backup boot region was already inconsistent, so it was left as is."}},
        {"open denied",
         [](ChangeResult& r) {
             r.error = ApplyFailure::OpenFailed;
             r.systemError = 5;
         },
         L"", 0, 3, L"Changing a serial requires administrator rights.", {}},
        {"open failed otherwise",
         [](ChangeResult& r) {
             r.error = ApplyFailure::OpenFailed;
             r.systemError = 2;
         },
         L"", 0, 1, L"Couldn't open E: (" + withoutPeriod(errorText(2)) + L").", {}},
        {"volume in use", [](ChangeResult& r) { r.error = ApplyFailure::VolumeInUse; }, L"", 0, 4,
         L"E: is in use and couldn't be locked. Close any programs or windows using the drive and try again.", {}},
        {"dismount failed", [](ChangeResult& r) { r.error = ApplyFailure::DismountFailed; }, L"", 0, 4,
         L"E: is in use and couldn't be locked. Close any programs or windows using the drive and try again.", {}},
        {"backup mismatch", [](ChangeResult& r) { r.error = ApplyFailure::BackupMismatch; }, L"", 0, 9,
         L"This backup doesn't match E:, so its saved boot sectors can't be written back. You can still restore just "
         L"the serial.",
         {}},
        {"bitlocker locked", [](ChangeResult& r) { r.error = ApplyFailure::BitLockerLocked; }, L"", 0, 5,
         kLockedBitLocker, {}},
        {"read failed",
         [](ChangeResult& r) {
             r = planFailure(PlanError::ReadFailed);
             r.systemError = kNoText;
         },
         L"", 0, 1, L"The boot sector of E: couldn't be read" + kNoTextSuffix + L". Nothing was written.", {}},
        {"read failed without a code", [](ChangeResult& r) { r = planFailure(PlanError::ReadFailed); }, L"", 0, 1,
         L"The boot sector of E: couldn't be read. Nothing was written.", {}},
        {"not recognised: bitlocker header",
         [](ChangeResult& r) {
             r = planFailure(PlanError::NotRecognised);
             r.detect = DetectStatus::BitLocker;
         },
         L"", 0, 5, kLockedBitLocker, {}},
        {"not recognised: no signature",
         [](ChangeResult& r) {
             r = planFailure(PlanError::NotRecognised);
             r.detect = DetectStatus::NoSignature;
         },
         L"", 0, 6, kUnsupported, {}},
        {"sector size mismatch", [](ChangeResult& r) { r = planFailure(PlanError::SectorSizeMismatch); }, L"", 0, 6,
         kUnsupported, {}},
        {"serial too wide", [](ChangeResult& r) { r = planFailure(PlanError::SerialTooWide); }, L"", 0, 2,
         L"This volume has a 32-bit serial. Use the XXXX-XXXX form (8 hex digits).", {}},
        {"same serial", [](ChangeResult& r) { r = planFailure(PlanError::SameSerial); }, L"", 0, 0,
         L"E: already has this serial. Nothing was changed.", {}},
        {"checksum damaged", [](ChangeResult& r) { r = planFailure(PlanError::ChecksumDamaged); }, L"", 0, 1,
         L"The boot region of E: is already damaged (its checksum doesn't match), so it wasn't touched. Run \"chkdsk "
         L"E: /f\" first.",
         {}},
        {"nothing to restore", [](ChangeResult& r) { r = planFailure(PlanError::NothingToRestore); }, L"", 0, 0,
         L"E: already holds the backup's boot sectors. Nothing was changed.", {}},
        {"plan error outside the enumeration",
         [](ChangeResult& r) { r = planFailure(static_cast<PlanError>(99)); }, L"", 0, 1, kGeneric, {}},
        {"plan stage without a plan error", [](ChangeResult& r) { r = planFailure(PlanError::None); }, L"", 0, 1,
         kGeneric, {}},
        {"backup failed names the folder and the backup error",
         [](ChangeResult& r) { applyFailure(r, ApplyOutcome::NothingWritten, ApplyStep::BackupFailed); }, L"", 112, 1,
         L"The boot-sector backup couldn't be saved to D:\\bk (" + withoutPeriod(errorText(112)) +
             L"), so nothing was written. Your drive is unchanged.",
         {}},
        {"changed before writing",
         [](ChangeResult& r) { applyFailure(r, ApplyOutcome::NothingWritten, ApplyStep::Changed); }, L"", 0, 1,
         L"E: changed while the serial was being prepared, so nothing was written. Please try again.", {}},
        {"nothing written after a read failure",
         [](ChangeResult& r) { applyFailure(r, ApplyOutcome::NothingWritten, ApplyStep::ReadFailed); }, L"", 0, 1,
         L"The serial couldn't be changed" + kNoTextSuffix + L". No changes were written. Your drive is unchanged.",
         {}},
        {"rolled back",
         [](ChangeResult& r) { applyFailure(r, ApplyOutcome::RolledBack, ApplyStep::WriteFailed); }, kBackup, 0, 7,
         L"The serial couldn't be changed" + kNoTextSuffix +
             L". The original boot sector was restored. Your drive is unchanged.",
         {}},
        {"rollback failed with a backup",
         [](ChangeResult& r) { applyFailure(r, ApplyOutcome::RollbackFailed, ApplyStep::VerifyFailed); }, kBackup, 0,
         8,
         L"Something went wrong and the original boot sector couldn't be restored automatically" + kNoTextSuffix +
             L". Don't format the drive.",
         {L"The backup is at " + kBackup, kHint, kSupportLine}},
        {"rollback failed without a backup has no backup or hint line",
         [](ChangeResult& r) { applyFailure(r, ApplyOutcome::RollbackFailed, ApplyStep::WriteFailed); }, L"", 0, 8,
         L"Something went wrong and the original boot sector couldn't be restored automatically" + kNoTextSuffix +
             L". Don't format the drive.",
         {kSupportLine}},
        {"apply stage claiming success is not reported as success",
         [](ChangeResult& r) { applyFailure(r, ApplyOutcome::Success, ApplyStep::None); }, kBackup, 0, 1, kGeneric,
         {}},
        {"failure stage outside the enumeration",
         [](ChangeResult& r) { r.error = static_cast<ApplyFailure>(42); }, L"", 0, 1, kGeneric, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChangeResult result;
        c.setUp(result);
        const OutcomeReport report =
            buildReport(result, kDrive, c.backupPath, kFolder, c.backupError, kHint, Wording::Windows);
        EXPECT_EQ(report.exitCode, c.exitCode);
        EXPECT_EQ(report.message, c.message);
        EXPECT_EQ(report.lines, c.lines);
    }
}

TEST(Report, RollbackFailedWithoutHintKeepsBackupAndSupportLines) {
    ChangeResult result;
    applyFailure(result, ApplyOutcome::RollbackFailed, ApplyStep::WriteFailed);
    const OutcomeReport report = buildReport(result, kDrive, kBackup, kFolder, 0, L"");
    EXPECT_EQ(report.lines, (std::vector<std::wstring>{L"The backup is at " + kBackup, kSupportLine}));
}

TEST(Report, PlanErrorReportMatchesTheReportOfThePlanStage) {
    for (int value = 0; value <= 8; ++value) {
        SCOPED_TRACE(value);
        ChangeResult result = planFailure(static_cast<PlanError>(value));
        result.systemError = kNoText;
        const OutcomeReport viaBuild = buildReport(result, kDrive, kBackup, kFolder, 0, kHint);
        const OutcomeReport direct = planErrorReport(result, kDrive);
        EXPECT_EQ(viaBuild.exitCode, direct.exitCode);
        EXPECT_EQ(viaBuild.message, direct.message);
        EXPECT_TRUE(direct.lines.empty());
    }
}

TEST(Report, ErrorTextsFallBackToTheNumber) {
    EXPECT_EQ(errorText(123456), L"Error 123456.");
    EXPECT_EQ(errorSuffix(0), L"");
    EXPECT_EQ(errorSuffix(123456), L" (Error 123456)");
    EXPECT_EQ(errorSuffix(5), L" (" + withoutPeriod(errorText(5)) + L")");
    EXPECT_FALSE(errorSuffix(5).ends_with(L".)")) << "a system text's own period is not kept inside the brackets";
    EXPECT_FALSE(errorText(5).empty());
    EXPECT_NE(errorText(5), L"Error 5.");
}

TEST(Report, ConfirmationAndWarnings) {
    EXPECT_EQ(confirmationText(L"E:", L"FAT32", L"1A2B-3C4D", L"1234-ABCD"),
              L"This will change the Volume Serial Number of E: (FAT32) from 1A2B-3C4D to 1234-ABCD. A backup of the "
              L"boot sector will be saved first so you can revert. Make sure no other program is using this drive.");
    EXPECT_EQ(systemDriveWarning(L"C:", Wording::Windows),
              L"C: is your Windows drive. The new serial takes effect after you restart.");
    EXPECT_EQ(windowsDriveWarning(L"C:"), systemDriveWarning(L"C:", platformWording()));
    EXPECT_EQ(efiPartitionWarning(L"\\\\?\\Volume{x}\\"),
              L"\\\\?\\Volume{x}\\ is the EFI system partition, which your computer starts from. Windows doesn't use "
              L"its serial, but another operating system on this computer (Linux, for example) may find it by its "
              L"serial and fail to start until the old serial is restored.");
    EXPECT_EQ(bitLockerWarning(L"F:"), L"F: is protected by BitLocker. The serial is written through BitLocker. Your "
                                       L"encryption is not affected.");
}

// The Linux build speaks of mounting and fsck where Windows speaks of restarting and chkdsk; the sentences
// that carry no platform words are the same.
TEST(Report, LinuxWording) {
    ChangeResult inPlace;
    success(inPlace, 8, 0x11112222, 0x33334444);
    inPlace.mode = WriteMode::InPlace;
    inPlace.restartRequired = true;
    EXPECT_EQ(buildReport(inPlace, L"/mnt/win", kBackup, kFolder, 0, kHint, Wording::Linux).lines,
              (std::vector<std::wstring>{L"A boot-sector backup was saved to " + kBackup,
                                         L"/mnt/win is mounted. The new serial has been written and takes effect when "
                                         L"the volume is mounted again."}));

    struct Advice { FsType fs; std::wstring command; };
    const std::vector<Advice> advice = {{FsType::Unknown, L"fsck.exfat /dev/sdb1"}, {FsType::exFAT, L"fsck.exfat /dev/sdb1"},
                                        {FsType::FAT12, L"fsck.fat /dev/sdb1"},     {FsType::FAT32, L"fsck.fat /dev/sdb1"},
                                        {FsType::NTFS, L"ntfsfix /dev/sdb1"}};
    for (const Advice& a : advice) {
        SCOPED_TRACE(toUtf8(a.command));
        ChangeResult damaged = planFailure(PlanError::ChecksumDamaged);
        damaged.plan.fsType = a.fs;
        const OutcomeReport report = buildReport(damaged, L"/dev/sdb1", L"", kFolder, 0, kHint, Wording::Linux);
        EXPECT_EQ(report.exitCode, 1);
        EXPECT_EQ(report.message, L"The boot region of /dev/sdb1 is already damaged (its checksum doesn't match), so "
                                  L"it wasn't touched. Run \"" + a.command + L"\" first.");
        EXPECT_EQ(planErrorReport(damaged, L"/dev/sdb1", Wording::Linux).message, report.message);
    }
    ChangeResult denied;
    denied.error = ApplyFailure::OpenFailed;
    denied.systemError = 5;
    const OutcomeReport root = buildReport(denied, L"/dev/sdb1", L"", kFolder, 0, kHint, Wording::Linux);
    EXPECT_EQ(root.exitCode, 3);
    EXPECT_EQ(root.message, L"Changing a serial requires root rights.");
    EXPECT_EQ(systemDriveWarning(L"/", Wording::Linux),
              L"/ is your system drive. The new serial takes effect when the volume is mounted again.");
    EXPECT_EQ(repairCommand(L"E:", FsType::FAT32, Wording::Windows), L"chkdsk E: /f");
}

}  // namespace
}  // namespace tlx
