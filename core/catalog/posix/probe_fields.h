#pragma once
// What libblkid says about a volume, and how it fills a volume record.
#include <optional>
#include <string>

#include "catalog/volume_info.h"

namespace tlx::posix {

struct ProbeValues {
    std::string type;           // TYPE: "vfat", "exfat", "ntfs", "ext4" ...; empty when nothing was found
    std::string version;        // VERSION: "FAT12", "FAT16", "FAT32" for vfat
    std::string label;          // LABEL
    std::string uuid;           // UUID: "1234-ABCD", or 16 hex digits for NTFS
    std::string partEntryType;  // PART_ENTRY_TYPE: a GPT type GUID or an MBR type such as "0xef"
    bool bitLocker = false;     // sector 0, as libblkid read it, carries the BitLocker signature
};

// Probes the superblock, and with partitionEntry the partition entry; empty values when the device
// cannot be probed.
[[nodiscard]] ProbeValues probeVolume(const std::string& path, bool partitionEntry);

// Fills fileSystem, label, serial, fullSerial, mediaPresent and supported. A BitLocker volume is
// shown as Windows shows a locked one: no readable file system, never the FAT that its BPB imitates.
void applyProbeValues(VolumeInfo& info, const ProbeValues& values);
[[nodiscard]] PartitionRole partitionRoleFor(const std::string& partEntryType);

}  // namespace tlx::posix
