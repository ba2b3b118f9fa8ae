#pragma once
// The one result record of the change, restore-serial and raw-recovery operations.
#include <cstdint>

#include "bootsector/plan.h"

namespace tlx {

enum class WriteMode : std::int32_t { Locked = 0, InPlace = 1 };

enum class ApplyOutcome : std::int32_t { Success = 0, NothingWritten = 1, RolledBack = 2, RollbackFailed = 3 };

enum class ApplyStep : std::int32_t {
    None = 0,
    ReadFailed = 1,
    Changed = 2,
    BackupFailed = 3,
    WriteFailed = 4,
    VerifyFailed = 5,
};

enum class ApplyFailure : std::int32_t {
    None = 0,
    OpenFailed = 1,
    Plan = 2,
    VolumeInUse = 3,
    DismountFailed = 4,
    Apply = 5,
    BackupMismatch = 6,
    BitLockerLocked = 7,
};

struct ChangeResult {
    ApplyFailure error = ApplyFailure::None;
    std::uint32_t systemError = 0;
    PlanError planError = PlanError::None;
    DetectStatus detect = DetectStatus::Ok;
    WriteMode mode = WriteMode::Locked;
    std::int32_t match = 0;       // raw recovery: BackupMatch
    std::int32_t encryption = 2;  // DiskEncryption; 2 until the probe has answered
    ChangePlan plan;
    ApplyOutcome applyOutcome = ApplyOutcome::Success;
    ApplyStep applyFailure = ApplyStep::None;
    std::uint64_t applyRegion = 0;
    std::uint32_t applySystemError = 0;
    bool restartRequired = false;
};

// Names as printed; "?" for values outside the enumerations.
[[nodiscard]] const char* applyFailureName(ApplyFailure value);
[[nodiscard]] const char* applyOutcomeName(ApplyOutcome value);
[[nodiscard]] const char* writeModeName(WriteMode value);

}  // namespace tlx
