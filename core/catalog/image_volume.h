#pragma once
// What a disk-image file's first sector says about the volume in it, in the names Windows reports.
#include <cstdint>
#include <span>

#include "catalog/volume_info.h"

namespace tlx {

// Fills fileSystem ("FAT", "FAT32", "exFAT", "NTFS"), label (FAT: the boot sector's own), serial,
// fullSerial (NTFS), mediaPresent and supported. A BitLocker sector reads as a locked volume; an
// unrecognised or short one leaves the record empty.
void describeImageBootSector(VolumeInfo& info, std::span<const std::uint8_t> sector);

}  // namespace tlx
