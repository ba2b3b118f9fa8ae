// The Windows device-path rule, with the system's answer for mounted folders; a text naming an
// existing regular file is a disk image, whose full path is its device path.
#include "device/device_path.h"

#include "device/win/image_device.h"
#include "platform/win/error_mode.h"
#include "platform/win/windows.h"

namespace tlx {

std::optional<std::wstring> devicePathFor(std::wstring_view driveSpec) {
    std::optional<std::wstring> path =
        windowsDevicePathFor(driveSpec, [](const std::wstring& folder) -> std::optional<std::wstring> {
            // A folder on a drive without media must not bring up the system's "insert a disk" dialog.
            const win::ScopedErrorMode quiet;
            wchar_t name[MAX_PATH] = {};
            if (!GetVolumeNameForVolumeMountPointW(folder.c_str(), name, MAX_PATH)) return std::nullopt;
            return std::wstring(name);
        });
    if (path) return path;
    return win::imageFilePath(driveSpec);
}

}  // namespace tlx
