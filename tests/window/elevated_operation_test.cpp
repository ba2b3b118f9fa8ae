// Running a request in process, over a fake volume and a real backups folder.
#include "elevated_operation.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "backup/backup_samples.h"
#include "backup/backup_file.h"
#include "engine/fake_volumes.h"
#include "engine/volume_images.h"

namespace tlx {
namespace {

using test::FakeVolumes;

constexpr std::uint32_t kOriginal = 0x1A2B3C4D;

ElevatedRequest changeTo(VolumeSerial serial, bool full64 = false) {
    ElevatedRequest request;
    request.volume = test::kVolumeName;
    request.serial = serial;
    request.full64 = full64;
    return request;
}

ElevatedRequest restoreFrom(const std::wstring& path, bool raw = false) {
    ElevatedRequest request;
    request.operation = ElevatedOperation::Restore;
    request.volume = test::kVolumeName;
    request.backupFile = path;
    // The file as the user confirmed it: as it is now.
    request.backupDigest = readBackupFile(path).fileDigest.value_or(Sha256Digest{});
    request.raw = raw;
    return request;
}

class RunOperation : public testing::Test {
protected:
    test::TemporaryFolder folder;
    FakeVolumes volumes{512, test::fat32Image(kOriginal)};
    const std::vector<std::uint8_t> original = test::fat32Image(kOriginal);

