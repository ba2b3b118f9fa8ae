#pragma once
// The mount table as the kernel reports it (/proc/self/mountinfo), in mount order.
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
};

// Lines that do not parse are skipped.
[[nodiscard]] std::vector<MountEntry> parseMountInfo(std::string_view text);
// Empty when the table cannot be read.
[[nodiscard]] std::vector<MountEntry> readMountTable();

// First line of a small sysfs or proc file, without its line break; absent when unreadable.
[[nodiscard]] std::optional<std::string> readFirstLine(const std::string& path);

}  // namespace tlx::posix
