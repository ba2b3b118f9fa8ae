#pragma once
// Which block devices `list` shows without --all on Linux: every one that holds a file system.
#include <string>

namespace tlx::posix {

struct DeviceFacts {
    bool mounted = false;
    bool partitioned = false;  // a whole disk that carries a partition table
    bool held = false;         // claimed by another block device (sysfs holders): device-mapper, RAID ...
    bool readable = true;      // this process could open it to look
    std::string type;          // libblkid's TYPE, empty when nothing was found
    bool bitLocker = false;
};

// Signatures of what belongs to another layer (swap, LVM, RAID, LUKS, ZFS ...) rather than holding files.
[[nodiscard]] bool isMemberSignature(const std::string& type);
// Hidden: not mounted, and without a file system, a partitioned disk, held, or a member of another layer.
// A device this process cannot read may hold anything, so it is shown.
[[nodiscard]] bool isHiddenDevice(const DeviceFacts& facts);

}  // namespace tlx::posix
