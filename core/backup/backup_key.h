#pragma once
// The name a volume's backups are kept under: one that stays with the volume, not with whatever device
// node it happens to be attached at now.
#include <string>

namespace tlx {

// POSIX: a loop device gives its backing file (so an image and the loop device on it share their
// backups), another block device the most stable name udev gives it (by-id, else by-partuuid, else
// by-path), anything else the volume itself. Windows: the volume itself, its GUID path already stays.
[[nodiscard]] std::wstring backupKeyFor(const std::wstring& volume);
// The same with udev's link folders looked up below `diskLinks` (normally /dev/disk).
[[nodiscard]] std::wstring backupKeyFor(const std::wstring& volume, const std::string& diskLinks);

}  // namespace tlx
