#pragma once
// The order of a restore: the operation, then the second questions that may run it again.
#include <functional>
#include <optional>

#include "elevated_request.h"

namespace tlx {

enum class RestoreQuestion : std::int32_t {
    DifferentVolume = 0,         // the backup belongs to another volume: restore the serial anyway?
    UnrecognizedBootSector = 1,  // raw: the boot sector cannot be checked against the backup: write anyway?
};

using RunRequest = std::function<ElevatedResult(const ElevatedRequest&)>;
using AskQuestion = std::function<bool(RestoreQuestion)>;

// Runs request (a restore; force is taken from preconfirmed). A backup of another volume is run again with
// the volume check skipped once the user agrees; a raw recovery whose boot sector cannot be compared is run
// again with force once the user agrees, unless it was preconfirmed. Absent when a question was declined:
// then nothing is to be shown.
[[nodiscard]] std::optional<ElevatedResult> runRestore(ElevatedRequest request, bool preconfirmed,
                                                       const RunRequest& run, const AskQuestion& ask);

}  // namespace tlx
