// Giving a volume a new serial: open, recognise, refuse, prepare, plan, apply.
#include "engine/change.h"

#include <utility>

#include "bootsector/detect.h"
#include "bootsector/plan.h"
#include "device/volume_access.h"
#include "engine/apply.h"

namespace tlx {

namespace {

constexpr std::uint32_t kErrorSharingViolation = 32;

// Runs on an open device; the caller destroys it afterwards, on every path. savedWidth is the width
// of a restored serial's field, 0 for a serial given by the user.
void changeOnDevice(LockableDevice& device, VolumeSerial newSerial, bool keepHighHalf, std::uint32_t savedWidth,
                    BackupSink& sink, ChangeWindow& window, ChangeResult& result) {
    const BootSectorRead first = readBootSector(device);
    if (first.detectStatus == DetectStatus::BitLocker ||
        (first.readStatus == ReadStatus::ReadFailed &&
         result.encryption == static_cast<std::int32_t>(DiskEncryption::BitLocker))) {
        result.error = ApplyFailure::BitLockerLocked;
        result.systemError = first.systemError;
        return;
    }
    if (first.readStatus != ReadStatus::Ok) {
        result.error = ApplyFailure::Plan;
        result.planError = static_cast<PlanError>(first.readStatus);
        result.detect = first.detectStatus;
        result.systemError = first.systemError;
        return;
    }
    // A restored serial of another width than the volume's field sets only the low 32 bits.
    if (savedWidth != 0 && savedWidth != first.info.serialWidth) {
        newSerial &= 0xFFFFFFFFull;
        keepHighHalf = true;
    }
    if (keepHighHalf && first.info.serialWidth == 8)
        newSerial = withLowHalf(first.info.serial, newSerial);
    if (!prepareForWriting(device, first.info.fsType, true, result))
        return;
    // Planned from a second reading, made now that nothing else can write the volume.
    PlanResult planned = planChange(device, newSerial);
    // Only NTFS may be written unlocked; if the second reading found anything else, the volume
    // changed under the refused lock and is refused as in use.
    if (result.mode == WriteMode::InPlace && planned.planError == PlanError::None &&
        planned.plan.fsType != FsType::NTFS) {
        result.mode = WriteMode::Locked;
        result.error = ApplyFailure::VolumeInUse;
        result.systemError = device.lastError();
        return;
    }
    // Nothing touches the device between the planner's reading and the apply.
    applyPlan(device, std::move(planned), sink, result, window, PlanReading::JustNow);
}

}  // namespace

std::unique_ptr<LockableDevice> openForChange(VolumeAccess& volumes, const std::wstring& driveSpec,
                                              ChangeResult& result) {
    std::uint32_t error = 0;
    std::unique_ptr<LockableDevice> device = volumes.open(driveSpec, DeviceAccess::ReadWrite, error);
    if (!device) {
        // Refused because another process holds the volume (on Linux, another writer's lease
        // on the image): the volume is in use, as when its lock is refused.
        result.error = error == kErrorSharingViolation ? ApplyFailure::VolumeInUse : ApplyFailure::OpenFailed;
        result.systemError = error;
        return nullptr;
    }
    result.encryption = static_cast<std::int32_t>(volumes.probe(driveSpec));
    return device;
}

namespace {

ChangeResult changeOpened(VolumeAccess& volumes, const std::wstring& driveSpec, VolumeSerial newSerial,
                          bool keepHighHalf, std::uint32_t savedWidth, BackupSink& sink, ChangeWindow& window) {
    ChangeResult result;
    std::unique_ptr<LockableDevice> device = openForChange(volumes, driveSpec, result);
    if (!device)
        return result;
    changeOnDevice(*device, newSerial, keepHighHalf, savedWidth, sink, window, result);
    device.reset();  // unlocks the volume and lets the file system mount again
    return result;
}

}  // namespace

ChangeResult changeSerial(VolumeAccess& volumes, const std::wstring& driveSpec, VolumeSerial newSerial,
                          bool keepHighHalf, BackupSink& sink, ChangeWindow& window) {
    return changeOpened(volumes, driveSpec, newSerial, keepHighHalf, 0, sink, window);
}

ChangeResult changeToSavedSerial(VolumeAccess& volumes, const std::wstring& driveSpec, VolumeSerial saved,
                                 std::uint32_t savedWidth, BackupSink& sink, ChangeWindow& window) {
    return changeOpened(volumes, driveSpec, saved, false, savedWidth, sink, window);
}

ChangeResult changeSerial(const std::wstring& driveSpec, VolumeSerial newSerial, bool keepHighHalf,
                          BackupSink& sink, ChangeWindow& window) {
    return changeSerial(systemVolumes(), driveSpec, newSerial, keepHighHalf, sink, window);
}

}  // namespace tlx
