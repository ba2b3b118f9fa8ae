#pragma once
// What a FUSE mount serves when its mount-table entry doesn't say: fusefat writes "fusefat" as the
// source, exfat-fuse and ntfs-3g write the device or image path.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/posix/mount_table.h"

namespace tlx::posix {

// The FUSE connection an open /dev/fuse serves, from its fdinfo ("fuse_connection:\t43"); absent on
// kernels that don't print it.
[[nodiscard]] std::optional<unsigned> fuseConnectionIn(std::string_view fdinfo);

// Gives every FUSE mount whose source is no path the path of the one block device or image file that
// its daemon (the process holding that mount's FUSE connection) has open. Entries it can't tell keep
// their source. Costs nothing while no such mount exists.
void nameFuseSources(std::vector<MountEntry>& mounts);

}  // namespace tlx::posix
