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

// The user a process runs as, from its /proc status ("Uid:\t1000\t1000\t1000\t1000"): absent unless
// its real, effective, saved and file-system user are one (a set-user-ID program is nobody's).
[[nodiscard]] std::optional<unsigned> soleUserIn(std::string_view status);

// Gives every FUSE mount whose source is no path the path of the one block device or image file that
// its daemon (the process holding that mount's FUSE connection, or on kernels that don't tell, a
// process of the mount's owner given the mount point as an argument) has open. Entries it can't tell keep
// their source. Costs nothing while no such mount exists.
void nameFuseSources(std::vector<MountEntry>& mounts);

// Whether the caller may take a mount's source as the volume mounted there: what its folder names, and
// the mount point and read-only flag a list gives the source. A user's FUSE daemon can name any file
// it can read (as its fsname, or by holding it open), so a user's mount counts only for that user, or
// for a source that user owns; root's mounts and other kinds always count.
[[nodiscard]] bool sourceVouchedFor(const MountEntry& m, unsigned caller, unsigned sourceOwner);

}  // namespace tlx::posix
