#pragma once
// The only code that writes boot sectors: compare, back up, write, verify, roll back.
#include "bootsector/detect.h"
#include "bootsector/plan.h"
#include "engine/change_result.h"
#include "engine/change_window.h"

namespace tlx {

class BackupSink;
class LockableDevice;
class SectorDevice;

// Locks and dismounts, or (NTFS with allowInPlace) leaves the volume mounted for an in-place write.
[[nodiscard]] bool prepareForWriting(LockableDevice& device, FsType fsType, bool allowInPlace, ChangeResult& result);
// Where a plan's old bytes come from. A plan read from the device a moment ago, with nothing done
// in between, on a volume held locked, needs no second comparison before its backup is saved.
enum class PlanReading { Earlier, JustNow };

// Consumes the plan; result.mode must already be set. Each region is compared right before its
// write (and, unless the plan was read just now on a locked volume, before the backup too). The
// window is entered before the first write and left after the last verification or rollback.
void applyPlan(SectorDevice& device, PlanResult&& planResult, BackupSink& sink, ChangeResult& result,
               ChangeWindow& window = noChangeWindow(), PlanReading reading = PlanReading::Earlier);

}  // namespace tlx
