#pragma once
// The user's sentence, extra lines and exit code for a result; confirmation texts and warnings.
#include <cstdint>
#include <string>
#include <vector>

#include "catalog/wording.h"
#include "engine/change_result.h"

namespace tlx {

inline constexpr const wchar_t* kSupportAddress = L"support@plinthos.org";

struct OutcomeReport {
    std::int32_t exitCode = 0;
    std::wstring message;
    std::vector<std::wstring> lines;
};

[[nodiscard]] OutcomeReport buildReport(const ChangeResult& result, const std::wstring& drive,
                                        const std::wstring& backupPath, const std::wstring& backupFolder,
                                        std::uint32_t backupError, const std::wstring& recoverHint);
[[nodiscard]] OutcomeReport planErrorReport(const ChangeResult& result, const std::wstring& drive);
// The same in a given platform's words; the two above speak the platform's own.
[[nodiscard]] OutcomeReport buildReport(const ChangeResult& result, const std::wstring& drive,
                                        const std::wstring& backupPath, const std::wstring& backupFolder,
                                        std::uint32_t backupError, const std::wstring& recoverHint, Wording wording);
[[nodiscard]] OutcomeReport planErrorReport(const ChangeResult& result, const std::wstring& drive, Wording wording);

// " (" + errorText(code) without its final period + ")", empty for 0.
[[nodiscard]] std::wstring errorSuffix(std::uint32_t code);

[[nodiscard]] std::wstring confirmationText(const std::wstring& drive, const std::wstring& fileSystem,
                                            const std::wstring& oldText, const std::wstring& newText);
// The system-volume warning in the platform's words (systemDriveWarning).
[[nodiscard]] std::wstring windowsDriveWarning(const std::wstring& drive);
[[nodiscard]] std::wstring efiPartitionWarning(const std::wstring& drive);
[[nodiscard]] std::wstring bitLockerWarning(const std::wstring& drive);
// Why a backup file is passed over when the latest is looked for (qorin) or offered (Dravik).
[[nodiscard]] std::wstring skippedBackupText(const std::wstring& path);

}  // namespace tlx
