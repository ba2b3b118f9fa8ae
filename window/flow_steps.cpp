// The order of a restore: the operation, then the second questions that may run it again.
#include "flow_steps.h"

#include "backup/backup_match.h"

namespace tlx {

std::optional<ElevatedResult> runRestore(ElevatedRequest request, bool preconfirmed, const RunRequest& run,
                                         const AskQuestion& ask) {
    request.operation = ElevatedOperation::Restore;
    request.force = preconfirmed;
    request.skipVolumeCheck = false;
    ElevatedResult result = run(request);
    if (result.ran && result.differentVolume) {
        if (!ask(RestoreQuestion::DifferentVolume)) return std::nullopt;
        request.skipVolumeCheck = true;
        result = run(request);
    }
    if (result.ran && request.raw && !preconfirmed && result.change.error == ApplyFailure::BackupMismatch &&
        result.change.match == static_cast<std::int32_t>(BackupMatch::Undetermined)) {
        if (!ask(RestoreQuestion::UnrecognizedBootSector)) return std::nullopt;
        request.force = true;
        result = run(request);
    }
    return result;
}

}  // namespace tlx
