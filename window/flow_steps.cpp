// The order of a restore: the operation, then the second questions that may run it again.
#include "flow_steps.h"

#include <algorithm>
#include <string_view>

#include "backup/backup_match.h"
#include "catalog/volume_info.h"

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

bool liesInFolder(const std::wstring& path, const std::wstring& folder) {
    std::wstring base = folder;
    while (!base.empty() && base.back() == L'\\') base.pop_back();
    if (base.empty() || path.size() <= base.size() + 1 || path[base.size()] != L'\\') return false;
    if (compareOrdinalIgnoreCase(path.substr(0, base.size()), base) != 0) return false;
    const std::wstring rest = path.substr(base.size() + 1);
    if (rest.find_first_of(L"/:") != std::wstring::npos) return false;
    std::size_t start = 0;
    while (start <= rest.size()) {
        const std::size_t end = std::min(rest.find(L'\\', start), rest.size());
        const std::wstring_view step(rest.data() + start, end - start);
        if (step.empty() || step == L"." || step == L"..") return false;
        start = end + 1;
    }
    return true;
}

bool usableForRecoverNow(const ElevatedResult& result, const std::wstring& backupsFolder,
                         const std::optional<Sha256Digest>& onDisk) {
    return liesInFolder(result.backupPath, backupsFolder) && result.backupDigest && onDisk &&
           *result.backupDigest == *onDisk;
}

}  // namespace tlx
