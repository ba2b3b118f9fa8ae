// Restoring a backup's serial and writing saved boot sectors back, over a fake volume.
#include "engine/restore.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "backup/backup_file.h"
#include "engine/fake_volumes.h"
#include "engine/result_checks.h"
#include "engine/volume_images.h"

namespace tlx {
namespace {

using test::ExpectedResult;
using test::FakeVolumes;
using test::RecordingSink;

constexpr std::uint32_t kSavedSerial = 0x1A2B3C4D;  // the serial the saved sectors carry
constexpr std::uint32_t kLaterSerial = 0x0000BEEF;  // the serial the change gave the volume
constexpr VolumeSerial kSavedNtfs = 0x0123456789ABCDEFull;
constexpr VolumeSerial kLaterNtfs = 0x77777777BEEF0000ull;

struct SavedRegion {
    BootRegion kind;
    std::uint64_t firstSector;
    std::uint32_t sectorCount;
};

// The backup a change from kSaved* to kLater* would have written, taken from the image before it.
BootSectorBackup backupOf(const std::vector<std::uint8_t>& saved, FsType fsType, std::uint32_t serialBytes,
                          VolumeSerial oldSerial, VolumeSerial newSerial, std::vector<SavedRegion> regions) {
    BootSectorBackup backup;
    backup.volume = test::kVolumeName;
    backup.fsType = fsType;
    backup.bytesPerSector = 512;
    backup.deviceSector = 512;
    backup.volumeSectors = fsType == FsType::NTFS ? test::kNtfsTotalSectors : fsType == FsType::exFAT ? 4096 : 100000;
    backup.serialBytes = serialBytes;
    backup.oldSerial = oldSerial;
    backup.newSerial = newSerial;
    backup.created = "2026-12-01T10:00:00Z";
    backup.app = "3.0.2";
    for (const SavedRegion& r : regions) {
        const auto at = saved.begin() + static_cast<std::ptrdiff_t>(r.firstSector * 512);
        backup.regions.push_back({r.kind, r.firstSector, r.sectorCount, {at, at + r.sectorCount * 512}});
    }
    return backup;
}

enum class Volume { Fat32, ExFat, Ntfs };

const std::vector<std::uint8_t>& savedImage(Volume volume) {
    static const auto fat32 = test::fat32Image(kSavedSerial);
    static const auto exfat = test::exfatImage(kSavedSerial);
    static const auto ntfs = test::ntfsImage(kSavedNtfs);
    return volume == Volume::Fat32 ? fat32 : volume == Volume::ExFat ? exfat : ntfs;
}

std::vector<std::uint8_t> changedImage(Volume volume) {
    const auto& saved = savedImage(volume);
    switch (volume) {
    case Volume::Fat32: return test::withSerialAt(saved, {0, 6 * 512}, 67, kLaterSerial, 4);
    case Volume::ExFat: return test::exfatWithSerial(saved, kLaterSerial);
    case Volume::Ntfs: return test::withSerialAt(saved, {0, test::kNtfsTotalSectors * 512}, 72, kLaterNtfs, 8);
    }
    return {};
}

BootSectorBackup backupFor(Volume volume) {
    const auto& saved = savedImage(volume);
    switch (volume) {
    case Volume::Fat32:
        return backupOf(saved, FsType::FAT32, 4, kSavedSerial, kLaterSerial,
                        {{BootRegion::BackupBootSector, 6, 1}, {BootRegion::BootSector, 0, 1}});
    case Volume::ExFat:
        return backupOf(saved, FsType::exFAT, 4, kSavedSerial, kLaterSerial,
                        {{BootRegion::ExFatBackupRegion, 12, 12}, {BootRegion::ExFatMainRegion, 0, 12}});
    case Volume::Ntfs:
        return backupOf(saved, FsType::NTFS, 8, kSavedNtfs, kLaterNtfs,
                        {{BootRegion::BackupBootSector, test::kNtfsTotalSectors, 1}, {BootRegion::BootSector, 0, 1}});
    }
    return {};
}

using Edit = std::function<void(std::vector<std::uint8_t>&)>;
using BackupEdit = std::function<void(BootSectorBackup&)>;

struct RawCase {
    const char* name;
    Volume volume;
    Edit current;  // applied to the changed image; null: the volume as the change left it
    BackupEdit tweak;
    bool force;
    test::VolumeSetup setup;
    ExpectedResult expect;
    bool restored;  // the volume ends as saved; otherwise as it was
    bool saved;
};

const std::vector<RawCase>& rawCases() {
    const auto zeroBootSector = [](std::vector<std::uint8_t>& bytes) {
        std::fill(bytes.begin(), bytes.begin() + 512, 0);
    };
    // Every backup here lists its copy first.
    const auto dropCopy = [](BootSectorBackup& backup) { backup.regions.erase(backup.regions.begin()); };
    static const std::vector<RawCase> cases = {
        {"FAT32 after a change", Volume::Fat32, nullptr, nullptr, false, {},
         {.fsType = FsType::FAT32, .oldSerial = kLaterSerial, .newSerial = kSavedSerial, .regions = 2}, true, true},
        {"exFAT after a change, checksum sectors too", Volume::ExFat, nullptr, nullptr, false, {},
         {.fsType = FsType::exFAT, .oldSerial = kLaterSerial, .newSerial = kSavedSerial, .regions = 2}, true, true},
        {"NTFS after a change", Volume::Ntfs, nullptr, nullptr, false, {},
         {.fsType = FsType::NTFS, .oldSerial = kLaterNtfs, .newSerial = kSavedNtfs, .regions = 2}, true, true},
        {"only the backup copy differs", Volume::Fat32,
         [](auto& bytes) { test::putLE(bytes, 67, kSavedSerial, 4); }, nullptr, false, {},
         {.fsType = FsType::FAT32, .oldSerial = kSavedSerial, .newSerial = kSavedSerial, .regions = 1}, true, true},
        {"already restored", Volume::Fat32,
         [](auto& bytes) { bytes = savedImage(Volume::Fat32); }, nullptr, true, {},
         {.error = ApplyFailure::Plan, .planError = PlanError::NothingToRestore}, true, false},
        {"zeroed boot sector without force", Volume::Fat32, zeroBootSector, nullptr, false, {},
         {.error = ApplyFailure::BackupMismatch, .match = 2}, false, false},
        {"zeroed boot sector with force", Volume::Fat32, zeroBootSector, nullptr, true, {},
         {.match = 2, .fsType = FsType::FAT32, .oldSerial = kLaterSerial, .newSerial = kSavedSerial, .regions = 2},
         true, true},
        {"unreadable first read does not stop a recovery", Volume::Fat32, nullptr, nullptr, false,
         {.failFirstRead = true},
         {.fsType = FsType::FAT32, .oldSerial = kLaterSerial, .newSerial = kSavedSerial, .regions = 2}, true, true},
        {"another volume, even with force", Volume::Fat32, [](auto& bytes) { bytes[13] = 16; }, nullptr, true, {},
         {.error = ApplyFailure::BackupMismatch, .match = 1}, false, false},
        {"zeroed boot sector, the volume's copy of another cluster size, with force", Volume::Fat32,
         [&](auto& bytes) {
             zeroBootSector(bytes);
             bytes[6 * 512 + 13] = 1;
         },
         nullptr, true, {}, {.error = ApplyFailure::BackupMismatch, .match = 1}, false, false},
        {"zeroed main region, the volume's backup region of another cluster size, with force", Volume::ExFat,
         [&](auto& bytes) {
             zeroBootSector(bytes);
             bytes[12 * 512 + 109] += 3;
         },
         nullptr, true, {}, {.error = ApplyFailure::BackupMismatch, .match = 1}, false, false},
        {"exFAT backup region whose checksum sector was torn is written back", Volume::ExFat,
         [](auto& bytes) { bytes[23 * 512] ^= 1; }, nullptr, false, {},
         {.fsType = FsType::exFAT, .oldSerial = kLaterSerial, .newSerial = kSavedSerial, .regions = 2}, true, true},
        {"FAT32 copy over the FSInfo sector its backup field names, with force", Volume::Fat32,
         [](auto& bytes) {
             test::putLE(bytes, 50, 1, 2);
             std::fill(bytes.begin() + 512, bytes.begin() + 1024, std::uint8_t{0x52});
         },
         [](BootSectorBackup& backup) {
             for (BackupRegion& region : backup.regions) test::putLE(region.bytes, 50, 1, 2);
             backup.regions[0].firstSector = 1;
         },
         true, {}, {.error = ApplyFailure::BackupMismatch, .match = 1}, false, false},
        {"backup boot sector position altered, with force", Volume::Fat32, nullptr,
         [](BootSectorBackup& backup) { backup.regions[0].firstSector = 7; }, true, {},
         {.error = ApplyFailure::BackupMismatch, .match = 1}, false, false},
        {"main boot sector position altered, with force", Volume::Fat32, nullptr,
         [](BootSectorBackup& backup) { backup.regions[1].firstSector = 1; }, true, {},
         {.error = ApplyFailure::BackupMismatch, .match = 1}, false, false},
        {"exFAT region length altered, with force", Volume::ExFat, nullptr,
         [](BootSectorBackup& backup) {
             backup.regions[0].sectorCount = 11;
             backup.regions[0].bytes.resize(11 * 512);
         },
         true, {}, {.error = ApplyFailure::BackupMismatch, .match = 1}, false, false},
        {"header names another file system, with force", Volume::Fat32, nullptr,
         [](BootSectorBackup& backup) { backup.fsType = FsType::NTFS; }, true, {},
         {.error = ApplyFailure::BackupMismatch, .match = 1}, false, false},
        {"header sector size other than its boot sector's, with force", Volume::ExFat, nullptr,
         [](BootSectorBackup& backup) { backup.bytesPerSector = 1024; }, true, {},
         {.error = ApplyFailure::BackupMismatch, .match = 1}, false, false},
        {"NTFS length and copy moved into the MFT, with force", Volume::Ntfs, nullptr,
         [](BootSectorBackup& backup) {
             backup.volumeSectors = 32;
             backup.regions[0].firstSector = 32;
             backup.regions[0].bytes.assign(512, 0xEE);
         },
         true, {}, {.error = ApplyFailure::BackupMismatch, .match = 1}, false, false},
        {"NTFS copy that is no boot sector, with force", Volume::Ntfs, nullptr,
         [](BootSectorBackup& backup) { backup.regions[0].bytes.assign(512, 0xEE); }, true, {},
         {.error = ApplyFailure::BackupMismatch, .match = 1}, false, false},
        {"exFAT main region differs past its first sector, with force", Volume::ExFat,
         [](auto& bytes) { bytes[5 * 512 + 7] ^= 0x5A; }, nullptr, true, {},
         {.error = ApplyFailure::BackupMismatch, .match = 1}, false, false},
        {"exFAT main region saved with a broken checksum, with force", Volume::ExFat, nullptr,
         [](BootSectorBackup& backup) { backup.regions[1].bytes[11 * 512] ^= 1; }, true, {},
         {.error = ApplyFailure::BackupMismatch, .match = 1}, false, false},
        {"backup from a 4096-byte-sector device", Volume::Fat32, nullptr,
         [](BootSectorBackup& backup) { backup.deviceSector = 4096; }, true, {},
         {.error = ApplyFailure::BackupMismatch, .match = 1}, false, false},
        {"FAT32 backup without the copy the volume holds, with force", Volume::Fat32, nullptr, dropCopy, true, {},
         {.error = ApplyFailure::BackupMismatch, .match = 1}, false, false},
        {"NTFS backup without the copy the volume holds, with force", Volume::Ntfs, nullptr, dropCopy, true, {},
         {.error = ApplyFailure::BackupMismatch, .match = 1}, false, false},
        {"exFAT backup without the region the volume holds, with force", Volume::ExFat, nullptr, dropCopy, true, {},
         {.error = ApplyFailure::BackupMismatch, .match = 1}, false, false},
        {"FAT32 backup without a copy, the volume's copy no boot sector", Volume::Fat32,
         [](auto& bytes) { std::fill(bytes.begin() + 6 * 512, bytes.begin() + 7 * 512, 0); }, dropCopy, false, {},
         {.fsType = FsType::FAT32, .oldSerial = kLaterSerial, .newSerial = kSavedSerial, .regions = 1}, true, true},
        {"exFAT backup without a copy, the volume's region checksum broken", Volume::ExFat,
         [](auto& bytes) { bytes[23 * 512] ^= 1; }, dropCopy, false, {},
         {.fsType = FsType::exFAT, .oldSerial = kLaterSerial, .newSerial = kSavedSerial, .regions = 1}, true, true},
        {"NTFS lock refused is never written in place", Volume::Ntfs, nullptr, nullptr, false, {.lockOk = false},
         {.error = ApplyFailure::VolumeInUse, .systemError = 5}, false, false},
        {"FAT32 lock refused", Volume::Fat32, nullptr, nullptr, true, {.lockOk = false},
         {.error = ApplyFailure::VolumeInUse, .systemError = 5}, false, false},
        {"dismount refused", Volume::Fat32, nullptr, nullptr, false, {.dismountOk = false},
         {.error = ApplyFailure::DismountFailed, .systemError = 1117}, false, false},
        {"open without rights", Volume::Fat32, nullptr, nullptr, false, {.openError = 5},
         {.error = ApplyFailure::OpenFailed, .systemError = 5, .encryption = 2}, false, false},
        {"BitLocker header", Volume::Fat32, [](auto& bytes) { test::putText(bytes, 3, "-FVE-FS-"); }, nullptr, true,
         {}, {.error = ApplyFailure::BitLockerLocked}, false, false},
        {"unreadable boot sector on a BitLocker disk", Volume::Fat32, nullptr, nullptr, true,
         {.encryption = DiskEncryption::BitLocker, .failFirstRead = true},
         {.error = ApplyFailure::BitLockerLocked, .encryption = 1}, false, false},
        {"saved region unreadable", Volume::Fat32, nullptr, nullptr, false, {.failReadsAt = 6},
         {.error = ApplyFailure::Plan, .systemError = 1117, .planError = PlanError::ReadFailed}, false, false},
        {"backup refused", Volume::Fat32, nullptr, nullptr, false, {.sinkAccepts = false},
         {.error = ApplyFailure::Apply, .applyOutcome = ApplyOutcome::NothingWritten,
          .applyFailure = ApplyStep::BackupFailed, .fsType = FsType::FAT32, .oldSerial = kLaterSerial,
          .newSerial = kSavedSerial, .regions = 2},
         false, true},
        {"main boot sector write fails and is rolled back", Volume::Fat32, nullptr, nullptr, false, {.failWrite = 2},
         {.error = ApplyFailure::Apply, .systemError = 31, .applyOutcome = ApplyOutcome::RolledBack,
          .applyFailure = ApplyStep::WriteFailed, .applyRegion = 1, .applySystemError = 31,
          .fsType = FsType::FAT32, .oldSerial = kLaterSerial, .newSerial = kSavedSerial, .regions = 2},
         false, true},
    };
    return cases;
}

TEST(RecoverRaw, WholeOutcome) {
    for (const RawCase& c : rawCases()) {
        SCOPED_TRACE(c.name);
        auto current = changedImage(c.volume);
        if (c.current) c.current(current);
        BootSectorBackup backup = backupFor(c.volume);
        if (c.tweak) c.tweak(backup);
        FakeVolumes volumes(512, current);
        test::applySetup(volumes, c.setup);
        RecordingSink sink(c.setup.sinkAccepts, &volumes.memory);

        test::CountingWindow window(volumes.memory);
        const ChangeResult result =
            recoverRaw(volumes, test::volumeNameFor(c.setup), backup, sink, c.force, window);

        test::expectResult(result, c.expect);
        // Restored means every region the backup holds is back as saved; the rest stays as it was.
        std::vector<std::uint8_t> expected = current;
        if (c.restored) {
            for (const BackupRegion& region : backup.regions) {
                const auto from = static_cast<std::ptrdiff_t>(region.firstSector * 512);
                const auto to = static_cast<std::ptrdiff_t>((region.firstSector + region.sectorCount) * 512);
                std::copy(savedImage(c.volume).begin() + from, savedImage(c.volume).begin() + to,
                          expected.begin() + from);
            }
        }
        EXPECT_TRUE(volumes.memory.bytes() == expected);
        if (c.restored && backup.regions.size() == 2) {
            EXPECT_TRUE(volumes.memory.bytes() == savedImage(c.volume));
        }
        EXPECT_EQ(sink.calls, c.saved ? 1u : 0u);
        if (c.saved) {
            // The new backup holds the sectors as they were before this recovery.
            ASSERT_TRUE(sink.seen.has_value());
            EXPECT_EQ(sink.writesBeforeSave, 0u);
            for (const RegionWrite& region : sink.seen->regions) {
                const auto at = current.begin() + static_cast<std::ptrdiff_t>(region.firstSector * 512);
                EXPECT_TRUE(std::equal(region.before.begin(), region.before.end(), at));
            }
            EXPECT_TRUE(sink.seen->notes.empty());
        }
        const bool wrote = result.error == ApplyFailure::None ||
                           (result.error == ApplyFailure::Apply && result.applyOutcome != ApplyOutcome::NothingWritten);
        if (!wrote) {
            EXPECT_EQ(volumes.memory.writes(), 0u);
        }
        EXPECT_EQ(window.enters, wrote ? 1u : 0u);
        EXPECT_EQ(window.leaves, window.enters);
        EXPECT_EQ(window.writesAtEnter, 0u);
        EXPECT_EQ(volumes.lastAccess, DeviceAccess::ReadWrite);
        EXPECT_EQ(volumes.liveHandles, 0u);
        EXPECT_EQ(volumes.closes, result.error == ApplyFailure::OpenFailed ? 0u : 1u);
        if (result.error == ApplyFailure::BitLockerLocked) {
            EXPECT_FALSE(volumes.memory.locked());
        }
    }
}

struct RestoreCase {
    const char* name;
    std::vector<std::uint8_t> current;
    BootSectorBackup backup;
    test::VolumeSetup setup;
    ExpectedResult expect;
    std::vector<std::uint8_t> disk;  // expected afterwards
    bool saved;
};

std::vector<RestoreCase> restoreCases() {
    const auto reformatted = [] {
        auto bytes = test::fat32Image(0x5555AAAA);
        bytes[13] = 16;
        bytes[6 * 512 + 13] = 16;
        return bytes;
    }();
    const auto ntfsOtherHigh = test::ntfsImage(0x7777777711112222ull);
    const auto fat32Changed = changedImage(Volume::Fat32);
    return {
        {"NTFS gets all 64 bits back although the high half differs", ntfsOtherHigh, backupFor(Volume::Ntfs), {},
         {.fsType = FsType::NTFS, .oldSerial = 0x7777777711112222ull, .newSerial = kSavedNtfs, .regions = 2},
         test::withSerialAt(ntfsOtherHigh, {0, test::kNtfsTotalSectors * 512}, 72, kSavedNtfs, 8), true},
        {"FAT32 after a change", fat32Changed, backupFor(Volume::Fat32), {},
         {.fsType = FsType::FAT32, .oldSerial = kLaterSerial, .newSerial = kSavedSerial, .regions = 2},
         savedImage(Volume::Fat32), true},
        {"reformatted volume gets only the serial", reformatted, backupFor(Volume::Fat32), {},
         {.fsType = FsType::FAT32, .oldSerial = 0x5555AAAA, .newSerial = kSavedSerial, .regions = 2},
         test::withSerialAt(reformatted, {0, 6 * 512}, 67, kSavedSerial, 4), true},
        {"volume already has the saved serial", savedImage(Volume::Fat32), backupFor(Volume::Fat32), {},
         {.error = ApplyFailure::Plan, .planError = PlanError::SameSerial}, savedImage(Volume::Fat32), false},
        {"64-bit saved serial on a 32-bit field sets its low half", fat32Changed, backupFor(Volume::Ntfs), {},
         {.fsType = FsType::FAT32, .oldSerial = kLaterSerial, .newSerial = kSavedNtfs & 0xFFFFFFFF, .regions = 2},
         test::withSerialAt(fat32Changed, {0, 6 * 512}, 67, kSavedNtfs & 0xFFFFFFFF, 4), true},
        {"32-bit saved serial on NTFS keeps the volume's high half", ntfsOtherHigh, backupFor(Volume::Fat32), {},
         {.fsType = FsType::NTFS, .oldSerial = 0x7777777711112222ull, .newSerial = 0x777777771A2B3C4Dull, .regions = 2},
         test::withSerialAt(ntfsOtherHigh, {0, test::kNtfsTotalSectors * 512}, 72, 0x777777771A2B3C4Dull, 8), true},
        {"NTFS lock refused is written in place", ntfsOtherHigh, backupFor(Volume::Ntfs), {.lockOk = false},
         {.mode = WriteMode::InPlace, .restartRequired = true, .fsType = FsType::NTFS,
          .oldSerial = 0x7777777711112222ull, .newSerial = kSavedNtfs, .regions = 2},
         test::withSerialAt(ntfsOtherHigh, {0, test::kNtfsTotalSectors * 512}, 72, kSavedNtfs, 8), true},
        {"open without rights", fat32Changed, backupFor(Volume::Fat32), {.openError = 5},
         {.error = ApplyFailure::OpenFailed, .systemError = 5, .encryption = 2}, fat32Changed, false},
    };
}

TEST(RestoreSerial, WholeOutcome) {
    for (const RestoreCase& c : restoreCases()) {
        SCOPED_TRACE(c.name);
        FakeVolumes volumes(512, c.current);
        test::applySetup(volumes, c.setup);
        RecordingSink sink(c.setup.sinkAccepts, &volumes.memory);

        const ChangeResult result = restoreSerial(volumes, test::volumeNameFor(c.setup), c.backup, sink);

        test::expectResult(result, c.expect);
        EXPECT_TRUE(volumes.memory.bytes() == c.disk);
        EXPECT_EQ(sink.calls, c.saved ? 1u : 0u);
        EXPECT_EQ(volumes.liveHandles, 0u);
    }
}

}  // namespace
}  // namespace tlx
