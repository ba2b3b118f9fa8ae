#pragma once
// What libblkid says about a volume, and how it fills a volume record.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "catalog/volume_info.h"

namespace tlx::posix {

struct ProbeValues {
    std::string type;           // TYPE: "vfat", "exfat", "ntfs", "ext4" ...; empty when nothing was found
    std::string version;        // VERSION: "FAT12", "FAT16", "FAT32" for vfat
    std::string label;          // LABEL
    std::string uuid;           // UUID: "1234-ABCD", or 16 hex digits for NTFS
    std::string partEntryType;  // PART_ENTRY_TYPE: a GPT type GUID or an MBR type such as "0xef"
    bool bitLocker = false;     // sector 0 carries the BitLocker signature
    int openError = 0;          // errno of a failed open of the device
};

// Where a FAT12/16 boot sector puts its fixed root directory; absent for FAT32 and anything else.
struct FatRootDirectory {
    std::uint64_t offset = 0;
    std::uint32_t bytes = 0;
    std::uint32_t sectorSize = 0;
};
[[nodiscard]] std::optional<FatRootDirectory> fixedRootDirectory(std::span<const std::uint8_t> bootSector);

// The volume label among root-directory entries, as libblkid reads it: the first entry that is
// neither deleted, a long-name part nor a folder and has the volume attribute; 0x05 stands for a
// leading 0xE5; trailing blanks dropped. `ended` is set once the label or the end mark is met.
[[nodiscard]] std::optional<std::string> fatLabelIn(std::span<const std::uint8_t> entries, bool& ended);

// Probes the superblock, and with partitionEntry the partition entry; empty values when the device
// cannot be probed.
[[nodiscard]] ProbeValues probeVolume(const std::string& path, bool partitionEntry);

// Fills fileSystem, label, serial, fullSerial, mediaPresent and supported. A BitLocker volume is
// shown as Windows shows a locked one: no readable file system, never the FAT that its BPB imitates.
void applyProbeValues(VolumeInfo& info, const ProbeValues& values);
[[nodiscard]] PartitionRole partitionRoleFor(const std::string& partEntryType);

}  // namespace tlx::posix
