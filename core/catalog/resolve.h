#pragma once
// What the user typed, to one volume.
#include <optional>
#include <string>

#include "catalog/volume_info.h"

namespace tlx {

// The volume name (Windows: "\\?\Volume{GUID}" without trailing backslash). Platform implementation.
[[nodiscard]] std::optional<std::wstring> volumeNameFor(const std::wstring& driveSpec);
// A copy of the matching record, hidden volumes included.
[[nodiscard]] std::optional<VolumeInfo> findVolume(const std::wstring& driveSpec);
// The record of the volume with this name, hidden volumes included. Platform implementation: Windows
// searches the enumeration; POSIX describes the one block device or disk-image file alone.
[[nodiscard]] std::optional<VolumeInfo> describeVolume(const std::wstring& volumeName);
// Same, over a given list (pure, for tests).
[[nodiscard]] std::optional<VolumeInfo> findVolumeIn(const std::vector<VolumeInfo>& volumes,
                                                     const std::wstring& volumeName);
// "E:" for a drive root, else the first mount point, else the volume path.
[[nodiscard]] std::wstring displayDrive(const VolumeInfo& info);
// Without its trailing separator, as volumes are compared and recorded.
[[nodiscard]] std::wstring volumeNameOf(const VolumeInfo& info);
// "\"Q:\" isn't a volume on this computer. Run \"qorin list\" to see them.", or for a drive text
// that names several volumes, the line naming them (see ambiguousVolumesFor).
[[nodiscard]] std::wstring notFoundText(const std::wstring& argumentAsTyped);
// Same, with the volumes already known (pure, for tests).
[[nodiscard]] std::wstring notFoundText(const std::wstring& argumentAsTyped, const std::vector<std::wstring>& matches);
// "/dev/sdb holds partitions: /dev/sdb1, /dev/sdb2." for a whole disk that carries a partition table
// (its partitions are the volumes); empty for any other record.
[[nodiscard]] std::wstring partitionsText(const VolumeInfo& info);
// The volumes a drive text names when it names more than one (POSIX: a UUID=, LABEL= or PARTUUID= tag
// that several volumes carry, as cloned disks do); empty otherwise, and always on Windows. Such a
// text resolves to no volume. Platform implementation.
[[nodiscard]] std::vector<std::wstring> ambiguousVolumesFor(const std::wstring& driveSpec);

}  // namespace tlx
