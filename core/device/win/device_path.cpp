// The Windows device-path rule, with the system's answer for mounted folders.
#include "device/device_path.h"

#include "platform/win/error_mode.h"
#include "platform/win/windows.h"

namespace tlx {

std::optional<std::wstring> devicePathFor(std::wstring_view driveSpec) {
    return windowsDevicePathFor(driveSpec, [](const std::wstring& folder) -> std::optional<std::wstring> {
        // A folder on a drive without media must not bring up the system's "insert a disk" dialog.
        const win::ScopedErrorMode quiet;
        wchar_t name[MAX_PATH] = {};
        if (!GetVolumeNameForVolumeMountPointW(folder.c_str(), name, MAX_PATH)) return std::nullopt;
        return std::wstring(name);
    });
}

}  // namespace tlx
