#pragma once
// Windows drive text to the device path that is opened: "\\.\X:" or "\\?\Volume{GUID}".
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tlx {

// Asked for a mounted folder (with its trailing backslash); returns the volume name the system
// reports for it, with or without trailing backslash. Absent when it is no mount point.
using MountPointQuery = std::function<std::optional<std::wstring>(const std::wstring& folder)>;

[[nodiscard]] std::optional<std::wstring> windowsDevicePathFor(std::wstring_view driveSpec, const MountPointQuery& query);

// The platform's rule: on Windows the one above with the system's mount-point query; on POSIX
// the canonical path of a block device or image file (see the posix implementation).
[[nodiscard]] std::optional<std::wstring> devicePathFor(std::wstring_view driveSpec);

}  // namespace tlx
