#pragma once
// The backups folder: one folder per volume, crash-safe saves, listing newest first.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/backup_file.h"
#include "backup/backup_sink.h"

namespace tlx {

// "Volume{GUID}" from a volume GUID path; on POSIX a device or image path made one safe component.
[[nodiscard]] std::wstring backupFolderName(std::wstring_view volume);
// False for a text with a line feed, which a backup file's header line cannot hold.
[[nodiscard]] bool recordableInBackup(std::wstring_view text);
// One separator unless the left side is empty, ends in a separator, or is a bare drive "X:".
[[nodiscard]] std::wstring joinPath(std::wstring_view left, std::wstring_view right);
// stamp "_" old "_" new [-n] ".tlxbak", stamp "YYYYMMDD-HHMMSSZ".
[[nodiscard]] std::wstring backupFileName(const std::string& stamp, const ChangePlan& plan, unsigned attempt);

class FileBackupSink : public BackupSink {
public:
    // Resolves the volume (its volume name, or driveSpec itself) and its first mount point.
    FileBackupSink(std::wstring directory, const std::wstring& driveSpec, std::string app);
    // For tests and callers that already know both.
    FileBackupSink(std::wstring directory, std::wstring volume, std::wstring mount, std::string app);

    bool save(const ChangePlan& plan) override;
    // A folder the user named (--backup-dir) is used as named; by default the backups folder and the folders
    // above it that this program names must be open to administrators alone (Windows, elevated).
    void useNamedFolder() { namedFolder_ = true; }

    const std::wstring& lastPath() const { return lastPath_; }
    // SHA-256 of the file at lastPath, as written and read back.
    const std::optional<Sha256Digest>& lastDigest() const { return lastDigest_; }
    std::uint32_t lastError() const { return lastError_; }
    const std::wstring& directory() const { return directory_; }
    const std::wstring& volume() const { return volume_; }
    // The folder the last save refused because another user could have planted or may change it.
    const std::wstring& refusedFolder() const { return refusedFolder_; }

private:
    std::wstring directory_;
    std::wstring volume_;
    std::wstring mount_;
    std::string app_;
    std::wstring lastPath_;
    std::wstring refusedFolder_;
    std::optional<Sha256Digest> lastDigest_;
    bool namedFolder_ = false;
    std::uint32_t lastError_ = 0;
};

struct BackupListEntry {
    std::wstring path;
    BootSectorBackup backup;
    // A less privileged user could have written or planted the file: never taken without being named.
    bool untrusted = false;
    std::optional<Sha256Digest> fileDigest;  // of the file as listed
};

// The per-volume folders a volume's backups are listed from: first the one they are saved in, named
// after the volume's backup key, then the one named after its device path where that differs (backups
// saved there before, which still go through matching).
[[nodiscard]] std::vector<std::wstring> volumeBackupFolders(const std::wstring& directory,
                                                            const std::wstring& driveSpec);

// Only readable ".tlxbak" files (exact case); sorted by path, descending.
[[nodiscard]] std::vector<BackupListEntry> listVolumeBackups(const std::wstring& directory,
                                                             const std::wstring& driveSpec);

}  // namespace tlx
