#pragma once
// Running a request in this process: what the elevated instance does, and an elevated window.
#include <string>

#include "elevated_request.h"

namespace tlx {

class VolumeAccess;

// ran is set before anything else, so even a refusal reports that the operation ran.
// Backups go to backupDirectory, through the core's crash-safe backup sink.
[[nodiscard]] ElevatedResult runOperation(VolumeAccess& volumes, const ElevatedRequest& request,
                                          const std::wstring& backupDirectory);
// This computer's volumes and the default backups folder.
[[nodiscard]] ElevatedResult runOperation(const ElevatedRequest& request);

}  // namespace tlx
