// Preparing a volume for writing and applying a plan with backup, verification and rollback.
#include "engine/apply.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "backup/backup_sink.h"
#include "device/sector_device.h"
#include "engine/change_window.h"

namespace tlx {

namespace {

std::uint64_t regionLength(const SectorDevice& device, const RegionWrite& region) {
    return std::uint64_t{region.sectorCount} * device.sectorSize();
}

// Reads the region into buffer (resized to the region's length) and compares with expected.
// False when the read fails or the bytes differ; readOk tells which.
bool readAndCompare(SectorDevice& device, const RegionWrite& region, const std::vector<std::uint8_t>& expected,
                    std::vector<std::uint8_t>& buffer, bool& readOk) {
    buffer.assign(regionLength(device, region), 0);
    readOk = device.readSectors(region.firstSector, region.sectorCount, buffer.data());
    return readOk && buffer == expected;
}

// Writes bytes over the region and reads them back.
bool writeAndVerify(SectorDevice& device, const RegionWrite& region, const std::vector<std::uint8_t>& bytes,
                    std::vector<std::uint8_t>& buffer, ApplyStep& failedStep) {
    if (!device.writeSectors(region.firstSector, region.sectorCount, bytes.data())) {
        failedStep = ApplyStep::WriteFailed;
        return false;
    }
    bool readOk = false;
    if (!readAndCompare(device, region, bytes, buffer, readOk)) {
        failedStep = ApplyStep::VerifyFailed;
        return false;
    }
    return true;
}

// Puts a region's old bytes back. A refused write still counts when the region holds them anyway:
// read-only media refuse the write-back of a write they refused in the first place.
bool writeBack(SectorDevice& device, const RegionWrite& region, std::vector<std::uint8_t>& buffer) {
    ApplyStep failedStep = ApplyStep::None;
    if (writeAndVerify(device, region, region.before, buffer, failedStep)) return true;
    bool readOk = false;
    return failedStep == ApplyStep::WriteFailed && readAndCompare(device, region, region.before, buffer, readOk);
}

// Whether a region this change wrote and verified still needs its old bytes. Only while it holds
// exactly what this change wrote: another writer's bytes there are not ours to overwrite. When it
// cannot be read, it is written back anyway.
bool stillOurs(SectorDevice& device, const RegionWrite& region, std::vector<std::uint8_t>& buffer) {
    bool readOk = false;
    return !readAndCompare(device, region, region.before, buffer, readOk) && (!readOk || buffer == region.after);
}

// Writes back regions [0, end) from the last down to the first, on past any that will not go back.
// Those below `verified` were written and verified earlier; the one at `verified`, if inside `end`,
// failed its own write or verification and may hold part of it, so it always goes back.
bool rollBack(SectorDevice& device, const std::vector<RegionWrite>& regions, std::size_t end, std::size_t verified,
              std::vector<std::uint8_t>& buffer) {
    bool complete = true;
    for (std::size_t k = end; k-- > 0;) {
        if (k < verified && !stillOurs(device, regions[k], buffer)) continue;
        if (!writeBack(device, regions[k], buffer)) complete = false;
    }
    return complete;
}

void stopBeforeWriting(ChangeResult& result, ApplyStep step, std::uint64_t region, std::uint32_t error) {
    result.applyOutcome = ApplyOutcome::NothingWritten;
    result.applyFailure = step;
    result.applyRegion = region;
    result.applySystemError = error;
}

class NoChangeWindow final : public ChangeWindow {
public:
    void enter() override {}
    void leave() override {}
};

}  // namespace

ChangeWindow& noChangeWindow() {
    static NoChangeWindow none;
    return none;
}

bool prepareForWriting(LockableDevice& device, FsType fsType, bool allowInPlace, ChangeResult& result) {
    if (device.lock()) {
        result.mode = WriteMode::Locked;
        if (!device.dismount()) {
            result.error = ApplyFailure::DismountFailed;
            result.systemError = device.lastError();
            return false;
        }
        return true;
    }
    // Windows keeps its own NTFS volume mounted; a boot-sector write through the shared handle
    // is allowed there and takes effect at the next restart. Nothing else is written unlocked,
    // and a lock held by another writer is never a reason to write beside it.
    if (allowInPlace && fsType == FsType::NTFS && device.mountedInUse()) {
        result.mode = WriteMode::InPlace;
        return true;
    }
    result.error = ApplyFailure::VolumeInUse;
    result.systemError = device.lastError();
    return false;
}

void applyPlan(SectorDevice& device, PlanResult&& planResult, BackupSink& sink, ChangeResult& result,
               ChangeWindow& window, PlanReading reading) {
    if (planResult.planError != PlanError::None) {
        result.error = ApplyFailure::Plan;
        result.planError = planResult.planError;
        result.detect = planResult.detectStatus;
        result.systemError = planResult.systemError;
        return;
    }
    result.plan = std::move(planResult.plan);
    const std::vector<RegionWrite>& regions = result.plan.regions;
    std::vector<std::uint8_t> buffer;  // one buffer for every read of this call

    // The planner's own reading is as fresh as a comparison here would be; the one right before
    // each write still follows.
    const bool compareBeforeBackup = reading == PlanReading::Earlier || result.mode != WriteMode::Locked;
    bool stopped = false;
    for (std::size_t i = 0; i < regions.size(); ++i) {
        const RegionWrite& region = regions[i];
        // A region whose buffers do not span its sectors is treated as stale: writing it would
        // read past `after`, and comparing it could never succeed.
        const std::uint64_t length = regionLength(device, region);
        if (region.before.size() != length || region.after.size() != length) {
            stopBeforeWriting(result, ApplyStep::Changed, i, 0);
            stopped = true;
            break;
        }
        if (!compareBeforeBackup) continue;
        bool readOk = false;
        if (!readAndCompare(device, region, region.before, buffer, readOk)) {
            if (readOk)
                stopBeforeWriting(result, ApplyStep::Changed, i, 0);
            else
                stopBeforeWriting(result, ApplyStep::ReadFailed, i, device.lastError());
            stopped = true;
            break;
        }
    }

    if (!stopped && !sink.save(result.plan)) {
        stopBeforeWriting(result, ApplyStep::BackupFailed, 0, 0);
        stopped = true;
    }

    if (!stopped) {
        result.applyOutcome = ApplyOutcome::Success;
        bool entered = false;
        for (std::size_t j = 0; j < regions.size(); ++j) {
            // Read again right before the write: the backup took time, and on a volume that could
            // not be held exclusively another writer may have come in since the pre-check.
            bool readOk = false;
            if (!readAndCompare(device, regions[j], regions[j].before, buffer, readOk)) {
                const std::uint32_t error = readOk ? 0 : device.lastError();
                const ApplyStep step = readOk ? ApplyStep::Changed : ApplyStep::ReadFailed;
                if (j == 0) {
                    stopBeforeWriting(result, step, j, error);
                } else {
                    // The region itself is someone else's now; only what this change wrote goes back.
                    result.applyFailure = step;
                    result.applyRegion = j;
                    result.applySystemError = error;
                    result.applyOutcome = rollBack(device, regions, j, j, buffer) ? ApplyOutcome::RolledBack
                                                                                  : ApplyOutcome::RollbackFailed;
                }
                break;
            }
            if (!entered) {
                window.enter();
                entered = true;
            }
            ApplyStep failedStep = ApplyStep::None;
            if (writeAndVerify(device, regions[j], regions[j].after, buffer, failedStep))
                continue;
            result.applySystemError = device.lastError();
            result.applyRegion = j;
            result.applyFailure = failedStep;
            // Back from the failed region itself down to the first.
            result.applyOutcome = rollBack(device, regions, j + 1, j, buffer) ? ApplyOutcome::RolledBack
                                                                              : ApplyOutcome::RollbackFailed;
            break;
        }
        if (entered) window.leave();
    }

    if (result.applyOutcome != ApplyOutcome::Success) {
        result.error = ApplyFailure::Apply;
        result.systemError = result.applySystemError;
    } else {
        result.restartRequired = result.mode == WriteMode::InPlace;
    }
}

}  // namespace tlx
