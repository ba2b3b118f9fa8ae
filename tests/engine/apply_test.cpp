// The apply engine over an in-memory volume with injected faults: outcome, transfers and final bytes.
#include "engine/apply.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "device/fault_device.h"
#include "device/memory_device.h"
#include "engine/fake_volumes.h"
#include "engine/tracing_device.h"
#include "engine/volume_images.h"

namespace tlx {
namespace {

using test::RecordingSink;
using test::TracingDevice;

constexpr std::uint32_t kOldSerial = 0x1A2B3C4D;
constexpr std::uint32_t kNewSerial = 0x0000BEEF;

std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& image, std::uint64_t first, std::uint32_t count,
                                std::uint32_t sectorSize) {
    const auto begin = image.begin() + static_cast<std::ptrdiff_t>(first * sectorSize);
    return {begin, begin + static_cast<std::ptrdiff_t>(std::uint64_t{count} * sectorSize)};
}

// A FAT32 change written by hand: the backup boot sector first, the main one last.
PlanResult fat32Plan(const std::vector<std::uint8_t>& image, std::uint32_t bytesPerSector) {
    const std::uint32_t n = bytesPerSector / 512;
    PlanResult result;
    ChangePlan& plan = result.plan;
    plan.fsType = FsType::FAT32;
    plan.bytesPerSector = bytesPerSector;
    plan.totalSectors = 100000;
    plan.serial = kOldSerial;
    plan.serialWidth = 4;
    plan.serialOffset = 67;
    plan.backupBootSector = 6;
    plan.oldSerial = kOldSerial;
    plan.newSerial = kNewSerial;
    for (std::uint64_t first : {std::uint64_t{6} * n, std::uint64_t{0}}) {
        RegionWrite region;
        region.kind = first == 0 ? BootRegion::BootSector : BootRegion::BackupBootSector;
        region.firstSector = first;
        region.sectorCount = n;
        region.before = slice(image, first, n, 512);
        region.after = region.before;
        test::putLE(region.after, 67, kNewSerial, 4);
        plan.regions.push_back(std::move(region));
    }
    return result;
}

enum class Disk { Before, After, MainOnlyAfter, BeforeWithAlteration, BackupAfterWithAlterations };

struct Faults {
    std::vector<std::pair<unsigned, std::uint32_t>> failReads, failWrites;
    std::vector<unsigned> corruptReads;
    unsigned alterBeforeRead = 0;        // read number; alters a byte of the sector it is about to read
    std::uint64_t alterSector = 0;
    // Another writer at the same read: alters a byte of this sector too, or puts its original bytes back.
    std::int64_t peerSector = -1;
    bool peerRestores = false;
};

struct ApplyCase {
    const char* name;
    std::uint32_t bytesPerSector;
    WriteMode mode;
    bool sinkAccepts;
    Faults faults;
    ApplyOutcome outcome;
    ApplyStep step;
    std::uint64_t region;
    std::uint32_t systemError;
    bool restartRequired;
    Disk disk;
    const char* trace;
};

// Traces: R/W sector, S the backup save, E and L entering and leaving the change window.
const ApplyCase kApplyCases[] = {
    {"success", 512, WriteMode::Locked, true, {},
     ApplyOutcome::Success, ApplyStep::None, 0, 0, false, Disk::After, "R6 R0 S R6 E W6 R6 R0 W0 R0 L"},
    {"success in place needs a restart", 512, WriteMode::InPlace, true, {},
     ApplyOutcome::Success, ApplyStep::None, 0, 0, true, Disk::After, "R6 R0 S R6 E W6 R6 R0 W0 R0 L"},
    {"success with 4096-byte file-system sectors", 4096, WriteMode::Locked, true, {},
     ApplyOutcome::Success, ApplyStep::None, 0, 0, false, Disk::After, "R48 R0 S R48 E W48 R48 R0 W0 R0 L"},
    {"pre-check read of region 0 fails", 512, WriteMode::Locked, true, {{{1, 1117}}, {}, {}, 0, 0},
     ApplyOutcome::NothingWritten, ApplyStep::ReadFailed, 0, 1117, false, Disk::Before, "R6"},
    {"pre-check read of region 1 fails", 512, WriteMode::Locked, true, {{{2, 21}}, {}, {}, 0, 0},
     ApplyOutcome::NothingWritten, ApplyStep::ReadFailed, 1, 21, false, Disk::Before, "R6 R0"},
    {"region 0 changed after planning", 512, WriteMode::Locked, true, {{}, {}, {}, 1, 6},
     ApplyOutcome::NothingWritten, ApplyStep::Changed, 0, 0, false, Disk::BeforeWithAlteration, "R6"},
    {"region 1 changed after planning", 512, WriteMode::InPlace, true, {{}, {}, {}, 2, 0},
     ApplyOutcome::NothingWritten, ApplyStep::Changed, 1, 0, false, Disk::BeforeWithAlteration, "R6 R0"},
    {"sink refuses", 512, WriteMode::Locked, false, {},
     ApplyOutcome::NothingWritten, ApplyStep::BackupFailed, 0, 0, false, Disk::Before, "R6 R0 S"},
    {"region 0 changed while the backup was saved", 512, WriteMode::InPlace, true, {{}, {}, {}, 3, 6},
     ApplyOutcome::NothingWritten, ApplyStep::Changed, 0, 0, false, Disk::BeforeWithAlteration, "R6 R0 S R6"},
    {"region 1 changed after region 0 was written", 512, WriteMode::InPlace, true, {{}, {}, {}, 5, 0},
     ApplyOutcome::RolledBack, ApplyStep::Changed, 1, 0, false, Disk::BeforeWithAlteration,
     "R6 R0 S R6 E W6 R6 R0 R6 W6 R6 L"},
    {"reading region 1 again before its write fails", 512, WriteMode::Locked, true, {{{5, 1117}}, {}, {}, 0, 0},
     ApplyOutcome::RolledBack, ApplyStep::ReadFailed, 1, 1117, false, Disk::Before,
     "R6 R0 S R6 E W6 R6 R0 R6 W6 R6 L"},
    {"write of region 0 fails", 512, WriteMode::Locked, true, {{}, {{1, 31}}, {}, 0, 0},
     ApplyOutcome::RolledBack, ApplyStep::WriteFailed, 0, 31, false, Disk::Before, "R6 R0 S R6 E W6 W6 R6 L"},
    {"write of region 1 fails", 512, WriteMode::Locked, true, {{}, {{2, 31}}, {}, 0, 0},
     ApplyOutcome::RolledBack, ApplyStep::WriteFailed, 1, 31, false, Disk::Before,
     "R6 R0 S R6 E W6 R6 R0 W0 W0 R0 R6 W6 R6 L"},
    {"in place, write of region 1 fails", 512, WriteMode::InPlace, true, {{}, {{2, 31}}, {}, 0, 0},
     ApplyOutcome::RolledBack, ApplyStep::WriteFailed, 1, 31, false, Disk::Before,
     "R6 R0 S R6 E W6 R6 R0 W0 W0 R0 R6 W6 R6 L"},
    {"verification of region 0 differs", 512, WriteMode::Locked, true, {{}, {}, {4}, 0, 0},
     ApplyOutcome::RolledBack, ApplyStep::VerifyFailed, 0, 0, false, Disk::Before, "R6 R0 S R6 E W6 R6 W6 R6 L"},
    {"verification read of region 1 fails", 512, WriteMode::Locked, true, {{{6, 1117}}, {}, {}, 0, 0},
     ApplyOutcome::RolledBack, ApplyStep::VerifyFailed, 1, 1117, false, Disk::Before,
     "R6 R0 S R6 E W6 R6 R0 W0 R0 W0 R0 R6 W6 R6 L"},
    {"rollback write fails but the region still holds its old bytes", 512, WriteMode::Locked, true,
     {{}, {{2, 19}, {3, 19}}, {}, 0, 0},
     ApplyOutcome::RolledBack, ApplyStep::WriteFailed, 1, 19, false, Disk::Before,
     "R6 R0 S R6 E W6 R6 R0 W0 W0 R0 R6 W6 R6 L"},
    {"read-only media refuse every write", 512, WriteMode::Locked, true, {{}, {{1, 19}, {2, 19}}, {}, 0, 0},
     ApplyOutcome::RolledBack, ApplyStep::WriteFailed, 0, 19, false, Disk::Before, "R6 R0 S R6 E W6 W6 R6 L"},
    {"region 1 differs and will not go back; region 0 still does", 512, WriteMode::Locked, true,
     {{}, {{3, 1117}}, {6}, 0, 0},
     ApplyOutcome::RollbackFailed, ApplyStep::VerifyFailed, 1, 0, false, Disk::MainOnlyAfter,
     "R6 R0 S R6 E W6 R6 R0 W0 R0 W0 R0 R6 W6 R6 L"},
    {"rollback read-back of region 1 fails", 512, WriteMode::Locked, true, {{{6, 1117}}, {{2, 31}}, {}, 0, 0},
     ApplyOutcome::RollbackFailed, ApplyStep::WriteFailed, 1, 31, false, Disk::Before,
     "R6 R0 S R6 E W6 R6 R0 W0 W0 R0 R6 W6 R6 L"},
    {"rollback of region 0 reads back other bytes", 512, WriteMode::Locked, true, {{}, {{2, 31}}, {8}, 0, 0},
     ApplyOutcome::RollbackFailed, ApplyStep::WriteFailed, 1, 31, false, Disk::Before,
     "R6 R0 S R6 E W6 R6 R0 W0 W0 R0 R6 W6 R6 L"},
    {"region 0 rewritten by another writer, then region 1 found changed", 512, WriteMode::InPlace, true,
     {{}, {}, {}, 5, 0, 6},
     ApplyOutcome::RolledBack, ApplyStep::Changed, 1, 0, false, Disk::BackupAfterWithAlterations,
     "R6 R0 S R6 E W6 R6 R0 R6 L"},
    {"region 0 cannot be read before its write-back, so it goes back", 512, WriteMode::InPlace, true,
     {{{6, 1117}}, {}, {}, 5, 0},
     ApplyOutcome::RolledBack, ApplyStep::Changed, 1, 0, false, Disk::BeforeWithAlteration,
     "R6 R0 S R6 E W6 R6 R0 R6 W6 R6 L"},
    {"region 0 already back to its old bytes, then region 1 found changed", 512, WriteMode::InPlace, true,
     {{}, {}, {}, 5, 0, 6, true},
     ApplyOutcome::RolledBack, ApplyStep::Changed, 1, 0, false, Disk::BeforeWithAlteration,
     "R6 R0 S R6 E W6 R6 R0 R6 L"},
};

// A plan the planner read a moment ago: on a locked volume the backup follows at once, and each
// region is still compared right before its write; in place the comparison before the backup stays.
const ApplyCase kJustReadCases[] = {
    {"success", 512, WriteMode::Locked, true, {},
     ApplyOutcome::Success, ApplyStep::None, 0, 0, false, Disk::After, "S R6 E W6 R6 R0 W0 R0 L"},
    {"success in place still compares before the backup", 512, WriteMode::InPlace, true, {},
     ApplyOutcome::Success, ApplyStep::None, 0, 0, true, Disk::After, "R6 R0 S R6 E W6 R6 R0 W0 R0 L"},
    {"sink refuses", 512, WriteMode::Locked, false, {},
     ApplyOutcome::NothingWritten, ApplyStep::BackupFailed, 0, 0, false, Disk::Before, "S"},
    {"region 0 changed after planning", 512, WriteMode::Locked, true, {{}, {}, {}, 1, 6},
     ApplyOutcome::NothingWritten, ApplyStep::Changed, 0, 0, false, Disk::BeforeWithAlteration, "S R6"},
    {"reading region 0 before its write fails", 512, WriteMode::Locked, true, {{{1, 1117}}, {}, {}, 0, 0},
     ApplyOutcome::NothingWritten, ApplyStep::ReadFailed, 0, 1117, false, Disk::Before, "S R6"},
    {"region 1 changed after region 0 was written", 512, WriteMode::Locked, true, {{}, {}, {}, 3, 0},
     ApplyOutcome::RolledBack, ApplyStep::Changed, 1, 0, false, Disk::BeforeWithAlteration,
     "S R6 E W6 R6 R0 R6 W6 R6 L"},
    {"write of region 1 fails", 512, WriteMode::Locked, true, {{}, {{2, 31}}, {}, 0, 0},
     ApplyOutcome::RolledBack, ApplyStep::WriteFailed, 1, 31, false, Disk::Before,
     "S R6 E W6 R6 R0 W0 W0 R0 R6 W6 R6 L"},
    {"verification of region 0 differs", 512, WriteMode::Locked, true, {{}, {}, {2}, 0, 0},
     ApplyOutcome::RolledBack, ApplyStep::VerifyFailed, 0, 0, false, Disk::Before, "S R6 E W6 R6 W6 R6 L"},
};

void runApplyCase(const ApplyCase& c, PlanReading reading) {
    SCOPED_TRACE(c.name);
    const auto original = test::fat32Image(kOldSerial, c.bytesPerSector);
    MemoryDevice memory(512, original);
    FaultDevice fault(memory);
    std::string trace;
    TracingDevice device(fault, trace);
    for (auto [number, error] : c.faults.failReads) fault.failRead(number, error);
    for (auto [number, error] : c.faults.failWrites) fault.failWrite(number, error);
    for (unsigned number : c.faults.corruptReads) fault.corruptRead(number);
    const std::size_t alteredByte = c.faults.alterSector * 512 + 300;
    const std::size_t peerByte = static_cast<std::size_t>(c.faults.peerSector) * 512 + 300;
    if (c.faults.alterBeforeRead != 0)
        fault.beforeRead(c.faults.alterBeforeRead, [&] {
            memory.bytes()[alteredByte] ^= 0x5A;
            if (c.faults.peerSector < 0) return;
            if (c.faults.peerRestores)
                std::copy_n(original.begin() + static_cast<std::ptrdiff_t>(peerByte - 300), 512,
                            memory.bytes().begin() + static_cast<std::ptrdiff_t>(peerByte - 300));
            else
                memory.bytes()[peerByte] ^= 0x5A;
        });

    PlanResult planResult = fat32Plan(original, c.bytesPerSector);
    const ChangePlan expectedPlan = planResult.plan;
    RecordingSink sink(c.sinkAccepts, &memory, &trace);
    ChangeResult result;
    result.mode = c.mode;
    test::TracingWindow window(trace);
    applyPlan(device, std::move(planResult), sink, result, window, reading);

    const bool wrote = c.outcome != ApplyOutcome::NothingWritten;
    EXPECT_EQ(result.error, c.outcome == ApplyOutcome::Success ? ApplyFailure::None : ApplyFailure::Apply);
    EXPECT_EQ(result.systemError, c.systemError);
    EXPECT_EQ(result.planError, PlanError::None);
    EXPECT_EQ(result.detect, DetectStatus::Ok);
    EXPECT_EQ(result.mode, c.mode);
    EXPECT_EQ(result.match, 0);
    EXPECT_EQ(result.encryption, 2);
    EXPECT_EQ(result.applyOutcome, c.outcome);
    EXPECT_EQ(result.applyFailure, c.step);
    EXPECT_EQ(result.applyRegion, c.region);
    EXPECT_EQ(result.applySystemError, c.systemError);
    EXPECT_EQ(result.restartRequired, c.restartRequired);
    EXPECT_EQ(trace, c.trace);

    // The result carries the plan it applied, whatever happened.
    ASSERT_EQ(result.plan.regions.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(result.plan.regions[i].firstSector, expectedPlan.regions[i].firstSector);
        EXPECT_EQ(result.plan.regions[i].before, expectedPlan.regions[i].before);
        EXPECT_EQ(result.plan.regions[i].after, expectedPlan.regions[i].after);
    }
    EXPECT_EQ(result.plan.newSerial, expectedPlan.newSerial);

    const bool saved = std::string_view(c.trace).find('S') != std::string_view::npos;
    EXPECT_EQ(sink.calls, saved ? 1u : 0u);
    if (saved) {
        ASSERT_TRUE(sink.seen.has_value());
        EXPECT_EQ(sink.seen->regions.size(), 2u);
        EXPECT_EQ(sink.seen->regions[0].before, expectedPlan.regions[0].before);
        EXPECT_EQ(sink.seen->regions[1].before, expectedPlan.regions[1].before);
        EXPECT_EQ(sink.writesBeforeSave, 0u);
    }
    if (!wrote) {
        EXPECT_EQ(memory.writes(), 0u);
    }

    std::vector<std::uint8_t> expected = original;
    const std::uint32_t n = c.bytesPerSector / 512;
    switch (c.disk) {
    case Disk::Before: break;
    case Disk::After: expected = test::withSerialAt(original, {0, 6u * n * 512}, 67, kNewSerial, 4); break;
    case Disk::MainOnlyAfter: expected = test::withSerialAt(original, {0}, 67, kNewSerial, 4); break;
    case Disk::BeforeWithAlteration: expected[alteredByte] ^= 0x5A; break;
    case Disk::BackupAfterWithAlterations:
        expected = test::withSerialAt(original, {6u * n * 512}, 67, kNewSerial, 4);
        expected[alteredByte] ^= 0x5A;
        expected[peerByte] ^= 0x5A;
        break;
    }
    EXPECT_TRUE(memory.bytes() == expected);
}

TEST(ApplyPlan, OutcomeTransfersAndBytes) {
    for (const ApplyCase& c : kApplyCases) runApplyCase(c, PlanReading::Earlier);
}

TEST(ApplyPlan, PlanReadJustNowIsComparedOnlyRightBeforeEachWrite) {
    for (const ApplyCase& c : kJustReadCases) runApplyCase(c, PlanReading::JustNow);
}

struct PlanErrorCase {
    const char* name;
    PlanError planError;
    DetectStatus detect;
    std::uint32_t systemError;
};

const PlanErrorCase kPlanErrorCases[] = {
    {"same serial", PlanError::SameSerial, DetectStatus::Ok, 0},
    {"boot sector unreadable", PlanError::ReadFailed, DetectStatus::Ok, 1117},
    {"not recognised", PlanError::NotRecognised, DetectStatus::NoSignature, 0},
    {"nothing to restore", PlanError::NothingToRestore, DetectStatus::Ok, 0},
};

TEST(ApplyPlan, PlanErrorTouchesNothing) {
    for (const PlanErrorCase& c : kPlanErrorCases) {
        SCOPED_TRACE(c.name);
        const auto original = test::fat32Image(kOldSerial);
        MemoryDevice memory(512, original);
        std::string trace;
        TracingDevice device(memory, trace);
        PlanResult planResult;
        planResult.planError = c.planError;
        planResult.detectStatus = c.detect;
        planResult.systemError = c.systemError;
        RecordingSink sink;
        ChangeResult result;
        result.mode = WriteMode::InPlace;
        applyPlan(device, std::move(planResult), sink, result);

        EXPECT_EQ(result.error, ApplyFailure::Plan);
        EXPECT_EQ(result.planError, c.planError);
        EXPECT_EQ(result.detect, c.detect);
        EXPECT_EQ(result.systemError, c.systemError);
        EXPECT_EQ(result.applyOutcome, ApplyOutcome::Success);  // 0: readers look at error first
        EXPECT_EQ(result.applyFailure, ApplyStep::None);
        EXPECT_EQ(result.applyRegion, 0u);
        EXPECT_EQ(result.applySystemError, 0u);
        EXPECT_FALSE(result.restartRequired);
        EXPECT_TRUE(result.plan.regions.empty());
        EXPECT_EQ(result.plan.fsType, FsType::Unknown);
        EXPECT_EQ(trace, "");
        EXPECT_EQ(sink.calls, 0u);
        EXPECT_TRUE(memory.bytes() == original);
    }
}

// A plan whose buffers do not span its sectors must never be written: the write would read past them.
TEST(ApplyPlan, RegionWithWrongBufferLengthIsNotWritten) {
    // Region 0 is compared before the backup unless the planner read it just now.
    const std::pair<PlanReading, const char*> readings[] = {{PlanReading::Earlier, "R6"}, {PlanReading::JustNow, ""}};
    for (const auto& [reading, expectedTrace] : readings) {
        for (int shortened : {0, 1}) {
            SCOPED_TRACE(shortened == 0 ? "before too short" : "after too short");
            const auto original = test::fat32Image(kOldSerial);
            MemoryDevice memory(512, original);
            std::string trace;
            TracingDevice device(memory, trace);
            PlanResult planResult = fat32Plan(original, 512);
            auto& region = planResult.plan.regions[1];
            (shortened == 0 ? region.before : region.after).resize(100);
            RecordingSink sink;
            ChangeResult result;
            applyPlan(device, std::move(planResult), sink, result, noChangeWindow(), reading);

            EXPECT_EQ(result.error, ApplyFailure::Apply);
            EXPECT_EQ(result.applyOutcome, ApplyOutcome::NothingWritten);
            EXPECT_EQ(result.applyFailure, ApplyStep::Changed);
            EXPECT_EQ(result.applyRegion, 1u);
            EXPECT_EQ(result.applySystemError, 0u);
            EXPECT_EQ(trace, expectedTrace);
            EXPECT_EQ(sink.calls, 0u);
            EXPECT_TRUE(memory.bytes() == original);
        }
    }
}

struct PrepareCase {
    const char* name;
    FsType fsType;
    bool allowInPlace;
    bool lockOk;
    bool dismountOk;
    bool prepared;
    ApplyFailure error;
    std::uint32_t systemError;
    WriteMode mode;
    bool dismounted;
    bool mountedInUse = true;  // what the device says after a refused lock
};

const PrepareCase kPrepareCases[] = {
    {"FAT32 locked and dismounted", FsType::FAT32, true, true, true, true, ApplyFailure::None, 0, WriteMode::Locked, true},
    {"NTFS raw locked and dismounted", FsType::NTFS, false, true, true, true, ApplyFailure::None, 0, WriteMode::Locked, true},
    {"dismount refused", FsType::exFAT, true, true, false, false, ApplyFailure::DismountFailed, 1117, WriteMode::Locked, false},
    {"NTFS lock refused goes in place", FsType::NTFS, true, false, true, true, ApplyFailure::None, 0, WriteMode::InPlace, false},
    {"NTFS lock held by another writer", FsType::NTFS, true, false, true, false, ApplyFailure::VolumeInUse, 5, WriteMode::Locked, false, false},
    {"NTFS lock refused without in place", FsType::NTFS, false, false, true, false, ApplyFailure::VolumeInUse, 5, WriteMode::Locked, false},
    {"FAT12 lock refused", FsType::FAT12, true, false, true, false, ApplyFailure::VolumeInUse, 5, WriteMode::Locked, false},
    {"FAT16 lock refused", FsType::FAT16, true, false, true, false, ApplyFailure::VolumeInUse, 5, WriteMode::Locked, false},
    {"FAT32 lock refused", FsType::FAT32, true, false, true, false, ApplyFailure::VolumeInUse, 5, WriteMode::Locked, false},
    {"exFAT lock refused", FsType::exFAT, true, false, true, false, ApplyFailure::VolumeInUse, 5, WriteMode::Locked, false},
    {"unrecognised lock refused", FsType::Unknown, false, false, true, false, ApplyFailure::VolumeInUse, 5, WriteMode::Locked, false},
};

TEST(PrepareForWriting, LockDismountOrInPlace) {
    for (const PrepareCase& c : kPrepareCases) {
        SCOPED_TRACE(c.name);
        MemoryDevice memory(512, test::filler(512));
        memory.setLockResult(c.lockOk, 5);
        memory.setDismountResult(c.dismountOk, 1117);
        memory.setMountedInUse(c.mountedInUse);
        ChangeResult result;
        const bool prepared = prepareForWriting(memory, c.fsType, c.allowInPlace, result);
        EXPECT_EQ(prepared, c.prepared);
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(result.systemError, c.systemError);
        EXPECT_EQ(result.mode, c.mode);
        EXPECT_EQ(memory.locked(), c.lockOk);
        EXPECT_EQ(memory.dismounted(), c.dismounted);
        EXPECT_EQ(memory.reads() + memory.writes(), 0u);
    }
}

}  // namespace
}  // namespace tlx