    // A change to 0000BEEF, whose backup file the restores read.
    std::wstring changeAndKeepBackup() {
        const ElevatedResult changed = runOperation(volumes, changeTo(0xBEEF), folder.wide());
        EXPECT_EQ(changed.change.error, ApplyFailure::None);
        EXPECT_FALSE(changed.backupPath.empty());
        return changed.backupPath;
    }
};

TEST_F(RunOperation, ChangeWritesTheSerialAndReportsTheBackup) {
    const ElevatedResult result = runOperation(volumes, changeTo(0xBEEF), folder.wide());
    EXPECT_TRUE(result.ran);
    EXPECT_FALSE(result.differentVolume);
    EXPECT_EQ(result.change.error, ApplyFailure::None);
    EXPECT_EQ(result.change.plan.oldSerial, kOriginal);
    EXPECT_EQ(result.change.plan.newSerial, 0xBEEFu);
    EXPECT_EQ(result.backupError, 0u);
    EXPECT_EQ(volumes.memory.bytes(), test::withSerialAt(original, {0, 6 * 512}, 67, 0xBEEF, 4));
    const BackupReadResult backup = readBackupFile(result.backupPath);
    ASSERT_EQ(backup.parseError, BackupParseError::None);
    EXPECT_EQ(backup.backup.app, "3.0.1");
    EXPECT_TRUE(std::filesystem::path(result.backupPath).parent_path().parent_path() == folder.path());
}

TEST_F(RunOperation, ChangeKeepsTheUpperHalfUnlessAll64BitsAreAsked) {
    for (const bool full64 : {false, true}) {
        FakeVolumes ntfs(512, test::ntfsImage(0x0123456789ABCDEFull));
        const ElevatedResult result = runOperation(ntfs, changeTo(0x1234ABCD, full64), folder.wide());
        EXPECT_EQ(result.change.error, ApplyFailure::None);
        EXPECT_EQ(result.change.plan.newSerial, full64 ? 0x000000001234ABCDull : 0x012345671234ABCDull);
    }
}

TEST_F(RunOperation, RefusalsStillReportThatTheOperationRan) {
    volumes.openError = 5;
    const ElevatedResult result = runOperation(volumes, changeTo(0xBEEF), folder.wide());
    EXPECT_TRUE(result.ran);
    EXPECT_EQ(result.change.error, ApplyFailure::OpenFailed);
    EXPECT_EQ(result.change.systemError, 5u);
    EXPECT_TRUE(result.backupPath.empty());
    EXPECT_EQ(volumes.memory.bytes(), original);
}

TEST_F(RunOperation, RestoreBringsTheSavedSerialOrSectorsBack) {
    for (const bool raw : {false, true}) {
        const std::wstring backup = changeAndKeepBackup();
        const ElevatedResult result = runOperation(volumes, restoreFrom(backup, raw), folder.wide());
        EXPECT_TRUE(result.ran);
        EXPECT_EQ(result.change.error, ApplyFailure::None);
        EXPECT_EQ(result.parseError, BackupParseError::None);
        EXPECT_FALSE(result.backupPath.empty());
        EXPECT_NE(result.backupPath, backup);
        EXPECT_EQ(volumes.memory.bytes(), original);
    }
}

TEST_F(RunOperation, TheBackupReportedIsTheFileWritten) {
    const ElevatedResult result = runOperation(volumes, changeTo(0xBEEF), folder.wide());
    ASSERT_FALSE(result.backupPath.empty());
    const std::vector<std::uint8_t> written = test::readBytes(std::filesystem::path(result.backupPath));
    EXPECT_EQ(result.backupDigest, sha256(written));
}

TEST_F(RunOperation, ABackupFileChangedAfterItWasConfirmedIsNotUsed) {
    const std::wstring confirmed = changeAndKeepBackup();
    const std::vector<std::uint8_t> before = volumes.memory.bytes();
    // Another backup, valid in every way, put in its place after the user said yes.
    FakeVolumes other(512, test::fat32Image(0x11112222));
    const ElevatedResult otherChange = runOperation(other, changeTo(0x3333), folder.wide());
    ASSERT_FALSE(otherChange.backupPath.empty());
    const std::vector<std::uint8_t> confirmedBytes = test::readBytes(std::filesystem::path(confirmed));
    for (const bool raw : {false, true}) {
        test::writeBytes(std::filesystem::path(confirmed), confirmedBytes);
        const ElevatedRequest request = restoreFrom(confirmed, raw);
        std::filesystem::copy_file(otherChange.backupPath, confirmed, std::filesystem::copy_options::overwrite_existing);
        const unsigned opens = volumes.opens;
        const ElevatedResult result = runOperation(volumes, request, folder.wide());
        EXPECT_TRUE(result.ran);
        EXPECT_EQ(result.parseError, BackupParseError::ChecksumMismatch);
        EXPECT_EQ(volumes.opens, opens);
        EXPECT_TRUE(result.backupPath.empty());
        EXPECT_FALSE(readRequestedBackup(request));
        EXPECT_EQ(volumes.memory.bytes(), before);
    }
}

TEST_F(RunOperation, AnUnusableBackupFileEndsTheRun) {
    const auto path = folder.path() / "damaged.tlxbak";
    test::writeBytes(path, {'T', 'L', 'X', 'B', 'A', 'D', '\n'});
    for (const bool raw : {false, true}) {
        const unsigned opens = volumes.opens;
        const ElevatedResult result = runOperation(volumes, restoreFrom(path.wstring(), raw), folder.wide());
        EXPECT_TRUE(result.ran);
        EXPECT_EQ(result.parseError, BackupParseError::BadMagic);
        EXPECT_EQ(volumes.opens, opens);
        EXPECT_TRUE(result.backupPath.empty());
    }
    EXPECT_EQ(volumes.memory.bytes(), original);
}

TEST_F(RunOperation, ABackupOfAnotherVolumeIsRefusedUntilTheCheckIsSkipped) {
    FakeVolumes other(512, test::fat16Image(0x55556666));
    const ElevatedResult otherChange = runOperation(other, changeTo(0x7777), folder.wide());
    ASSERT_FALSE(otherChange.backupPath.empty());

    ElevatedRequest request = restoreFrom(otherChange.backupPath);
    const ElevatedResult refused = runOperation(volumes, request, folder.wide());
    EXPECT_TRUE(refused.ran);
    EXPECT_TRUE(refused.differentVolume);
    EXPECT_EQ(refused.change.error, ApplyFailure::None);
    EXPECT_TRUE(refused.backupPath.empty());
    EXPECT_EQ(volumes.liveHandles, 0u);
    EXPECT_EQ(volumes.memory.bytes(), original);

    request.skipVolumeCheck = true;
    const ElevatedResult restored = runOperation(volumes, request, folder.wide());
    EXPECT_FALSE(restored.differentVolume);
    EXPECT_EQ(restored.change.error, ApplyFailure::None);
    EXPECT_EQ(restored.change.plan.newSerial, 0x55556666u);

    // Raw recovery never takes another volume's sectors, and says so itself.
    const ElevatedResult raw = runOperation(volumes, restoreFrom(otherChange.backupPath, true), folder.wide());
    EXPECT_FALSE(raw.differentVolume);
    EXPECT_EQ(raw.change.error, ApplyFailure::BackupMismatch);
    EXPECT_EQ(raw.change.match, 1);
}

TEST_F(RunOperation, AVolumeThatDoesNotOpenForTheCheckIsLeftToTheOperation) {
    const std::wstring backup = changeAndKeepBackup();
    volumes.openError = 21;
    const ElevatedResult result = runOperation(volumes, restoreFrom(backup), folder.wide());
    EXPECT_FALSE(result.differentVolume);
    EXPECT_EQ(result.change.error, ApplyFailure::OpenFailed);
    EXPECT_EQ(result.change.systemError, 21u);
}

}  // namespace
}  // namespace tlx
