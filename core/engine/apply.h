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
// Consumes the plan; result.mode must already be set. The window is entered before the first
// write and left after the last verification or rollback.
void applyPlan(SectorDevice& device, PlanResult&& planResult, BackupSink& sink, ChangeResult& result,
               ChangeWindow& window = noChangeWindow());

}  // namespace tlx
