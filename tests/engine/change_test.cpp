// The change operation end to end over a fake volume: refusals, preparation, planning and applying.
#include "engine/change.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "bootsector/plan.h"
#include "engine/fake_volumes.h"
#include "engine/result_checks.h"
#include "engine/volume_images.h"

namespace tlx {
namespace {

using test::ExpectedResult;
using test::FakeVolumes;
using test::RecordingSink;

constexpr std::uint32_t kFatSerial = 0x1A2B3C4D;
constexpr VolumeSerial kNtfsSerial = 0x0123456789ABCDEFull;

enum class Image { Fat16, Fat32, ExFat, Ntfs, Zeros, BitLockerHeader };

std::vector<std::uint8_t> makeImage(Image image) {
    switch (image) {
    case Image::Fat16: return test::fat16Image(kFatSerial);
    case Image::Fat32: return test::fat32Image(kFatSerial);
    case Image::ExFat: return test::exfatImage(kFatSerial);
    case Image::Ntfs: return test::ntfsImage(kNtfsSerial);
    case Image::Zeros: {
        auto bytes = test::fat32Image(kFatSerial);
        std::fill(bytes.begin(), bytes.begin() + 512, 0);
        return bytes;
    }
    case Image::BitLockerHeader: {
        auto bytes = test::fat32Image(kFatSerial);
        test::putText(bytes, 3, "-FVE-FS-");
        return bytes;
    }
    }
    return {};
}

using DiskAfter = std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>&)>;

DiskAfter fatSerial(std::vector<std::size_t> copies, std::size_t offset, std::uint32_t serial) {
    return [=](const std::vector<std::uint8_t>& original) {
        return test::withSerialAt(original, copies, offset, serial, 4);
    };
}

DiskAfter ntfsSerial(VolumeSerial serial) {
    return [=](const std::vector<std::uint8_t>& original) {
        return test::withSerialAt(original, {0, test::kNtfsTotalSectors * 512}, 72, serial, 8);
    };
}

struct ChangeCase {
    const char* name;
    Image image;
    VolumeSerial newSerial;
    bool keepHighHalf;
    test::VolumeSetup setup;
    ExpectedResult expect;
    DiskAfter disk;  // null: the volume is unchanged
    bool saved;
    bool alterFirstRegion = false;  // between planning and the engine's next read of the device
};

const std::vector<ChangeCase>& changeCases() {
    static const std::vector<ChangeCase> cases = {
        {"FAT16", Image::Fat16, 0xBEEF, false, {},
         {.fsType = FsType::FAT16, .oldSerial = kFatSerial, .newSerial = 0xBEEF, .regions = 1},
         fatSerial({0}, 39, 0xBEEF), true},
        {"FAT32 with its backup boot sector", Image::Fat32, 0xBEEF, true, {},
         {.fsType = FsType::FAT32, .oldSerial = kFatSerial, .newSerial = 0xBEEF, .regions = 2},
         fatSerial({0, 6 * 512}, 67, 0xBEEF), true},
        {"exFAT with both regions", Image::ExFat, 0xCAFE0042, false, {},
         {.fsType = FsType::exFAT, .oldSerial = kFatSerial, .newSerial = 0xCAFE0042, .regions = 2},
         [](const auto& original) { return test::exfatWithSerial(original, 0xCAFE0042); }, true},
        {"NTFS 32 bits keep the high half", Image::Ntfs, 0xBEEF0001, true, {},
         {.fsType = FsType::NTFS, .oldSerial = kNtfsSerial, .newSerial = 0x01234567BEEF0001ull, .regions = 2},
         ntfsSerial(0x01234567BEEF0001ull), true},
        {"NTFS 32 bits without keeping clear the high half", Image::Ntfs, 0xBEEF0001, false, {},
         {.fsType = FsType::NTFS, .oldSerial = kNtfsSerial, .newSerial = 0xBEEF0001, .regions = 2},
         ntfsSerial(0xBEEF0001), true},
        {"NTFS full 64 bits", Image::Ntfs, 0xFEDCBA9876543210ull, false, {},
         {.fsType = FsType::NTFS, .oldSerial = kNtfsSerial, .newSerial = 0xFEDCBA9876543210ull, .regions = 2},
         ntfsSerial(0xFEDCBA9876543210ull), true},
        {"NTFS lock refused is written in place", Image::Ntfs, 0x11112222, true, {.lockOk = false},
         {.mode = WriteMode::InPlace, .restartRequired = true, .fsType = FsType::NTFS, .oldSerial = kNtfsSerial,
          .newSerial = 0x0123456711112222ull, .regions = 2},
         ntfsSerial(0x0123456711112222ull), true},
        {"unlocked BitLocker volume is changed through it", Image::Fat32, 0xBEEF, false,
         {.encryption = DiskEncryption::BitLocker},
         {.encryption = 1, .fsType = FsType::FAT32, .oldSerial = kFatSerial, .newSerial = 0xBEEF, .regions = 2},
         fatSerial({0, 6 * 512}, 67, 0xBEEF), true},
        {"probe without answer does not stop the change", Image::Fat16, 0xBEEF, false,
         {.encryption = DiskEncryption::Undetermined},
         {.encryption = 2, .fsType = FsType::FAT16, .oldSerial = kFatSerial, .newSerial = 0xBEEF, .regions = 1},
         fatSerial({0}, 39, 0xBEEF), true},
        {"NTFS lock held by another writer is never written beside it", Image::Ntfs, 0x11112222, true,
         {.lockOk = false, .mountedInUse = false},
         {.error = ApplyFailure::VolumeInUse, .systemError = 5}, nullptr, false},
        {"open refused by another writer's hold is in use", Image::Ntfs, 0x11112222, true, {.openError = 32},
         {.error = ApplyFailure::VolumeInUse, .systemError = 32, .encryption = 2}, nullptr, false},
        {"FAT32 lock refused", Image::Fat32, 0xBEEF, false, {.lockOk = false},
         {.error = ApplyFailure::VolumeInUse, .systemError = 5}, nullptr, false},
        {"FAT16 lock refused", Image::Fat16, 0xBEEF, false, {.lockOk = false},
         {.error = ApplyFailure::VolumeInUse, .systemError = 5}, nullptr, false},
        {"exFAT lock refused", Image::ExFat, 0xBEEF, false, {.lockOk = false},
         {.error = ApplyFailure::VolumeInUse, .systemError = 5}, nullptr, false},
        {"dismount refused", Image::Fat16, 0xBEEF, false, {.dismountOk = false},
         {.error = ApplyFailure::DismountFailed, .systemError = 1117}, nullptr, false},
        {"open without rights", Image::Fat16, 0xBEEF, false, {.openError = 5},
         {.error = ApplyFailure::OpenFailed, .systemError = 5, .encryption = 2}, nullptr, false},
        {"no such volume", Image::Fat16, 0xBEEF, false, {.wrongName = true},
         {.error = ApplyFailure::OpenFailed, .systemError = 2, .encryption = 2}, nullptr, false},
        {"BitLocker header through the volume", Image::BitLockerHeader, 0xBEEF, false,
         {.encryption = DiskEncryption::BitLocker},
         {.error = ApplyFailure::BitLockerLocked, .encryption = 1}, nullptr, false},
        {"BitLocker header while the probe has no answer", Image::BitLockerHeader, 0xBEEF, false,
         {.encryption = DiskEncryption::Undetermined},
         {.error = ApplyFailure::BitLockerLocked, .encryption = 2}, nullptr, false},
        {"unreadable boot sector on a BitLocker disk", Image::Fat32, 0xBEEF, false,
         {.encryption = DiskEncryption::BitLocker, .failFirstRead = true},
         {.error = ApplyFailure::BitLockerLocked, .systemError = 1117, .encryption = 1}, nullptr, false},
        {"unreadable boot sector", Image::Fat32, 0xBEEF, false, {.failFirstRead = true},
         {.error = ApplyFailure::Plan, .systemError = 1117, .planError = PlanError::ReadFailed}, nullptr, false},
        {"unreadable boot sector, probe without answer", Image::Fat32, 0xBEEF, false,
         {.encryption = DiskEncryption::Undetermined, .failFirstRead = true},
         {.error = ApplyFailure::Plan, .systemError = 1117, .planError = PlanError::ReadFailed, .encryption = 2},
         nullptr, false},
        {"unrecognised boot sector", Image::Zeros, 0xBEEF, false, {},
         {.error = ApplyFailure::Plan, .planError = PlanError::NotRecognised, .detect = DetectStatus::NoSignature},
         nullptr, false},
        {"same serial", Image::Fat16, kFatSerial, false, {},
         {.error = ApplyFailure::Plan, .planError = PlanError::SameSerial}, nullptr, false},
        {"NTFS same low half with the high half kept", Image::Ntfs, 0x89ABCDEF, true, {},
         {.error = ApplyFailure::Plan, .planError = PlanError::SameSerial}, nullptr, false},
        {"exFAT value wider than 32 bits", Image::ExFat, 0x100000000ull, false, {},
         {.error = ApplyFailure::Plan, .planError = PlanError::SerialTooWide}, nullptr, false},
        {"FAT32 changed between planning and applying", Image::Fat32, 0xBEEF, false, {},
         {.error = ApplyFailure::Apply, .applyOutcome = ApplyOutcome::NothingWritten,
          .applyFailure = ApplyStep::Changed, .fsType = FsType::FAT32, .oldSerial = kFatSerial,
          .newSerial = 0xBEEF, .regions = 2},
         [](const auto& original) {
             auto bytes = original;
             bytes[6 * 512 + 300] ^= 0x5A;
             return bytes;
         },
         // The volume is locked and planning read it just now, so the backup is saved before the
         // comparison right before the first write finds the change.
         true, true},
        {"backup refused", Image::ExFat, 0xBEEF, false, {.sinkAccepts = false},
         {.error = ApplyFailure::Apply, .applyOutcome = ApplyOutcome::NothingWritten,
          .applyFailure = ApplyStep::BackupFailed, .fsType = FsType::exFAT, .oldSerial = kFatSerial,
          .newSerial = 0xBEEF, .regions = 2},
         nullptr, true},
        {"main boot sector write fails and is rolled back", Image::Fat32, 0xBEEF, false, {.failWrite = 2},
         {.error = ApplyFailure::Apply, .systemError = 31, .applyOutcome = ApplyOutcome::RolledBack,
          .applyFailure = ApplyStep::WriteFailed, .applyRegion = 1, .applySystemError = 31,
          .fsType = FsType::FAT32, .oldSerial = kFatSerial, .newSerial = 0xBEEF, .regions = 2},
         nullptr, true},
        {"in place write fails and is rolled back", Image::Ntfs, 0xBEEF, false, {.lockOk = false, .failWrite = 1},
         {.error = ApplyFailure::Apply, .systemError = 31, .mode = WriteMode::InPlace,
          .applyOutcome = ApplyOutcome::RolledBack, .applyFailure = ApplyStep::WriteFailed,
          .applySystemError = 31, .fsType = FsType::NTFS, .oldSerial = kNtfsSerial, .newSerial = 0xBEEF,
          .regions = 2},
         nullptr, true},
    };
    return cases;
}

// How many reads planning makes on this image, so a test can act on the engine's first read after it.
unsigned planningReads(const std::vector<std::uint8_t>& image, VolumeSerial newSerial) {
    MemoryDevice copy(512, image);
    (void)planChange(copy, newSerial);
    return copy.reads();
}

TEST(ChangeSerial, WholeOutcome) {
    for (const ChangeCase& c : changeCases()) {
        SCOPED_TRACE(c.name);
        const auto original = makeImage(c.image);
        FakeVolumes volumes(512, original);
        test::applySetup(volumes, c.setup);
        if (c.alterFirstRegion)
            volumes.fault.beforeRead(1 + planningReads(original, c.newSerial) + 1,
                                     [&] { volumes.memory.bytes()[6 * 512 + 300] ^= 0x5A; });
        RecordingSink sink(c.setup.sinkAccepts, &volumes.memory);

        test::CountingWindow window(volumes.memory);
        const ChangeResult result =
            changeSerial(volumes, test::volumeNameFor(c.setup), c.newSerial, c.keepHighHalf, sink, window);

        test::expectResult(result, c.expect);
        const auto expected = c.disk ? c.disk(original) : original;
        EXPECT_TRUE(volumes.memory.bytes() == expected);
        EXPECT_EQ(sink.calls, c.saved ? 1u : 0u);
        if (c.saved) {
            ASSERT_TRUE(sink.seen.has_value());
            EXPECT_EQ(sink.writesBeforeSave, 0u);
            for (const RegionWrite& region : sink.seen->regions) {
                const auto at = original.begin() + static_cast<std::ptrdiff_t>(region.firstSector * 512);
                EXPECT_TRUE(std::equal(region.before.begin(), region.before.end(), at));
            }
        }
        // Writes happen only in an apply that got past its pre-check and backup.
        const bool wrote = result.error == ApplyFailure::None ||
                           (result.error == ApplyFailure::Apply && result.applyOutcome != ApplyOutcome::NothingWritten);
        if (!wrote) {
            EXPECT_EQ(volumes.memory.writes(), 0u);
        }
        // Held exactly around the writes: entered before the first one, left after the last.
        EXPECT_EQ(window.enters, wrote ? 1u : 0u);
        EXPECT_EQ(window.leaves, window.enters);
        EXPECT_EQ(window.writesAtEnter, 0u);

        EXPECT_EQ(volumes.opens, 1u);
        EXPECT_EQ(volumes.lastAccess, DeviceAccess::ReadWrite);
        EXPECT_EQ(volumes.liveHandles, 0u);  // destroyed on every path
        const bool opened = c.setup.openError == 0 && !c.setup.wrongName;
        EXPECT_EQ(volumes.closes, opened ? 1u : 0u);
        EXPECT_EQ(volumes.probes, opened ? 1u : 0u);
        // A refused lock reads nothing beyond the first boot-sector read; refusals of what was read
        // come before the lock is taken.
        if (result.error == ApplyFailure::VolumeInUse) {
            EXPECT_EQ(volumes.fault.reads(), opened ? 1u : 0u);
        }
        const bool refusedOnFirstRead =
            result.error == ApplyFailure::BitLockerLocked ||
            (result.error == ApplyFailure::Plan &&
             (result.planError == PlanError::ReadFailed || result.planError == PlanError::NotRecognised));
        if (refusedOnFirstRead || !opened) {
            EXPECT_FALSE(volumes.memory.locked());
            EXPECT_LE(volumes.fault.reads(), 1u);
        }
    }
}

// The lock is refused on an NTFS volume, and by the time the plan re-reads the boot sector the
// volume holds another file system: only NTFS may ever be written without the lock.
TEST(ChangeSerial, InPlaceNeedsNtfsAtPlanningToo) {
    struct Case {
        const char* name;
        Image becomes;
        ApplyFailure error;
        WriteMode mode;
    };
    const Case cases[] = {
        {"FAT16", Image::Fat16, ApplyFailure::VolumeInUse, WriteMode::Locked},
        {"FAT32", Image::Fat32, ApplyFailure::VolumeInUse, WriteMode::Locked},
        {"exFAT", Image::ExFat, ApplyFailure::VolumeInUse, WriteMode::Locked},
        {"still NTFS", Image::Ntfs, ApplyFailure::None, WriteMode::InPlace},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeVolumes volumes(512, makeImage(Image::Ntfs));
        test::applySetup(volumes, {.lockOk = false});
        auto replacement = makeImage(c.becomes);
        if (c.becomes == Image::Ntfs) test::putLE(replacement, 80, 0x5A, 1);  // same kind, other bytes
        volumes.fault.beforeRead(2, [&] { volumes.memory.bytes() = replacement; });
        RecordingSink sink(true, &volumes.memory);

        const ChangeResult result = changeSerial(volumes, test::kVolumeName, 0x11112222, false, sink);

        EXPECT_EQ(result.error, c.error) << applyFailureName(result.error);
        EXPECT_EQ(result.mode, c.mode);
        if (c.error == ApplyFailure::VolumeInUse) {
            EXPECT_EQ(result.systemError, 5u);  // the refused lock's error
            EXPECT_TRUE(result.plan.regions.empty());
            EXPECT_EQ(sink.calls, 0u);
            EXPECT_EQ(volumes.memory.writes(), 0u);
            EXPECT_TRUE(volumes.memory.bytes() == replacement);
        } else {
            EXPECT_TRUE(result.restartRequired);
            EXPECT_EQ(sink.calls, 1u);
        }
        EXPECT_EQ(volumes.liveHandles, 0u);
    }
}

}  // namespace
}  // namespace tlx
