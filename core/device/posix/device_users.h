#pragma once
// Who else is using a device or image: other processes, mounts, loop devices.
#include <optional>
#include <span>
#include <string>
#include <sys/types.h>

namespace tlx::posix {

// Some descriptor other than `ownFds` of this process has `path` open, as fuser finds it through
// /proc/*/fd (our own other descriptors count, as other handles do on Windows); for a block device
// also through any node with the same device number. Processes we may not inspect are not seen.
[[nodiscard]] bool openedElsewhere(const std::string& path, bool blockDevice, dev_t rdev, std::span<const int> ownFds);
// Asks the kernel whether any descriptor but `fd` has the regular file open, by trying a write lease
// (granted only to a sole opener) and dropping it at once. Absent where leases are unavailable
// (file system, ownership); the caller then walks /proc instead.
[[nodiscard]] std::optional<bool> fileOpenedElsewhere(int fd);
// A mount-table entry has the device as its file system or names `path` as its source.
[[nodiscard]] bool namedByMount(const std::string& path, bool blockDevice, dev_t rdev);
// A loop device is backed by the file at `path`.
[[nodiscard]] bool backsLoopDevice(const std::string& path);
// The block device `rdev` is a loop device (or a partition of one) whose backing file is in use
// elsewhere: opened by a process, named by a mount (a FUSE mount of the file), or behind another
// loop device. False for any other device.
[[nodiscard]] bool loopBackingInUse(dev_t rdev);

}  // namespace tlx::posix
