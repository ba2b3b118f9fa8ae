#pragma once
// Who else is using a device or image: other processes, mounts, loop devices. Names are only a
// shortcut: the same file or device reached by another name (a hard link, a bind mount, another
// node) is matched by its identity.
#include <optional>
#include <span>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace tlx::posix {

// A block device by its device number, a file by its file system and inode.
struct FileIdentity {
    bool blockDevice = false;
    dev_t rdev = 0;
    dev_t dev = 0;
    ino_t ino = 0;
};
[[nodiscard]] FileIdentity identityOf(const struct stat& st);
[[nodiscard]] bool sameIdentity(const FileIdentity& id, const struct stat& st);

// Some descriptor other than `ownFds` of this process has the file or device open, as fuser finds it
// through /proc/*/fd (our own other descriptors count, as other handles do on Windows), under `path`
// or any other name. Processes we may not inspect are not seen.
[[nodiscard]] bool openedElsewhere(const std::string& path, const FileIdentity& id, std::span<const int> ownFds);
// Asks the kernel whether any descriptor but `fd` has the regular file open, by trying a write lease
// (granted only to a sole opener) and dropping it at once. Absent where leases are unavailable
// (file system, ownership); the caller then walks /proc instead.
[[nodiscard]] std::optional<bool> fileOpenedElsewhere(int fd);
// A mount-table entry has the device as its file system or names it (or `path`) as its source.
[[nodiscard]] bool namedByMount(const std::string& path, const FileIdentity& id);
// A loop device is backed by the file.
[[nodiscard]] bool backsLoopDevice(const FileIdentity& file);
// `fd` is open on a loop device (or a partition of one) whose backing file is in use elsewhere:
// opened by a process, named by a mount (a FUSE mount of the file), or behind another loop device.
// False for any other device.
[[nodiscard]] bool loopBackingInUse(int fd);

}  // namespace tlx::posix
