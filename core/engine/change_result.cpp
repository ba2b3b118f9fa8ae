#include "engine/change_result.h"

namespace tlx {

const char* applyFailureName(ApplyFailure value) {
    switch (value) {
    case ApplyFailure::None: return "None";
    case ApplyFailure::OpenFailed: return "OpenFailed";
    case ApplyFailure::Plan: return "Plan";
    case ApplyFailure::VolumeInUse: return "VolumeInUse";
    case ApplyFailure::DismountFailed: return "DismountFailed";
    case ApplyFailure::Apply: return "Apply";
    case ApplyFailure::BackupMismatch: return "BackupMismatch";
    case ApplyFailure::BitLockerLocked: return "BitLockerLocked";
    }
    return "?";
}

const char* applyOutcomeName(ApplyOutcome value) {
    switch (value) {
    case ApplyOutcome::Success: return "Success";
    case ApplyOutcome::NothingWritten: return "NothingWritten";
    case ApplyOutcome::RolledBack: return "RolledBack";
    case ApplyOutcome::RollbackFailed: return "RollbackFailed";
    }
    return "?";
}

const char* writeModeName(WriteMode value) {
    switch (value) {
    case WriteMode::Locked: return "Locked";
    case WriteMode::InPlace: return "InPlace";
    }
    return "?";
}

}  // namespace tlx
