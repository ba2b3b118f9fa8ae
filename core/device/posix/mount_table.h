#pragma once
// The mount table as the kernel reports it (/proc/self/mountinfo), in mount order, and other small
// kernel files.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tlx::posix {

struct MountEntry {
    unsigned major = 0, minor = 0;  // device number of the mounted file system
    std::string mountPoint;         // unescaped
    std::string fsType;
    std::string source;             // unescaped; a device path, or a free name such as "fusefat"
    bool readOnly = false;          // the mount or its file system is read-only
    unsigned fuseUser = 0;          // FUSE: the user who mounted it (user_id=); 0 for root and other kinds
};

// Lines that do not parse are skipped.
[[nodiscard]] std::vector<MountEntry> parseMountInfo(std::string_view text);
// Empty when the table cannot be read.
[[nodiscard]] std::vector<MountEntry> readMountTable();

// The whole loop devices (loop0, not its partition loop0p1) that /proc/partitions names; the kernel
// lists only devices with sectors, so an unbacked loop device is not among them.
[[nodiscard]] std::vector<std::string> loopDevicesIn(std::string_view partitions);
// A small proc or sysfs file whole; absent when unreadable.
[[nodiscard]] std::optional<std::string> readSmallFile(const std::string& path);

// First line of a small sysfs or proc file, without its line break; absent when unreadable.
[[nodiscard]] std::optional<std::string> readFirstLine(const std::string& path);

}  // namespace tlx::posix
