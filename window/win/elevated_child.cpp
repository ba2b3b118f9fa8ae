// The --elevated-op role of the program: run one request and report it through the result file.
#include "win/elevated_child.h"

#include <cstdint>
#include <optional>

#include "bootsector/detect.h"
#include "device/volume_access.h"
#include "backup/backup_folder.h"
#include "elevated_operation.h"
#include "platform/win/unique_handle.h"
#include "result_file.h"
#include "win/result_file_access.h"
#include "win/shutdown_change_window.h"

namespace tlx::win {

namespace {

// An image file starts with a boot sector this program knows; anything else is someone's file.
bool holdsRecognisedBootSector(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return false;
    std::uint8_t sector[512] = {};
    DWORD got = 0;
    if (!ReadFile(file.get(), sector, sizeof sector, &got, nullptr) || got != sizeof sector) return false;
    return detectBootSector(sector).status == DetectStatus::Ok;
}

}  // namespace

int runElevatedChild(const std::vector<std::wstring>& arguments) {
    const std::optional<ChildArguments> parsed = parseChildArguments(arguments);
    if (!parsed) return 2;
    const ElevatedRequest& request = parsed->request;
    if (!namesVolumeOrDriveRoot(request.volume) &&
        !childMayWriteImage(request, holdsRecognisedBootSector(request.volume)))
        return 2;
    // Only the file the parent created is ever written, and it is opened before the operation runs:
    // a change whose outcome could not be reported must not happen at all.
    FileHandle file = openResultFileForChild(parsed->resultFile);
    if (!file) return 3;
    // Read once: the bytes checked against what the user confirmed are the bytes used.
    const std::optional<BackupReadResult> backup = readRequestedBackup(request);
    if (!backup) return 2;
    ShutdownChangeWindow window;
    const std::string bytes =
        writeResultFile(runOperation(systemVolumes(), request, *backup, defaultBackupDirectory(), window));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        return 3;
    return 0;
}

int runElevatedChild(int argc, wchar_t** argv) { return runElevatedChild(std::vector<std::wstring>(argv, argv + argc)); }

}  // namespace tlx::win
