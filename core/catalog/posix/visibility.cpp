#include "catalog/posix/visibility.h"

namespace tlx::posix {

bool isMemberSignature(const std::string& type) {
    for (const char* member : {"swap", "swsuspend", "LVM1_member", "LVM2_member", "linux_raid_member",
                               "ddf_raid_member", "isw_raid_member", "adaptec_raid_member", "hpt37x_raid_member",
                               "hpt45x_raid_member", "jmicron_raid_member", "lsi_mega_raid_member",
                               "nvidia_raid_member", "promise_fasttrack_raid_member", "silicon_medley_raid_member",
                               "via_raid_member", "crypto_LUKS", "zfs_member", "bcache", "drbd", "VMFS_volume_member",
                               "ceph_bluestore", "DM_integrity", "DM_verity_hash", "stratis"})
        if (type == member) return true;
    return false;
}

bool isHiddenDevice(const DeviceFacts& facts) {
    if (facts.mounted) return false;
    if (facts.partitioned || facts.held || isMemberSignature(facts.type)) return true;
    const bool noFileSystem = facts.type.empty() && !facts.bitLocker;
    return noFileSystem && facts.readable;
}

}  // namespace tlx::posix
